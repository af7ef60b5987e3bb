// Arbitrary bytes as a scrape's target and as its timeout header: a target
// taken is canonical (its text parses back to itself, lower case, printable,
// a port 1-65535) and every spelling the resolver reads some other way is
// refused; the scrape's budget stays within its bounds whatever the header.
#include "FuzzCheck.h"

#include "frontends/exporter/ScrapeBudget.h"
#include "frontends/exporter/TargetKey.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    TargetKey key;
    if (ParseTargetKey(text, 123, key)) {
        const std::string canonical = key.Text();
        FUZZ_CHECK(key.port >= 1 && !key.host.empty());
        FUZZ_CHECK(key.portGiven || key.port == 123);
        for (const unsigned char c : canonical)
            FUZZ_CHECK(c > 0x20 && c < 0x7F && !(c >= 'A' && c <= 'Z'));
        TargetKey again;
        FUZZ_CHECK(ParseTargetKey(canonical, 4460, again));
        FUZZ_CHECK(again.Text() == canonical && again.ipv6 == key.ipv6);
    }
    const auto budget = ScrapeBudget(text.c_str());
    FUZZ_CHECK(budget.count() > 0 && budget.count() <= 600 * 1000000LL);
    return 0;
}
