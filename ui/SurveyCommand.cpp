#include "survey/SurveyTable.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

// "&Survey": every address of the server box's name, on a worker of its own
// as the monitor runs, so that the window stays live for the seconds it
// takes; "&Stop" ends it early and the table shows what was measured.
void CTikkaraDlg::OnSurvey()
{
    if (m_surveyRunning != 0) {
        m_surveyRunning = 0; // a stop request
        return;
    }
    StartWorker(m_surveyRunning, m_surveyThread, [this] { RunSurveyWorker(); });
}

void CTikkaraDlg::RunSurveyWorker()
{
    m_window.SetText(IDC_LOG, "");
    m_survey = ResolveSurvey(m_engine, {m_window.GetText(IDC_SERVER)});
    // Told as the query tells the faults of its server text.
    for (const NtpExchange& failure : m_survey.unresolved) {
        if (failure.outcome == ExchangeOutcome::HostNotFound)
            AppendLog(ExchangeFailureText(failure));
        else
            m_window.MessageBox(ExchangeFailureText(failure), MessageIcon::None);
    }
    if (!m_survey.addresses.empty()) {
        RememberServer();
        AppendLog(FormatSurveyStart(m_survey));
        RunSurvey(m_engine, m_survey, SurveyDefaultSamples, [this] { return m_surveyRunning != 0; });
        AppendLog(FormatSurveyTable(m_survey));
        ShowLogFromTop();
    }
    EndWorker(m_surveyRunning, m_surveyThread);
}
