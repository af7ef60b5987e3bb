#pragma once
#include <string>
#include <vector>

// The lines of a text whose lines end in `lineEnd` (CR LF unless given); the
// part after the last line end is the last line (empty when the text ends
// in one).
inline std::vector<std::string> Lines(const std::string& text, const std::string& lineEnd = "\r\n")
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(lineEnd, start)) != std::string::npos; start = end + lineEnd.size())
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

// The inner text of a box drawn with '|' sides, its lines joined by blanks,
// so that a note folded over several lines reads as one.
inline std::string Unwrapped(const std::string& box)
{
    std::string text;
    for (std::string line : Lines(box, "\n")) {
        if (line.size() < 2)
            continue;
        line = line.substr(1, line.find_last_not_of(" |\r"));
        if (const size_t start = line.find_first_not_of(' '); start != std::string::npos)
            text += line.substr(start) + " ";
    }
    return text;
}
