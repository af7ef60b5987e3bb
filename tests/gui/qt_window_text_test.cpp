// Window texts on Qt: Latin-1 and CR LF kept byte for byte, caret positions
// counted in the 8-bit text, what the log pane shows and when it is painted,
// and window calls made from another thread.
#include "support/QtTestMain.h"
#include "support/QtWindowDriver.h"

#include "frontends/qt/QtFileFilter.h"
#include "frontends/qt/QtLogPane.h"
#include "frontends/qt/QtText.h"
#include "frontends/qt/QtUiCalls.h"
#include "support/UdpResponder.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QWindow>

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace qtdriver;

namespace {

std::string AllLatin1()
{
    std::string text;
    for (int c = 1; c < 256; ++c)
        if (c != '\r' && c != '\n')
            text += static_cast<char>(c);
    return text;
}

QtLogPane* Pane(QtDialogWindow& w) { return static_cast<QtLogPane*>(w.Control(IDC_LOG)); }

} // namespace

TEST(QtText, ConvertsLatin1AndLineEndsBothWays)
{
    const std::string latin = AllLatin1();
    EXPECT_EQ(FromQt(ToQt(latin)), latin);
    EXPECT_EQ(ToQt("caf\xe9").at(3), QChar(0xE9));
    EXPECT_EQ(ToQt("a\r\nb\r\n"), QString("a\nb\n"));
    EXPECT_EQ(FromQt("a\nb"), "a\r\nb");
    EXPECT_EQ(FromQt(QString::fromUtf16(u"x\u2029y")), "x\r\ny");
    EXPECT_EQ(FromQt(QString::fromUtf16(u"\u20ac")), "?"); // outside Latin-1
    // A lone CR or LF stays what it is.
    EXPECT_EQ(ToQt("a\rb\nc"), QString("a\rb\nc"));
}

TEST(QtText, MapsCaretPositionsAroundLineBreaks)
{
    const std::string text = "ab\r\ncd\r\n\r\ne";
    // 8-bit:  a0 b1 CR2 LF3 c4 d5 CR6 LF7 CR8 LF9 e10, end 11
    // widget: a0 b1 \n2 c3 d4 \n5 \n6 e7, end 8
    EXPECT_EQ(ToWidgetPosition(text, 0), 0);
    EXPECT_EQ(ToWidgetPosition(text, 2), 2);
    EXPECT_EQ(ToWidgetPosition(text, 4), 3);
    EXPECT_EQ(ToWidgetPosition(text, 10), 7);
    EXPECT_EQ(ToWidgetPosition(text, 11), 8);
    EXPECT_EQ(ToWidgetPosition(text, 99), 8);
    EXPECT_EQ(ToWidgetPosition(text, -5), 0);
    for (int p : {0, 1, 2, 4, 5, 6, 8, 10, 11})
        EXPECT_EQ(FromWidgetPosition(text, ToWidgetPosition(text, p)), p) << p;
    EXPECT_EQ(FromWidgetPosition(text, 8), 11);
    EXPECT_EQ(FromWidgetPosition(text, 50), 11);
}

TEST(QtWindowText, LogPaneKeepsItsBytesExactly)
{
    QtDialogWindow window(IDD_MAIN);
    const std::string text = "Querying host caf\xe9\r\n\r\n" + AllLatin1() + "\r\nend\n\rodd\r";
    window.SetText(IDC_LOG, text);
    EXPECT_EQ(window.GetText(IDC_LOG), text);
    const QString shown = Pane(window)->toPlainText();
    EXPECT_TRUE(shown.startsWith(QString::fromLatin1("Querying host caf\xe9\n\n")));
    EXPECT_FALSE(shown.contains(QLatin1String("\r\n")));
    window.SetText(IDC_LOG, "");
    EXPECT_EQ(window.GetText(IDC_LOG), "");
    EXPECT_TRUE(Pane(window)->toPlainText().isEmpty());
}

TEST(QtWindowText, OtherControlsConvertLatin1BothWays)
{
    QtDialogWindow window(IDD_MAIN);
    for (int id : {IDC_STATUS, IDC_VERSION, IDC_GO, IDC_TIME_SERVER_GROUP}) {
        window.SetText(id, "Gr\xfc\xdf \xe9t\xe9");
        EXPECT_EQ(window.GetText(id), "Gr\xfc\xdf \xe9t\xe9") << id;
    }
    EXPECT_EQ(static_cast<QLabel*>(window.Control(IDC_STATUS))->text(), QString::fromUtf16(u"Gr\u00fc\u00df \u00e9t\u00e9"));
    window.SetText(IDC_GO, "&Stop");
    EXPECT_EQ(static_cast<QPushButton*>(window.Control(IDC_GO))->text(), "&Stop");
    // The server box keeps lower case for program texts too, and Latin-1.
    window.SetText(IDC_SERVER, "\xc4RGER.Example");
    EXPECT_EQ(window.GetText(IDC_SERVER), "\xe4rger.example");
    EXPECT_EQ(window.GetText(4711), "");
    EXPECT_FALSE(window.ControlExists(4711));
    EXPECT_TRUE(window.ControlExists(IDC_LOG));
}

