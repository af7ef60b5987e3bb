#pragma once
#include <string>

// printf-style formatting into an 8-bit string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
