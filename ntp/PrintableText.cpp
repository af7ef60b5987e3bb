#include "ntp/PrintableText.h"

#include "ntp/Format.h"

std::string PrintableText(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c == '\\')
            out += "\\\\";
        else if (c >= 0x20 && c < 0x7F)
            out += static_cast<char>(c);
        else
            out += Format("\\x%02x", c);
    }
    return out;
}
