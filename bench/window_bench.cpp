// What the real window adds to a query: from the Enter key in the server box
// to the complete report painted in the Qt dialog (offscreen), beside the
// same query through the in-memory window, both against the chronyd on
// loopback (scripts/chronyd-fixture.sh start DIR writes DIR/port). A third
// figure is the toolkit's cost of a report painted as it grows: the texts
// the pane goes through during a query, set into the same pane and each
// painted at once (the window paints the first at once and the rest
// together). Rounds take the three in turn, each first, second and third in
// its turn.
//   window_bench [DIR [ROUNDS]]     DIR defaults to $HOROLAB_CHRONY_DIR, ROUNDS to 300
#include "BenchStats.h"
#include "PaintCounter.h"

#include "fakes/FakeWindow.h"
#include "frontends/qt/QtLogPane.h"
#include "support/QtWindowDriver.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <QAbstractScrollArea>
#include <QComboBox>
#include <QLineEdit>
#include <QScrollBar>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

using namespace bench;
using namespace qtdriver;

namespace {

constexpr double WindowGoalMs = 3.0;
// The query's last changes (caret and view back to the top) are painted by
// the next pass of the event loop; without any, the synchronous paints
// during the query were the last.
constexpr double LastPaintWaitUs = 200000.0;

// Counts the paints of every widget of the application by class, while on.
class PaintCensus : public QObject {
public:
    bool on = false;
    std::map<std::string, int> byClass;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (on && event->type() == QEvent::Paint)
            ++byClass[watched->metaObject()->className()];
        return false;
    }
};

