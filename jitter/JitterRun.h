#pragma once
#include "jitter/JitterPoll.h"
#include "jitter/JitterStats.h"
#include "platform/Clock.h"
#include "platform/Window.h"

#include <cstdint>
#include <string>

class CNtpMsg;
class CTikkaraDlg;

// One run of the jitter monitor on its worker thread: set-up, polling loop
// and ending. Its state lives only as long as the run.
class CJitterRun {
public:
    static constexpr uint32_t PollIntervalMs = 1000; // start to start
    static constexpr int32_t ShownIntervalSeconds = 1;
    static constexpr uint32_t CheckPauseMs = 10;
    static constexpr int AnswerTimeoutSeconds = 1;
    static constexpr uint32_t RecoveryPauseMs = 1000;

    CJitterRun(CTikkaraDlg& dialog, IWindow& window, IClock& clock);
    void Execute();

private:
    bool IsPort123Mode();
    void PollLoop();
    bool Poll();
    void Record(const CNtpMsg& answer);
    void Report(JitterPoll poll);
    void Recover();
    void ShowStats();
    void AbortStart();
    void End();

    CTikkaraDlg& m_dialog;
    IWindow& m_window;
    IClock& m_clock;
    CJitterStats m_stats;
    uint32_t m_lastPollTick = 0;
    bool m_fileChosen = false;
    std::string m_path;
};