TEST(QtWindowText, SelectionCountsCharactersOfThe8BitText)
{
    QtDialogWindow window(IDD_MAIN);
    const std::string text = "ab\r\ncd\r\nef";
    window.SetText(IDC_LOG, text);
    QtLogPane* pane = Pane(window);

    window.SetSelection(IDC_LOG, static_cast<int>(text.size()), static_cast<int>(text.size()));
    EXPECT_TRUE(pane->textCursor().atEnd());
    EXPECT_FALSE(pane->textCursor().hasSelection());
    EXPECT_EQ(pane->SelectionStart8(), static_cast<int>(text.size()));

    window.SetSelection(IDC_LOG, 4, 6);
    EXPECT_EQ(pane->textCursor().selectedText(), "cd");
    EXPECT_EQ(pane->SelectionStart8(), 4);
    EXPECT_EQ(pane->SelectionEnd8(), 6);

    window.SetSelection(IDC_LOG, 0, -1); // -1: to the end
    EXPECT_EQ(pane->SelectionEnd8(), static_cast<int>(text.size()));
    window.SetSelection(IDC_LOG, 0, 0);
    EXPECT_TRUE(pane->textCursor().atStart());
    window.SetSelection(IDC_LOG, 500, 500); // beyond the end: clamped
    EXPECT_TRUE(pane->textCursor().atEnd());
}

TEST(QtWindowText, AppendLogLeavesTheCaretAtTheEndAndTheLastLineInView)
{
    QtDialogWindow window(IDD_MAIN);
    CTikkaraDlg dialog(window);
    window.Open(dialog);
    WaitFor([&] { return window.isVisible(); });
    std::string expected;
    for (int i = 0; i < 200; ++i) {
        const std::string line = "line " + std::to_string(i);
        dialog.AppendLog(line);
        expected += (i ? "\r\n" : "") + line;
    }
    EXPECT_EQ(window.GetText(IDC_LOG), expected);
    QtLogPane* pane = Pane(window);
    EXPECT_TRUE(pane->textCursor().atEnd());
    EXPECT_EQ(pane->SelectionStart8(), static_cast<int>(expected.size()));
    EXPECT_GT(pane->verticalScrollBar()->value(), 0);
    EXPECT_TRUE(pane->viewport()->rect().contains(pane->cursorRect()));
    window.EndDialog(IDCANCEL);
}

TEST(QtWindowText, RepaintNowPaintsThePaneBeforeReturning)
{
    QtDialogWindow window(IDD_MAIN);
    window.show();
    WaitFor([&] { return window.isVisible(); });
    Pump(50);
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            paints += e->type() == QEvent::Paint;
            return false;
        }
    } counter;
    Pane(window)->viewport()->installEventFilter(&counter);
    window.SetText(IDC_LOG, "Querying host 192.0.2.1 from random port\r\n");
    EXPECT_EQ(counter.paints, 0); // setting the text only schedules a paint
    window.RepaintNow(IDC_LOG);   // no event loop runs in between
    EXPECT_GE(counter.paints, 1);
}

TEST(QtWindowText, EachNewTextShowsAsAWholeNewTextWould)
{
    QtDialogWindow window(IDD_MAIN);
    QtLogPane* pane = Pane(window);
    QPlainTextEdit whole; // given every text anew
    std::string lines;
    for (int i = 0; i < 60; ++i)
        lines += "line " + std::to_string(i) + "\r\n";
    const std::vector<std::string> texts = {
        "Querying host a\r\n",  "Querying host a\r\n\r\n+--Result--+", lines,
        lines + "tail",          "good: 7\r\nbad: 0\r\n", "good: 8\r\nbad: 10\r\n",
        "lone\rCR\r\r\nand LF\n", "lone\nCR\r\nand\r", "",
        "x"};
    for (const std::string& text : texts) {
        pane->SetSelection8(3, 3);
        pane->verticalScrollBar()->setValue(pane->verticalScrollBar()->maximum());
        window.SetText(IDC_LOG, text);
        whole.setPlainText(ToQt(text));
        EXPECT_EQ(pane->toPlainText(), whole.toPlainText()) << text;
        EXPECT_EQ(pane->document()->blockCount(), whole.document()->blockCount()) << text;
        EXPECT_EQ(pane->textCursor().position(), 0) << text;
        EXPECT_EQ(pane->verticalScrollBar()->value(), 0) << text;
    }
}

