#pragma once
#include <cstdint>
#include <string>

// Sets the clock to `usecUtc` (microseconds since 1970 UTC) through
// org.freedesktop.timedate1 on the system bus, as the desktop's own date
// settings do: the service asks the desktop's authentication agent whether
// the user may. DBUS_SYSTEM_BUS_ADDRESS, when set, names the bus. False when
// the clock was not set, with the service's error message (or the system's
// error text when the bus cannot be reached) in `reason`.
bool SetTimeThroughService(int64_t usecUtc, std::string& reason);
