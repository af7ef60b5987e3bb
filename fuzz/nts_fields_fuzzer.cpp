// Arbitrary bytes as what an NTS server sends: as a key-exchange record
// stream, as NTP extension fields (and each field's body as an NTS
// Authenticator's), and, after a fixed header, as an NTS answer. The parses
// are checked against the bytes themselves: whatever was read encodes back
// to exactly the bytes it came from.
#include "FuzzCheck.h"

#include "ntp/NtpConstants.h"
#include "nts/NtpExtensionFields.h"
#include "nts/NtsKeRecords.h"
#include "nts/NtsPacket.h"

#include <algorithm>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

void CheckRecords(const uint8_t* data, size_t size)
{
    const NtsKeParse parse = ParseNtsKeRecords(data, size);
    FUZZ_CHECK(parse.consumed <= size);
    Bytes again;
    for (size_t i = 0; i < parse.records.size(); ++i) {
        const NtsKeRecord& r = parse.records[i];
        FUZZ_CHECK(r.type < 0x8000);
        // Only the last record may end the message.
        FUZZ_CHECK((r.type == NtsKeType::EndOfMessage) == (parse.endOfMessage && i + 1 == parse.records.size()));
        const Bytes encoded = EncodeNtsKeRecord(r);
        again.insert(again.end(), encoded.begin(), encoded.end());
        NtsKeRecordValue(r);
    }
    FUZZ_CHECK(again.size() == parse.consumed && std::equal(again.begin(), again.end(), data));
    // Without an End of Message the parse stops only where a record is cut short.
    if (!parse.endOfMessage && size - parse.consumed >= 4)
        FUZZ_CHECK(Read16(data + parse.consumed + 2) > size - parse.consumed - 4);
    const NtsKeResponse response = ReadNtsKeResponse(parse.records);
    FUZZ_CHECK(response.cookies.size() + response.errors.size() + response.warnings.size() <=
               parse.records.size());
}

void CheckAuthenticatorBody(const Bytes& body)
{
    NtsAuthenticatorBody out;
    if (!ParseAuthenticatorBody(body, out))
        return;
    FUZZ_CHECK(out.nonce.size() == Read16(body.data()) && out.ciphertext.size() == Read16(body.data() + 2));
    const Bytes encoded = EncodeAuthenticatorBody(out);
    FUZZ_CHECK(encoded.size() <= body.size());
    FUZZ_CHECK(std::equal(encoded.begin(), encoded.begin() + 4 + static_cast<long>(out.nonce.size()), body.begin()));
    const size_t cipherAt = encoded.size() - ((out.ciphertext.size() + 3) & ~size_t{3});
    FUZZ_CHECK(std::equal(out.ciphertext.begin(), out.ciphertext.end(), body.begin() + static_cast<long>(cipherAt)));
}

void CheckFields(const uint8_t* data, size_t size)
{
    const ExtensionFieldParse parse = ParseExtensionFields(data, size, 0);
    Bytes again;
    for (const NtpExtensionField& f : parse.fields) {
        FUZZ_CHECK(f.offset == again.size());
        FUZZ_CHECK(f.body.size() % 4 == 0);
        AppendExtensionField(again, f.type, f.body);
        CheckAuthenticatorBody(f.body);
    }
    FUZZ_CHECK(again.size() <= size && std::equal(again.begin(), again.end(), data));
    FUZZ_CHECK(parse.wellFormed == (again.size() == size));
}

// No input can be a genuine answer: that would take the server's key.
void CheckAnswer(const uint8_t* data, size_t size)
{
    static const NtsKeys keys{AeadAesSivCmac256, Bytes(32, 0x5A), Bytes(32, 0xA5)};
    static const Bytes uniqueId(NtsUniqueIdentifierSize, 0x1D);
    Bytes answer(NtpHeaderSize, 0);
    answer[0] = 0x24;
    answer.insert(answer.end(), data, data + size);
    const NtsAnswer checked = CheckNtsAnswer(answer, uniqueId, keys, SystemCrypto());
    FUZZ_CHECK(checked.kind != NtsAnswerKind::Authenticated && checked.cookies.empty());
    FUZZ_CHECK(!NtsAnswerKindText(checked.kind).empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CheckRecords(data, size);
    CheckFields(data, size);
    CheckAnswer(data, size);
    return 0;
}
