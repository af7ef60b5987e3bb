#include "jitter/JitterRun.h"

#include "jitter/JitterLogFile.h"
#include "ntp/Format.h"
#include "ntp/NtpMsg.h"
#include "query/KissCode.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

std::string KissStopLine(const std::string& code)
{
    return Format("--Server sent kiss code %s (%s): monitor stopped.", code.c_str(),
                  KissCodeMeaning(code).c_str());
}

CJitterRun::CJitterRun(CTikkaraDlg& dialog, IWindow& window, IClock& clock)
    : m_dialog(dialog), m_window(window), m_clock(clock)
{
}

bool CJitterRun::IsPort123Mode()
{
    // Read at every use: a failed bind during a recovery unchecks the box.
    return m_window.IsChecked(IDC_PORT123);
}

void CJitterRun::Execute()
{
    m_window.SetText(IDC_LOG, "Jitter Monitor");
    m_dialog.ClearJitterChart();
    m_fileChosen = m_dialog.ChooseJitterLogFile(m_path);
    // In port-123 mode the check box keeps the bound socket open.
    if (!IsPort123Mode() && !m_dialog.OpenSocket()) {
        AbortStart();
        return;
    }
    // SetServer has told the operator why when it fails.
    if (m_dialog.SetServer("")) {
        m_stats = CJitterStats{};
        m_interleaved = CInterleavedPolls{};
        m_dialog.m_clockRefusedThisRun = false;
        m_lastPollTick = 0;
        m_intervalMs = PollIntervalMs;
        m_stoppedByServer = false;
        PollLoop();
    }
    End();
}

void CJitterRun::PollLoop()
{
    while (m_dialog.m_monitorRunning != 0 && !m_stoppedByServer) {
        // Unsigned difference: still the elapsed time across the 2^32 wrap.
        if (m_clock.GetTickCount() - m_lastPollTick < m_intervalMs) {
            m_clock.Sleep(CheckPauseMs);
            continue;
        }
        if (Poll())
            m_clock.Sleep(CheckPauseMs);
    }
}

// One poll. False after a failed send: the recovery pauses have used up
// the interval, so the next poll starts at once.
bool CJitterRun::Poll()
{
    ShowStats();
    m_lastPollTick = m_clock.GetTickCount();
    ++m_stats.total;
    // Stamped with the current time; the SNTP option is not applied.
    CNtpMsg message = m_dialog.Engine().NewRequest(false);
    // An interleaved answer carries the transmit time of the answer before:
    // no time to set the clock to.
    if (!m_window.IsChecked(IDC_SET_TIME))
        m_interleaved.Prepare(message);
    if (m_dialog.SendRequest(message) == -1) {
        ++m_stats.bad;
        Report(JitterPoll{});
        Recover();
        return false;
    }
    if (m_dialog.ReceiveReply(message, AnswerTimeoutSeconds, true)) {
        m_dialog.SettleInterleaved(m_interleaved);
        NoteClockRefusal();
        const std::string kiss = KissCode(m_dialog.LastExchange());
        if (kiss.empty())
            Record(m_dialog.LastExchange());
        else
            Kissed(kiss);
    } else {
        ++m_stats.bad;
        Report(JitterPoll{});
    }
    return true;
}

void CJitterRun::Record(const NtpExchange& exchange)
{
    const WallTime now = m_clock.Now();
    ExchangeTimes t = MeasuredTimes(exchange);
    // A clock ReceiveReply has just set from the answer is measured as it
    // stands now.
    if (m_window.IsChecked(IDC_SET_TIME))
        t.t4 = NtpMillisecondTime(now.seconds, now.nanoseconds);
    const int32_t deviation = JitterDeviation(t.t1, t.t2, t.t3, t.t4);
    m_stats.Update(deviation);
    if (m_fileChosen)
        AppendJitterLine(m_path, deviation, now.seconds);
    ++m_stats.good;
    JitterPoll poll;
    poll.good = true;
    poll.deviation = deviation;
    Report(std::move(poll));
}

// A sound answer the clock refused to be set from: asking again at every
// poll would bring the prompt the operator has just cancelled back.
void CJitterRun::NoteClockRefusal()
{
    const CTikkaraDlg::ClockSetting& setting = m_dialog.LastClockSetting();
    if (!m_window.IsChecked(IDC_SET_TIME) || m_dialog.m_clockRefusedThisRun || !setting.asked || setting.set ||
        !UntrustedReason(m_dialog.LastExchange()).empty())
        return;
    m_dialog.m_clockRefusedThisRun = true;
    m_dialog.AppendLog("--System time is not set again while the monitor runs.");
}

// A kiss carries no time: a bad poll, never a deviation. RATE stretches the
// interval, DENY and RSTR end the run after this poll.
void CJitterRun::Kissed(const std::string& code)
{
    ++m_stats.bad;
    switch (ReactionToKiss(code)) {
    case KissReaction::SlowDown: m_intervalMs = SlowedDownIntervalMs(m_intervalMs); break;
    case KissReaction::Stop:
        m_stoppedByServer = true;
        m_dialog.AppendLog(KissStopLine(code));
        break;
    case KissReaction::None: break;
    }
    JitterPoll poll;
    poll.kissCode = code;
    Report(std::move(poll));
}

// Charts the poll just counted and tells the front end about it.
void CJitterRun::Report(JitterPoll poll)
{
    poll.startTick = m_lastPollTick;
    poll.intervalSeconds = IntervalSeconds();
    m_dialog.ChartPoll(poll);
    if (!m_dialog.PollObserver())
        return;
    poll.exchange = m_dialog.LastExchange();
    poll.stats = m_stats;
    m_dialog.PollObserver()(poll);
}

void CJitterRun::Recover()
{
    m_dialog.CloseSocket();
    m_clock.Sleep(RecoveryPauseMs);
    if (!m_dialog.OpenSocket()) {
        m_dialog.AppendLog("Socket Error. Could not re-open socket.");
        m_clock.Sleep(RecoveryPauseMs);
    }
    if (IsPort123Mode())
        m_dialog.BindLocalPort(NtpPort);
    m_dialog.SetServer(""); // a failure shows in the next send
}

// The interval in force, as the statistics show it.
int32_t CJitterRun::IntervalSeconds() const { return static_cast<int32_t>(m_intervalMs / 1000); }

void CJitterRun::ShowStats()
{
    m_window.SetText(IDC_LOG, FormatJitterStats(IntervalSeconds(), m_stats.good, m_stats.bad,
                                                m_stats.total, m_stats.last, m_stats.min, m_stats.max,
                                                m_stats.delta, m_stats.average));
}

void CJitterRun::AbortStart()
{
    if (!m_dialog.IsClosing())
        m_dialog.EnableControls(true);
    m_dialog.m_monitorRunning = 0;
    m_window.SetText(IDC_GO, "&Go");
}

void CJitterRun::End()
{
    m_dialog.m_clockRefusedThisRun = false;
    if (!IsPort123Mode())
        m_dialog.CloseSocket();
    // A closing dialog keeps its controls disabled until it is gone.
    if (!m_dialog.IsClosing())
        m_dialog.EnableControls(true);
    m_window.SetText(IDC_GO, "&Go");
    m_dialog.m_monitorRunning = 0;
}
