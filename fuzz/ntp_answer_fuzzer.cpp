// Arbitrary bytes as a server's answer: decoded, rendered as the packet box
// and the result box, and encoded again. The first 48 bytes are the header
// (zero-filled when the input is shorter, as the transport only ever decodes
// a full header); the rest is the host text of the result box and a free
// reference text for the quick description.
#include "FuzzCheck.h"
#include "NullWindow.h"

#include "ntp/Format.h"
#include "ntp/NtpMsg.h"
#include "query/ResultSummary.h"
#include "support/TextLines.h"
#include "ui/TikkaraDlg.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

const char* const Descriptions[] = {
    "No telegram received since startup.",   "Telegram available, but no valid time.",
    "NTP Server is running and synced.",     "NTP Server is running, but not synced.",
    "NTP Server running, but invalid time.", "No telegram received since > 1 hour.",
    "No telegram received since > 5 sec",    "No telegram received since > 10 min",
    "No telegram received since > 20 min",   "No telegram received since > 30 min",
    "No telegram received since > 40 min",   "No telegram received since > 50 min",
    " no description available",             "no description available",
};

bool IsKnownDescription(const std::string& text)
{
    for (const char* known : Descriptions)
        if (text == known)
            return true;
    return false;
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void CheckRefIdText(const CNtpMsg& msg, const std::string& refId)
{
    const uint8_t* id = msg.m_refId;
    if (msg.m_stratum >= 2 && msg.m_stratum <= 15) {
        FUZZ_CHECK(refId == Format("%u.%u.%u.%u", id[0], id[1], id[2], id[3]));
        return;
    }
    bool printable = true;
    for (int i = 0; i < 4; ++i)
        printable = printable && (id[i] == 0 || (id[i] >= 0x20 && id[i] <= 0x7E));
    if (printable)
        FUZZ_CHECK(refId.size() == 4); // the characters up to the first zero, blank-filled
    else
        FUZZ_CHECK(refId == Format("%u %u %u %u", id[0], id[1], id[2], id[3]));
    for (char c : refId)
        FUZZ_CHECK(c >= 0x20 && c <= 0x7E);
}

// A box line up to its closing bar: blank-filled to 49 columns, never cut.
std::string Filled(std::string line)
{
    if (line.size() < 49)
        line.append(49 - line.size(), ' ');
    return line;
}

// Root delay and dispersion straight from the wire: unsigned 16.16.
std::string FixedText(const uint8_t* p)
{
    const uint32_t raw = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    return Format("%.2f", raw / 65536.0);
}

void CheckPacketBox(const CNtpMsg& msg, const uint8_t* header)
{
    const std::string box = msg.GetPacketContent();
    const std::vector<std::string> lines = Lines(box);
    FUZZ_CHECK(lines.size() == 17);
    FUZZ_CHECK(lines[0] == "+--Packet Content--------------------------------+");
    FUZZ_CHECK(lines[1] == "|" + std::string(48, ' ') + "|");
    FUZZ_CHECK(lines[15] == lines[1]);
    FUZZ_CHECK(lines[16] == "+------------------------------------------------+");
    // Every field is padded to 25 and never cut: no line is narrower than
    // the frame, and only a value too long for its field widens its line.
    for (size_t i = 2; i < 15; ++i) {
        FUZZ_CHECK(lines[i].size() >= 50);
        FUZZ_CHECK(lines[i].front() == '|' && lines[i].back() == '|');
    }
    FUZZ_CHECK(lines[3] == Format("| Version:              %-2i                       |", msg.m_version));
    // Powers of two computed another way; a long value is never cut.
    FUZZ_CHECK(lines[6] == Filled(Format("| Poll Interval:        %i (%.2f s)", msg.m_poll,
                                           std::ldexp(1.0, msg.m_poll))) + "|");
    FUZZ_CHECK(lines[7] == Filled(Format("| Precision:            %i (%.3f ms)", msg.m_precision,
                                           std::ldexp(1.0, msg.m_precision) * 1000.0)) + "|");
    FUZZ_CHECK(lines[8] == Filled("| Root Delay:           " + FixedText(header + 4)) + "|");
    FUZZ_CHECK(lines[9] == Filled("| Root Dispersion:      " + FixedText(header + 8)) + "|");
    FUZZ_CHECK(StartsWith(lines[10], "| Reference Identifier: " + msg.GetRefIdText()));
    // Poll values up to 49 and every other field fit in their 25 columns.
    if (msg.m_poll < 50)
        FUZZ_CHECK(lines[6].size() == 50);
    for (size_t i : {2u, 4u, 5u, 8u, 9u, 10u, 11u, 12u, 13u, 14u})
        FUZZ_CHECK(lines[i].size() == 50);
}

void CheckResultBox(const CTikkaraDlg& dialog, const CNtpMsg& msg)
{
    const std::string box = dialog.FormatResultBox(msg);
    // The host goes through "%s": it ends at its first zero character.
    const std::string host = dialog.m_host.c_str();
    FUZZ_CHECK(StartsWith(box, "+--Result--------------------------------+\r\n|" + std::string(40, ' ') +
                                   "|\r\n| " + host + " is online"));
    FUZZ_CHECK(EndsWith(box, "|\r\n+----------------------------------------+\r\n"));
    FUZZ_CHECK(box.find("\r\n| at Stratum   " + std::to_string(msg.m_stratum)) != std::string::npos);
    FUZZ_CHECK(box.find("\r\n| Reference is " + msg.GetRefIdText()) != std::string::npos);
    // A host without line breaks that fits leaves every line 42 wide.
    if (host.size() <= 28 && host.find_first_of("\r\n") == std::string::npos) {
        const std::vector<std::string> lines = Lines(box);
        FUZZ_CHECK(lines.size() == 11 && lines[10].empty());
        for (size_t i = 0; i < 10; ++i)
            FUZZ_CHECK(lines[i].size() == 42);
    }
}

// Encoding what was decoded gives the same header back, except the noise
// byte that ends every timestamp.
void CheckReencoding(const CNtpMsg& msg, const uint8_t* header)
{
    uint8_t again[NtpAuthRequestSize];
    std::memset(again, 0xA5, sizeof again);
    msg.Encode(again, true);
    FUZZ_CHECK(std::memcmp(again, header, 16) == 0);
    for (int offset = 16; offset < 48; offset += 8)
        FUZZ_CHECK(std::memcmp(again + offset, header + offset, 7) == 0);
    for (int i = 48; i < NtpAuthRequestSize; ++i)
        FUZZ_CHECK(again[i] == 0);
}

CNullWindow& Window()
{
    static CNullWindow window;
    return window;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The local zone is read for every timestamp; a fixed UTC keeps that cheap.
    setenv("TZ", "UTC0", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint8_t header[NtpHeaderSize] = {};
    std::memcpy(header, data, size < sizeof header ? size : sizeof header);
    const std::string tail = size > sizeof header
        ? std::string(reinterpret_cast<const char*>(data) + sizeof header, size - sizeof header)
        : std::string();

    CNtpMsg msg;
    msg.Decode(header);
    FUZZ_CHECK(msg.m_leap <= 3 && msg.m_version <= 7 && msg.m_mode <= 7);
    FUZZ_CHECK(msg.m_rootDelay >= 0.0 && msg.m_rootDelay < 65536.0);
    FUZZ_CHECK(msg.m_rootDispersion >= 0.0 && msg.m_rootDispersion < 65536.0);

    const std::string refId = msg.GetRefIdText();
    CheckRefIdText(msg, refId);
    CheckPacketBox(msg, header);
    CheckReencoding(msg, header);

    CTikkaraDlg dialog(Window());
    dialog.m_host = tail;
    CheckResultBox(dialog, msg);

    FUZZ_CHECK(IsKnownDescription(GetQuickDescription(refId, msg.m_stratum)));
    FUZZ_CHECK(IsKnownDescription(GetQuickDescription(tail, msg.m_stratum)));
    return 0;
}
