// Arbitrary bytes as a host an NTS server names: taken only when the whole
// text is an address or a host name of letters, digits, hyphens and dots;
// and shown, whatever it is, as printable ASCII that reads back to the bytes.
#include "FuzzCheck.h"

#include "ntp/PrintableText.h"
#include "query/StrictHost.h"

#include <arpa/inet.h>
#include <string>

namespace {

bool IsAddress(const std::string& text)
{
    unsigned char address[16];
    return inet_pton(AF_INET, text.c_str(), address) == 1 || inet_pton(AF_INET6, text.c_str(), address) == 1;
}

void CheckHost(const std::string& host)
{
    if (!IsStrictHost(host) || IsAddress(host))
        return;
    FUZZ_CHECK(!host.empty() && host.size() <= 253 && host.front() != '.');
    FUZZ_CHECK(host.find("..") == std::string::npos);
    FUZZ_CHECK(host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-.") ==
               std::string::npos);
}

// Every byte back from its shown form: printable ones as themselves, a
// doubled backslash as one, \xHH as that byte.
void CheckShown(const std::string& bytes)
{
    const std::string shown = PrintableText(bytes);
    std::string back;
    for (size_t i = 0; i < shown.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(shown[i]);
        FUZZ_CHECK(c >= 0x20 && c < 0x7F);
        if (c != '\\') {
            back += shown[i];
        } else if (i + 1 < shown.size() && shown[i + 1] == '\\') {
            back += '\\';
            ++i;
        } else {
            FUZZ_CHECK(i + 3 < shown.size() && shown[i + 1] == 'x');
            back += static_cast<char>(std::stoi(shown.substr(i + 2, 2), nullptr, 16));
            i += 3;
        }
    }
    FUZZ_CHECK(back == bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckHost(text);
    CheckShown(text);
    return 0;
}
