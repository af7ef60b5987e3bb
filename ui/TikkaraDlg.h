#pragma once
#include "ntp/NtpMsg.h"
#include "platform/Clock.h"
#include "platform/Net.h"
#include "platform/Window.h"
#include "ui/DialogLayout.h"
#include "ui/TransparentImage.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

// The main dialog: owns all state of a run and implements every operation.
// It reaches the outside only through the window, the sockets and the clock.
// Member definitions live with their subsystem: ui/ (set-up, controls, log),
// query/ (address, transport, summary, clock, query), jitter/ (monitor, CSV).
class CTikkaraDlg {
public:
    CTikkaraDlg(IWindow& window, ISocketLayer& sockets = PosixSockets(),
                IClock& clock = SystemClock());
    virtual ~CTikkaraDlg();
    CTikkaraDlg(const CTikkaraDlg&) = delete;
    CTikkaraDlg& operator=(const CTikkaraDlg&) = delete;

    // Event table, routed by the window layer.
    bool OnInitDialog();
    void OnCommand(int id);
    void OnSize();
    void OnShowWindow();
    // Minimum tracking size of the outer window, in pixels.
    static constexpr int MinTrackWidth = 440;
    static constexpr int MinTrackHeight = 320;

    // Handlers.
    void OnOK();
    void OnCancel();
    void OnGo();
    void OnQuit();
    void OnClearLog();
    void OnSendFromPort123();
    void OnJitterMonitor();

    // Shared operations.
    void EnableControls(bool enable);
    // True once a close waits for the monitor's worker: no new work may start.
    bool IsClosing() const { return m_closeRequested; }
    void RememberServer();
    void AppendLog(std::string text);

    // Server address.
    bool SetServer(const std::string& text);
    // UDP transport.
    bool OpenSocket();
    void CloseSocket();
    bool BindLocalPort(int port);
    int SendRequest(const CNtpMsg& request);
    bool ReceiveReply(CNtpMsg& reply, int timeoutSeconds, bool logErrors);
    // Result summary.
    std::string FormatResultBox(const CNtpMsg& reply) const;
    // System clock.
    void SetClockFromReply(const CNtpMsg& reply, const NtpTimestamp& requestTransmit, bool logErrors);

    // Jitter monitor (worker side) and its CSV file.
    void RunJitterMonitor();
    bool ChooseJitterLogFile(std::string& path);

    // Run state. Plain members, as the subsystems share them.
    std::atomic<int32_t> m_monitorRunning{0};
    std::string m_host;
    int32_t m_port = 123;
    SockAddrIn m_serverAddress;
    SocketHandle m_socket = InvalidSocket;
    int32_t m_receivedBytes = 0;
    // The Transmit Timestamp of the last request sent, as on the wire: its
    // answer carries it back as Originate Timestamp.
    NtpTimestamp m_requestTransmit;
    CDialogLayout m_layout;
    CTransparentImage m_logo;

private:
    bool IsPort123Mode();
    bool FindServer(bool ipv6Literal, SockAddrIn& server);
    // Called on the interface thread once the monitor's worker has ended.
    void OnMonitorThreadEnded();

    IWindow& m_window;
    ISocketLayer& m_sockets;
    IClock& m_clock;
    std::thread m_monitorThread;
    std::atomic<bool> m_closeRequested{false};
};

// Entry of the monitor's worker thread.
unsigned JitterThreadProc(CTikkaraDlg* dialog);
