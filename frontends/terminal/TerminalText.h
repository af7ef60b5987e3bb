#pragma once
#include <string>

// The window's CR LF line ends as a terminal's LF.
inline std::string ToLfLines(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t n = 0; n < text.size(); ++n)
        if (!(text[n] == '\r' && n + 1 < text.size() && text[n + 1] == '\n'))
            out += text[n];
    return out;
}