TEST(QtWindowText, ThePanesScrollBarLooksLikeAnyOther)
{
    QtDialogWindow window(IDD_MAIN);
    window.show();
    std::string lines;
    for (int i = 0; i < 200; ++i)
        lines += "line\r\n";
    window.SetText(IDC_LOG, lines);
    Pump(50);
    QScrollBar* bar = Pane(window)->verticalScrollBar();
    bar->setValue(bar->maximum() / 3);
    ASSERT_GT(bar->height(), 200); // taller than one band of its painting
    const QImage banded = bar->grab().toImage();
    bar->setStyle(QApplication::style());
    EXPECT_EQ(banded, bar->grab().toImage());
}

TEST(QtWindowText, AQueryPaintsItsFirstLineBeforeTheWaitAndItsReportAfterIt)
{
    QtDialogWindow window(IDD_MAIN);
    CTikkaraDlg dialog(window);
    window.Open(dialog);
    ASSERT_TRUE(WaitFor([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }));
    Pump(50);
    struct PaintRecorder : QObject {
        QtLogPane* pane = nullptr;
        std::atomic<int> paints{0};
        std::string firstPainted;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint && paints++ == 0)
                firstPainted = pane->WindowText();
            return false;
        }
    } recorder;
    recorder.pane = Pane(window);
    recorder.pane->viewport()->installEventFilter(&recorder);
    std::atomic<int> paintedBeforeTheWait{-1};
    CUdpResponder server([&](const CUdpResponder::Request& request) {
        paintedBeforeTheWait = recorder.paints.load();
        return std::vector{CUdpResponder::Message(CUdpResponder::ServerReply(request), 100)};
    });
    window.SetText(IDC_SERVER, server.ServerText());
    Key(window.Control(IDC_SERVER), Qt::Key_Return);
    const int paintedInTheHandler = recorder.paints;
    EXPECT_EQ(paintedBeforeTheWait, 1);
    EXPECT_EQ(recorder.firstPainted.rfind("Querying host 127.0.0.1:", 0), 0u) << recorder.firstPainted;
    // The report's appends follow one another without a pause: one paint.
    EXPECT_EQ(paintedInTheHandler, 1);
    EXPECT_TRUE(WaitFor([&] { return recorder.paints > paintedInTheHandler; }));
    EXPECT_NE(window.GetText(IDC_LOG).find("Timestamps shown in local time zone:"), std::string::npos);
    window.EndDialog(IDCANCEL);
}

TEST(QtWindowText, CallsFromAnotherThreadRunOnTheInterfaceThread)
{
    QtDialogWindow window(IDD_MAIN);
    CTikkaraDlg dialog(window);
    window.Open(dialog);
    WaitFor([&] { return window.isVisible(); });

    std::atomic<bool> finished{false};
    std::string readBack;
    bool checked = true;
    std::thread worker([&] {
        dialog.AppendLog("from the worker \xb1");
        dialog.AppendLog("second");
        readBack = window.GetText(IDC_LOG);
        checked = window.IsChecked(IDC_SET_TIME);
        window.EnableControl(IDC_CLEAR_LOG, false);
        finished = true;
    });
    EXPECT_TRUE(WaitFor([&] { return finished.load(); }));
    worker.join();
    EXPECT_EQ(readBack, "from the worker \xb1\r\nsecond");
    EXPECT_EQ(window.GetText(IDC_LOG), readBack);
    EXPECT_FALSE(checked);
    EXPECT_FALSE(window.Control(IDC_CLEAR_LOG)->isEnabled());
    window.EndDialog(IDCANCEL);
}

TEST(QtUiCalls, PostedCallsRunInOrderAndDroppedCallsReleaseTheirCaller)
{
    std::vector<int> order;
    {
        QObject owner;
        auto* calls = new QtUiCalls(&owner);
        for (int i = 0; i < 5; ++i)
            calls->Post([&order, i] { order.push_back(i); });
        EXPECT_TRUE(order.empty()); // never run at once
        Pump(50);
        EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));

        // A caller waiting for a call that never runs gets a default value.
        int result = -1;
        std::thread caller([&] { result = calls->Run([] { return 42; }); });
        while (calls->Pending() == 0)
            std::this_thread::yield();
        delete calls; // drops the queued call unrun
        caller.join();
        EXPECT_EQ(result, 0);
    }
}

TEST(QtFileFilter, PairsBecomeQtNameFilters)
{
    EXPECT_EQ(NameFiltersFromPairs("Jitter Log (*.csv)|*.csv||"), QStringList{"Jitter Log (*.csv)"});
    EXPECT_EQ(NameFiltersFromPairs("Text|*.txt;*.log|All Files (*.*)|*.*||"),
              (QStringList{"Text (*.txt *.log)", "All Files (*.*)"}));
    EXPECT_TRUE(NameFiltersFromPairs("").isEmpty());
    EXPECT_TRUE(NameFiltersFromPairs("||").isEmpty());
}

HOROLAB_QT_TEST_MAIN()
