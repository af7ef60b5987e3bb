#pragma once
#include "jitter/JitterPoll.h"
#include "jitter/JitterStats.h"
#include "platform/Clock.h"
#include "platform/Window.h"
#include "query/InterleavedPolls.h"

#include <cstdint>
#include <string>

class CTikkaraDlg;

// The line a run ends with when the server tells it to stop asking.
std::string KissStopLine(const std::string& code);

// One run of the jitter monitor on its worker thread: set-up, polling loop
// and ending. Its state lives only as long as the run.
class CJitterRun {
public:
    // Start to start, until a server's RATE kiss slows the run down.
    static constexpr uint32_t PollIntervalMs = 1000;
    static constexpr uint32_t CheckPauseMs = 10;
    static constexpr int AnswerTimeoutSeconds = 1;
    static constexpr uint32_t RecoveryPauseMs = 1000;

    CJitterRun(CTikkaraDlg& dialog, IWindow& window, IClock& clock);
    void Execute();

private:
    bool IsPort123Mode();
    void PollLoop();
    bool Poll();
    void Record(const NtpExchange& exchange);
    void Kissed(const std::string& code);
    void NoteClockRefusal();
    void Report(JitterPoll poll);
    void Recover();
    int32_t IntervalSeconds() const;
    void ShowStats();
    void AbortStart();
    void End();

    CTikkaraDlg& m_dialog;
    IWindow& m_window;
    IClock& m_clock;
    CJitterStats m_stats;
    CInterleavedPolls m_interleaved;
    uint32_t m_lastPollTick = 0;
    uint32_t m_intervalMs = PollIntervalMs;
    bool m_stoppedByServer = false; // a DENY or RSTR ended the run
    bool m_fileChosen = false;
    std::string m_path;
};
