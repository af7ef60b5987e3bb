#pragma once
#include <cstdio>
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

// The window's text on standard output, LF lines, ending in a line feed.
inline void PrintLines(const std::string& text)
{
    const std::string lines = ToLfLines(text);
    std::fputs(lines.c_str(), stdout);
    if (!lines.empty() && lines.back() != '\n')
        std::fputc('\n', stdout);
}
