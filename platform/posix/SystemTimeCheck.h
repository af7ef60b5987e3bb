#pragma once
#include "platform/Clock.h"

// Whether the clock can be set from `utc`: a real date from 1970 on, hour,
// minute and second in range, milliseconds below 1000. The day of the week is
// not looked at.
bool IsValidSystemTime(const SystemTime& utc);
