#pragma once
#include <cstdint>
#include <string>

// Appends "hh:mm:ss; deviation" with CR LF to the file at `path`, stamped
// with the local time of day of the calendar time `now` (seconds since
// 1970). The file is opened and closed for this one line so other programs
// can read it during a run; failures lose the line silently.
void AppendJitterLine(const std::string& path, int32_t deviation, int64_t now);

// The CSV line for a local time of day and a deviation, CR LF included.
std::string FormatJitterLine(int hour, int minute, int second, int32_t deviation);
