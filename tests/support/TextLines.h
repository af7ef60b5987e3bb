#pragma once
#include <string>
#include <vector>

// The lines of a text whose lines end in CR LF; the part after the last
// CR LF is the last line (empty when the text ends in CR LF).
inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}
