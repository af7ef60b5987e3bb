#pragma once
#include "audit/Audit.h"
#include "jitter/JitterChart.h"
#include "jitter/JitterPoll.h"
#include "ntp/NtpMsg.h"
#include "nts/NtsCheck.h"
#include "nts/NtsVerdict.h"
#include "platform/Clock.h"
#include "platform/Crypto.h"
#include "platform/Tls.h"
#include "platform/Net.h"
#include "platform/Window.h"
#include "query/Exchange.h"
#include "survey/Survey.h"
#include "ui/DialogLayout.h"
#include "ui/TransparentImage.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// The main dialog: owns all state of a run and implements every operation.
// It reaches the outside only through the window, the sockets and the clock.
// Member definitions live with their subsystem: ui/ (set-up, controls, log),
// query/ (address, transport, summary, clock, query), jitter/ (monitor, CSV).
class CInterleavedPolls;
class CTikkaraDlg {
public:
    CTikkaraDlg(IWindow& window, ISocketLayer& sockets = PosixSockets(), IClock& clock = SystemClock(),
                ITlsConnector& tls = SystemTls(), ICrypto& crypto = SystemCrypto());
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
    void OnSurvey();
    void OnAudit();

    // Shared operations.
    void EnableControls(bool enable);
    // True once a close waits for the monitor's worker: no new work may start.
    bool IsClosing() const { return m_closeRequested; }
    void RememberServer();
    void AppendLog(std::string text);
    // The parts every query shares: its start, its first line, its end.
    void BeginQuery();
    void LogQueryingHost(const char* how, int32_t defaultPort);
    void ShowLogFromTop();

    // Server address; a text without a port names `defaultPort`.
    bool SetServer(const std::string& text, int32_t defaultPort = NtpPort);
    // UDP transport.
    bool OpenSocket();
    void CloseSocket();
    bool BindLocalPort(int port);
    int SendRequest(const CNtpMsg& request);
    bool ReceiveReply(CNtpMsg& reply, int timeoutSeconds, bool logErrors);
    // Result summary.
    std::string FormatResultBox(const CNtpMsg& reply) const;
    // System clock.
    void SetClockFromReply(const NtpExchange& answer, bool logErrors);
    // The NTS check behind "&Go" while "Secure (&NTS)" is checked.
    void OnNtsQuery();
    // Certificate files trusted by the NTS check besides the system's store.
    void SetNtsCaFiles(std::vector<std::string> files) { m_ntsCaFiles = std::move(files); }
    const NtsCheck& LastNtsCheck() const { return m_ntsCheck; }
    const NtsVerdict& LastNtsVerdict() const { return m_ntsVerdict; }

    // What the last query or poll found, for the front ends: the exchange,
    // whether the clock was to be set and was, and the last bind failure.
    const NtpExchange& LastExchange() const { return m_exchange; }
    // A monitor run's interleaved polls settle the poll just made.
    void SettleInterleaved(CInterleavedPolls& polls);
    struct ClockSetting {
        bool asked = false;
        bool set = false;
        std::string reason; // why not, when asked and not set
    };
    const ClockSetting& LastClockSetting() const { return m_clockSetting; }
    int LastBindError() const { return m_bindError; }
    CExchangeEngine& Engine() { return m_engine; }

    // Jitter monitor (worker side) and its CSV file.
    void RunJitterMonitor();
    bool ChooseJitterLogFile(std::string& path);
    // Told about every poll of a monitor run, on the worker's thread, once
    // the poll is counted; set before the run starts.
    void SetPollObserver(JitterPollObserver observer) { m_pollObserver = std::move(observer); }
    const JitterPollObserver& PollObserver() const { return m_pollObserver; }
    // The monitor's chart over the log pane: every poll of a run goes into
    // it; it stays after the run until the next query, run or "&Clear Log".
    void ChartPoll(const JitterPoll& poll);
    void ClearJitterChart();

    // Survey of every address of the server box's name (worker side), and
    // what the last one found.
    void RunSurveyWorker();
    const SurveyResult& LastSurvey() const { return m_survey; }
    // Audit of every address of the server box's name (worker side), and
    // what the last one found.
    void RunAuditWorker();
    const AuditReport& LastAudit() const { return m_audit; }

    // Run state. Plain members, as the subsystems share them.
    std::atomic<int32_t> m_monitorRunning{0};
    std::atomic<int32_t> m_surveyRunning{0}; // cleared to ask the survey to stop
    std::atomic<int32_t> m_auditRunning{0};
    // Set by a monitor run whose clock setting was refused (the operator
    // cancelled the prompt, or may not): the rest of the run does not ask.
    bool m_clockRefusedThisRun = false;
    std::string m_host;
    int32_t m_port = 123;
    SockAddrIn m_serverAddress;
    SocketHandle m_socket = InvalidSocket;
    int32_t m_receivedBytes = 0;
    CDialogLayout m_layout;
    CTransparentImage m_logo;

private:
    bool IsPort123Mode();
    // The request variants and the answer size, as the hidden boxes say now.
    ExchangeOptions CurrentOptions(int timeoutSeconds);
    bool AnyWorker() const;
    void StartWorker(std::atomic<int32_t>& running, std::thread& worker, std::function<void()> work);
    void BackToIdle(std::atomic<int32_t>& running);
    // A worker's last touch of the dialog: idle again, and its thread joined
    // on the interface thread.
    void EndWorker(std::atomic<int32_t>& running, std::thread& worker);
    // Called on the interface thread once a worker has ended.
    void OnWorkerEnded(std::thread& worker);
    void SetClockFromNts();

    IWindow& m_window;
    IClock& m_clock;
    CExchangeEngine m_engine;
    NtpExchange m_exchange;
    ClockSetting m_clockSetting;
    ITlsConnector& m_tls;
    ICrypto& m_crypto;
    std::vector<std::string> m_ntsCaFiles;
    NtsCheck m_ntsCheck;
    NtsVerdict m_ntsVerdict;
    int m_bindError = 0;
    JitterPollObserver m_pollObserver;
    CJitterChart m_jitterChart;
    std::thread m_monitorThread;
    std::thread m_surveyThread;
    SurveyResult m_survey;
    std::thread m_auditThread;
    AuditReport m_audit;
    std::atomic<bool> m_closeRequested{false};
};

// Entry of the monitor's worker thread.
unsigned JitterThreadProc(CTikkaraDlg* dialog);
