#pragma once
// A system bus of the test's own: a dbus-daemon on a socket in a temporary
// directory, which DBUS_SYSTEM_BUS_ADDRESS of this process points at while
// the object lives, and optionally python3-dbusmock's timedated template on
// it standing in for the desktop's time service. The machine's own bus and
// clock are never touched.
#include "support/ChildProcess.h"

#include <memory>
#include <string>
#include <vector>

class CPrivateSystemBus {
public:
    CPrivateSystemBus();
    ~CPrivateSystemBus();
    CPrivateSystemBus(const CPrivateSystemBus&) = delete;
    CPrivateSystemBus& operator=(const CPrivateSystemBus&) = delete;

    bool IsRunning() const { return m_running; }
    // Starts the mock time service and waits until it owns its name.
    bool StartTimedated();
    // Gives the mock's SetTime this Python body (dbusmock's AddMethod).
    bool ReplaceSetTime(const std::string& code);
    // The calls of `method` the mock has logged, e.g.
    // "SetTime 1704067200500000 False True".
    std::vector<std::string> Calls(const std::string& method) const;

private:
    // Starts `args` with its output in a folder `name` of the bus's own.
    std::unique_ptr<CChildProcess> Start(const std::string& name, const std::vector<std::string>& args) const;

    std::string m_dir;
    bool m_running = false;
    std::unique_ptr<CChildProcess> m_daemon;
    std::unique_ptr<CChildProcess> m_mock;
};
