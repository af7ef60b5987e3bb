#include "nts/NtsKeRecords.h"

#include "ntp/Format.h"

namespace {

constexpr size_t HeaderSize = 4;
constexpr uint16_t CriticalBit = 0x8000;

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

void Append16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

std::vector<uint16_t> Words(const std::vector<uint8_t>& body)
{
    std::vector<uint16_t> words;
    for (size_t i = 0; i + 1 < body.size(); i += 2)
        words.push_back(Read16(&body[i]));
    return words;
}

std::string Joined(const std::vector<uint16_t>& values, std::string (*name)(uint16_t))
{
    std::string text;
    for (uint16_t v : values)
        text += (text.empty() ? "" : ", ") + name(v);
    return text.empty() ? "none" : text;
}

// The protocol fixes the critical bit of some records and the size of others.
void CheckShape(const NtsKeRecord& r, std::vector<std::string>& faults)
{
    const std::string name = NtsKeRecordName(r.type);
    const bool mustBeCritical = r.type == NtsKeType::EndOfMessage || r.type == NtsKeType::NextProtocol ||
                                r.type == NtsKeType::Error || r.type == NtsKeType::Warning;
    if (mustBeCritical && !r.critical)
        faults.push_back(name + " without its critical bit");
    if (r.type == NtsKeType::NewCookie && r.critical)
        faults.push_back("New Cookie with the critical bit");
    const bool wordList = r.type == NtsKeType::NextProtocol || r.type == NtsKeType::AeadAlgorithm;
    const bool oneWord = r.type == NtsKeType::Error || r.type == NtsKeType::Warning || r.type == NtsKeType::NtpPort;
    if ((wordList && r.body.size() % 2 != 0) || (oneWord && r.body.size() != 2) ||
        (r.type == NtsKeType::EndOfMessage && !r.body.empty()) || (r.type == NtsKeType::NewCookie && r.body.empty()))
        faults.push_back(Format("%s with a body of %zu bytes", name.c_str(), r.body.size()));
}

} // namespace

std::vector<uint8_t> EncodeNtsKeRecord(const NtsKeRecord& record)
{
    std::vector<uint8_t> out;
    Append16(out, static_cast<uint16_t>((record.critical ? CriticalBit : 0) | (record.type & ~CriticalBit)));
    Append16(out, static_cast<uint16_t>(record.body.size()));
    out.insert(out.end(), record.body.begin(), record.body.end());
    return out;
}