bool WholeReport(const std::string& log)
{
    return log.find("Timestamps shown in local time zone:") != std::string::npos &&
           log.find("--No answer") == std::string::npos;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const std::string dir = bench::ChronyDir(argc, argv);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 300;
    const std::string port = bench::ReadChronyPort(dir);
    if (port.empty() || rounds < 10) {
        std::fprintf(stderr, "usage: %s [CHRONY_DIR [ROUNDS >= 10]]  (no port in '%s/port')\n", argv[0],
                     dir.c_str());
        return 2;
    }
    const std::string server = "127.0.0.1:" + port;

    QtDialogWindow window(IDD_MAIN);
    CTikkaraDlg dialog(window);
    window.Open(dialog);
    if (!WaitFor([&] { return window.isVisible(); })) {
        std::fprintf(stderr, "the dialog did not show\n");
        return 1;
    }
    Pump(200);
    QLineEdit* field = static_cast<QComboBox*>(window.Control(IDC_SERVER))->lineEdit();
    field->setFocus();
    Type(field, server);
    auto* pane = static_cast<QtLogPane*>(window.Control(IDC_LOG));
    PaintCounter painted;
    pane->viewport()->installEventFilter(&painted);

    PaintCensus census;
    app.installEventFilter(&census);

    // The texts the pane is given during a query, caught from the warm-up.
    bool catching = false;
    std::vector<std::string> paneTexts;
    QObject::connect(pane, &QPlainTextEdit::textChanged, [&] {
        if (catching)
            paneTexts.push_back(pane->WindowText());
    });

    FakeWindow fake;
    fake.SetText(IDC_SERVER, server);
    CTikkaraDlg fakeDialog(fake);

    std::printf("== Window: Enter to the report painted in the Qt dialog (offscreen) vs the in-memory window, "
                "chronyd at %s, %d rounds\n",
                server.c_str(), rounds);
    PrintLoad("before");

    std::vector<double> qtMs, qtQueryMs, qtCpuMs, fakeMs, toolkitMs;
    int failures = 0, lastPaintAfterKey = 0;
    const int warmUp = 10;
    for (int i = -warmUp; i < rounds; ++i) {
        double qt = 0, qtQuery = 0, qtCpu = 0, inMemory = 0, toolkit = 0;
        auto timeQt = [&] {
            field->setFocus();
            Pump(2); // nothing left over from before
            catching = i == -1;
            if (catching)
                paneTexts.clear();
            const int before = painted.paints;
            census.on = i >= 0;
            const double cpu0 = ProcessCpuSeconds();
            const double t0 = NowUs();
            Key(field, Qt::Key_Return); // the whole query runs inside
            const double returned = NowUs();
            const int atReturn = painted.paints;
            while (painted.paints == atReturn && NowUs() - returned < LastPaintWaitUs)
                QApplication::processEvents(QEventLoop::AllEvents);
            const bool later = painted.paints > atReturn;
            const double t1 = later ? NowUs() : returned;
            qt = (t1 - t0) / 1000.0;
            qtCpu = (ProcessCpuSeconds() - cpu0) * 1000.0;
            census.on = false;
            catching = false;
            qtQuery = (returned - t0) / 1000.0;
            lastPaintAfterKey += later;
            failures += !WholeReport(window.GetText(IDC_LOG)) || atReturn == before;
        };
        auto timeFake = [&] {
            const double t0 = NowUs();
            fakeDialog.OnOK();
            inMemory = (NowUs() - t0) / 1000.0;
            failures += !WholeReport(fake.LogText());
        };
        // A report painted as it grows: the same texts set into the pane and
        // each painted at once, then the view's last paint.
        auto timeToolkit = [&] {
            Pump(2);
            const double t0 = NowUs();
            for (const std::string& text : paneTexts) {
                pane->SetWindowText(text);
                pane->viewport()->repaint();
            }
            const int atEnd = painted.paints;
            pane->SetSelection8(0, 0);
            pane->ScrollCaret();
            while (painted.paints == atEnd && NowUs() - t0 < LastPaintWaitUs)
                QApplication::processEvents(QEventLoop::AllEvents);
            toolkit = (NowUs() - t0) / 1000.0;
        };
        switch (i < 0 ? 0 : i % 3) {
        case 0: timeQt(); timeFake(); timeToolkit(); break;
        case 1: timeFake(); timeToolkit(); timeQt(); break;
        default: timeToolkit(); timeQt(); timeFake(); break;
        }
        if (i >= 0) {
            toolkitMs.push_back(toolkit);
            qtMs.push_back(qt);
            qtQueryMs.push_back(qtQuery);
            qtCpuMs.push_back(qtCpu);
            fakeMs.push_back(inMemory);
        }
    }
    if (failures != 0) {
        std::fprintf(stderr, "%d queries failed; last logs:\n%s\n---\n%s\n", failures,
                     window.GetText(IDC_LOG).c_str(), fake.LogText().c_str());
        return 1;
    }

    std::printf("  (%d of %d rounds painted once more after the query returned)\n", lastPaintAfterKey,
                rounds + warmUp);
    std::printf("  paints per Qt query:");
    for (const auto& [name, count] : census.byClass)
        std::printf(" %s %.1f", name.c_str(), static_cast<double>(count) / rounds);
    std::printf("\n");
    PrintSpread("in-memory window: OnOK", fakeMs, "ms");
    PrintSpread("Qt window: Enter to OnOK's return", qtQueryMs, "ms");
    PrintSpread("Qt window: Enter to report painted", qtMs, "ms");
    PrintSpread("  of it process CPU (all threads)", qtCpuMs, "ms");
    const double added = Median(qtMs) - Median(fakeMs);
    std::printf("  window adds (median - in-memory median): %.2f ms; ratio Qt/in-memory %.2f\n", added,
                Median(qtMs) / Median(fakeMs));
    std::printf("  GOAL window adds <= %.0f ms: %s\n", WindowGoalMs, Verdict(added <= WindowGoalMs));
    std::printf("  painted as it grows: the query's %zu pane texts, each set and painted at once, then the view's\n"
                "  last paint, on the same pane:\n",
                paneTexts.size());
    PrintSpread("painted as it grows", toolkitMs, "ms");
    std::printf("  window adds beyond painting as it grows: %.2f ms; ratio window-added/painted as it grows %.2f\n",
                added - Median(toolkitMs), added / Median(toolkitMs));
    // What one paint pass of the pane costs here, part by part: every append
    // paints the text area and the scroll bar (its range and position change).
    std::vector<double> scrollBarUs, textAreaUs;
    for (int i = 0; i < 200; ++i) {
        double t0 = NowUs();
        pane->verticalScrollBar()->repaint();
        scrollBarUs.push_back(NowUs() - t0);
        t0 = NowUs();
        pane->viewport()->repaint();
        textAreaUs.push_back(NowUs() - t0);
    }
    PrintSpread("one repaint of the pane's scroll bar", scrollBarUs, "us");
    PrintSpread("one repaint of the pane's text area", textAreaUs, "us");
    PrintLoad("after");
    window.EndDialog(IDCANCEL);
    return 0;
}
