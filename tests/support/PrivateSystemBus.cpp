#include "support/PrivateSystemBus.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <thread>

namespace {
constexpr const char* TimedateName = "org.freedesktop.timedate1";

// Everyone may own, send and receive: the bus exists for one test only.
std::string BusConfig(const std::string& socketPath)
{
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>system</type><listen>unix:path=" + socketPath + "</listen>\n"
           "<auth>EXTERNAL</auth><policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>\n"
           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow receive_sender=\"*\"/></policy>\n"
           "</busconfig>\n";
}

bool NameHasOwner(const char* name)
{
    sd_bus* bus = nullptr;
    sd_bus_message* reply = nullptr;
    int owned = 0;
    if (sd_bus_open_system(&bus) >= 0 &&
        sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", nullptr, &reply, "s", name) >= 0)
        sd_bus_message_read(reply, "b", &owned);
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return owned != 0;
}

template <typename Ready>
bool WaitUntil(Ready ready)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void Stop(std::unique_ptr<CChildProcess>& child)
{
    if (!child)
        return;
    child->Signal(SIGTERM);
    child->Wait();
    child.reset();
}
} // namespace

CPrivateSystemBus::CPrivateSystemBus()
{
    char pattern[] = "/tmp/horolab_bus_XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        return;
    m_dir = pattern;
    const std::string socketPath = m_dir + "/system_bus_socket";
    std::ofstream(m_dir + "/bus.conf") << BusConfig(socketPath);
    m_daemon = Start("daemon", {"/usr/bin/dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + m_dir + "/bus.conf"});
    if (!WaitUntil([&] { return std::filesystem::exists(socketPath); }))
        return;
    // Open to every user, so that the test can also run as another one.
    ::chmod(m_dir.c_str(), 0755);
    ::chmod(socketPath.c_str(), 0666);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + socketPath).c_str(), 1);
    // The bus answers for its own name once it is ready.
    m_running = WaitUntil([] { return NameHasOwner("org.freedesktop.DBus"); });
}

CPrivateSystemBus::~CPrivateSystemBus()
{
    Stop(m_mock);
    Stop(m_daemon);
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (!m_dir.empty())
        std::filesystem::remove_all(m_dir);
}

std::unique_ptr<CChildProcess> CPrivateSystemBus::Start(const std::string& name,
                                                        const std::vector<std::string>& args) const
{
    std::filesystem::create_directory(m_dir + "/" + name);
    return std::make_unique<CChildProcess>(args, m_dir + "/" + name);
}

bool CPrivateSystemBus::StartTimedated()
{
    // The system's Python, where python3-dbusmock lives, whatever the PATH offers first.
    m_mock = Start("mock", {"/usr/bin/python3", "-m", "dbusmock", "--template", "timedated", "-l", m_dir + "/calls.txt"});
    return m_running && WaitUntil([] { return NameHasOwner(TimedateName); });
}

bool CPrivateSystemBus::ReplaceSetTime(const std::string& code)
{
    sd_bus* bus = nullptr;
    const bool replaced = sd_bus_open_system(&bus) >= 0 &&
                          sd_bus_call_method(bus, TimedateName, "/org/freedesktop/timedate1",
                                             "org.freedesktop.DBus.Mock", "AddMethod", nullptr, nullptr, "sssss",
                                             "", "SetTime", "xbb", "", code.c_str()) >= 0;
    sd_bus_flush_close_unref(bus);
    return replaced;
}

std::vector<std::string> CPrivateSystemBus::Calls(const std::string& method) const
{
    std::vector<std::string> calls;
    std::ifstream log(m_dir + "/calls.txt");
    for (std::string line; std::getline(log, line);) {
        // "<time> <method> <arguments>", or "<time> <method> raised: <error>".
        const std::string call = line.substr(std::min(line.find(' '), line.size() - 1) + 1);
        if (call.rfind(method + " ", 0) == 0 && call.rfind(method + " raised:", 0) != 0)
            calls.push_back(call);
    }
    return calls;
}
