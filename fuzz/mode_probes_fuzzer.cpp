// Arbitrary bytes as a server's answers to the audit's control queries:
// read as mode 6 READVAR fragments (the first two bytes choose the
// sequence) and as a mode 7 answer. What is kept stays within its bounds,
// and every variable shown is printable ASCII of bounded length.
#include "FuzzCheck.h"

#include "audit/ModeProbes.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint16_t sequence = static_cast<uint16_t>(data[0] << 8 | data[1]);
    ModeProbe probe;
    // The rest, as fragments of up to 600 bytes, each one read.
    for (size_t at = 2; at < size; at += 600) {
        const size_t length = size - at < 600 ? size - at : 600;
        TakeMode6Answer(data + at, length, sequence, probe);
        TakeMode7Answer(data + at, length, probe);
    }
    FUZZ_CHECK(probe.payload.size() <= MaxMode6Payload);
    FUZZ_CHECK(probe.bytesIn <= static_cast<int>(2 * size));
    for (const auto& [name, value] : LeakedVariables(probe.payload)) {
        FUZZ_CHECK(value.size() <= 4 * MaxLeakedValue);
        for (char c : value)
            FUZZ_CHECK(c >= 0x20 && c < 0x7F);
    }
    return 0;
}
