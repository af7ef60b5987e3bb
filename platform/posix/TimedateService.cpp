#include "platform/posix/TimedateService.h"

#include <cstring>
#include <systemd/sd-bus.h>

namespace {
constexpr const char* Service = "org.freedesktop.timedate1";
constexpr const char* Object = "/org/freedesktop/timedate1";
constexpr const char* Interface = "org.freedesktop.timedate1";
// The call waits while the password prompt is up: sd-bus's default of 25 s
// would give up on an operator still typing.
constexpr uint64_t PromptTimeoutUsec = 120ull * 1000000;

std::string ErrorText(const sd_bus_error& error, int result)
{
    if (error.message != nullptr && error.message[0] != '\0')
        return error.message;
    if (error.name != nullptr)
        return error.name;
    return std::strerror(-result);
}
} // namespace

bool SetTimeThroughService(int64_t usecUtc, std::string& reason)
{
    // A connection of its own for each setting: sd-bus connections belong to
    // one thread, and the query and the monitor run on different ones.
    sd_bus* bus = nullptr;
    int result = sd_bus_open_system(&bus);
    if (result < 0) {
        reason = std::strerror(-result);
        return false;
    }
    // Lets the service show the password prompt instead of refusing outright.
    sd_bus_set_allow_interactive_authorization(bus, 1);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* call = nullptr;
    const int relative = 0;
    const int interactive = 1;
    result = sd_bus_message_new_method_call(bus, &call, Service, Object, Interface, "SetTime");
    if (result >= 0)
        result = sd_bus_message_append(call, "xbb", usecUtc, relative, interactive);
    if (result >= 0)
        result = sd_bus_call(bus, call, PromptTimeoutUsec, &error, nullptr);
    if (result < 0)
        reason = ErrorText(error, result);
    sd_bus_message_unref(call);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    return result >= 0;
}