std::vector<uint8_t> NtsKeClientRequest(const std::vector<uint16_t>& aeadAlgorithms)
{
    std::vector<uint8_t> aead;
    for (uint16_t id : aeadAlgorithms)
        Append16(aead, id);
    std::vector<uint8_t> out = EncodeNtsKeRecord({true, NtsKeType::NextProtocol, {0, NtsProtocolNtpV4}});
    for (const NtsKeRecord& r : {NtsKeRecord{true, NtsKeType::AeadAlgorithm, aead},
                                 NtsKeRecord{true, NtsKeType::EndOfMessage, {}}}) {
        const std::vector<uint8_t> bytes = EncodeNtsKeRecord(r);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

NtsKeParse ParseNtsKeRecords(const uint8_t* bytes, size_t size)
{
    NtsKeParse parse;
    while (!parse.endOfMessage && size - parse.consumed >= HeaderSize) {
        const uint8_t* p = bytes + parse.consumed;
        const size_t length = Read16(p + 2);
        if (size - parse.consumed - HeaderSize < length)
            break; // the rest of the record has not arrived
        NtsKeRecord record;
        record.critical = (p[0] & 0x80) != 0;
        record.type = Read16(p) & ~CriticalBit;
        record.body.assign(p + HeaderSize, p + HeaderSize + length);
        parse.endOfMessage = record.type == NtsKeType::EndOfMessage;
        parse.records.push_back(std::move(record));
        parse.consumed += HeaderSize + length;
    }
    return parse;
}

NtsKeResponse ReadNtsKeResponse(const std::vector<NtsKeRecord>& records)
{
    NtsKeResponse response;
    int nextProtocolRecords = 0, aeadRecords = 0;
    for (const NtsKeRecord& r : records) {
        CheckShape(r, response.faults);
        switch (r.type) {
        case NtsKeType::EndOfMessage: break;
        case NtsKeType::NextProtocol:
            ++nextProtocolRecords;
            response.nextProtocols = Words(r.body);
            break;
        case NtsKeType::Error:
            if (r.body.size() >= 2)
                response.errors.push_back(Read16(r.body.data()));
            break;
        case NtsKeType::Warning:
            if (r.body.size() >= 2)
                response.warnings.push_back(Read16(r.body.data()));
            break;
        case NtsKeType::AeadAlgorithm:
            ++aeadRecords;
            response.aeadAlgorithms = Words(r.body);
            break;
        case NtsKeType::NewCookie:
            if (!r.body.empty())
                response.cookies.push_back(r.body);
            break;
        case NtsKeType::NtpServer: response.ntpServer.assign(r.body.begin(), r.body.end()); break;
        case NtsKeType::NtpPort:
            if (r.body.size() == 2)
                response.ntpPort = Read16(r.body.data());
            break;
        default:
            if (r.critical)
                response.unknownCritical.push_back(r.type);
        }
    }
    if (nextProtocolRecords > 1 || response.nextProtocols.size() > 1)
        response.faults.push_back("more than one next protocol chosen");
    if (aeadRecords > 1 || response.aeadAlgorithms.size() > 1)
        response.faults.push_back("more than one AEAD algorithm chosen");
    return response;
}

std::string NtsKeRecordName(uint16_t type)
{
    static const char* const names[] = {"End of Message", "Next Protocol", "Error",       "Warning",
                                        "AEAD Algorithm", "New Cookie",    "NTPv4 Server", "NTPv4 Port"};
    return type < std::size(names) ? names[type] : Format("Record type %u", type);
}

std::string NtsProtocolName(uint16_t protocol)
{
    return protocol == NtsProtocolNtpV4 ? "NTPv4 (0)" : Format("protocol %u", protocol);
}

std::string AeadAlgorithmName(uint16_t aead)
{
    struct Entry {
        uint16_t id;
        const char* name;
    };
    static const Entry names[] = {{1, "AEAD_AES_128_GCM"},       {2, "AEAD_AES_256_GCM"},
                                  {15, "AEAD_AES_SIV_CMAC_256"}, {16, "AEAD_AES_SIV_CMAC_384"},
                                  {17, "AEAD_AES_SIV_CMAC_512"}, {30, "AEAD_AES_128_GCM_SIV"},
                                  {31, "AEAD_AES_256_GCM_SIV"}};
    for (const Entry& e : names)
        if (e.id == aead)
            return Format("%s (%u)", e.name, aead);
    return Format("AEAD algorithm %u", aead);
}

std::string NtsKeErrorName(uint16_t code)
{
    static const char* const names[] = {"Unrecognized Critical Record", "Bad Request", "Internal Server Error"};
    return code < std::size(names) ? Format("%u (%s)", code, names[code]) : Format("%u", code);
}

std::string NtsKeRecordValue(const NtsKeRecord& r)
{
    switch (r.type) {
    case NtsKeType::EndOfMessage: return "";
    case NtsKeType::NextProtocol: return Joined(Words(r.body), NtsProtocolName);
    case NtsKeType::AeadAlgorithm: return Joined(Words(r.body), AeadAlgorithmName);
    case NtsKeType::Error: return r.body.size() == 2 ? "code " + NtsKeErrorName(Read16(r.body.data())) : "malformed";
    case NtsKeType::Warning: return r.body.size() == 2 ? Format("code %u", Read16(r.body.data())) : "malformed";
    case NtsKeType::NtpServer: return std::string(r.body.begin(), r.body.end());
    case NtsKeType::NtpPort: return r.body.size() == 2 ? Format("%u", Read16(r.body.data())) : "malformed";
    default: return Format("%zu bytes", r.body.size());
    }
}
