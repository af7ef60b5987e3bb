#pragma once
#include "ntp/NtpMsg.h"

#include <string>

// A one-line description of a time server's state, keyed on the text of its
// reference identifier and, for an all-zero identifier, on its stratum.
std::string GetQuickDescription(const std::string& refIdText, int stratum);
// The boxed summary of an answer from `host`: online, stratum, reference and
// the quick description.
std::string FormatResultBox(const std::string& host, const CNtpMsg& reply);
