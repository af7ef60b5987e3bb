#pragma once
#include <string>

// A one-line description of a time server's state, keyed on the text of its
// reference identifier and, for an all-zero identifier, on its stratum.
std::string GetQuickDescription(const std::string& refIdText, int stratum);
