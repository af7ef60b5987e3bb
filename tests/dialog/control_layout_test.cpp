// The main dialog's controls on size changes: the ten-row table from the
// dialog's own set-up, the logo beside "&Clear Log", the monitor's chart over
// the log pane's lower part, and the overlap rule.
#include "fakes/FakeWindow.h"
#include "res/DialogTemplate.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// Every control of the template plus the logo and the chart.
const int AllControls[] = {IDC_TIME_SERVER_GROUP, IDC_SERVER, IDC_GO,   IDC_PORT123,   IDC_SET_TIME,
                           IDC_LOG,               IDC_STATUS, IDCANCEL, IDC_AUTH,      IDC_SNTP,
                           IDC_VERSION,           IDC_CLEAR_LOG, IDC_LOGO, IDC_NTS, IDC_CHART};

// Dialog units to pixels for an 8-point "MS Sans Serif" (base units 6 x 13),
// rounded like the platform's MulDiv.
int32_t X(int dlu) { return (dlu * 6 + 2) / 4; }
int32_t Y(int dlu) { return (dlu * 13 + 4) / 8; }

Rect Shifted(const Rect& r, int32_t dl, int32_t dt, int32_t dr, int32_t db)
{
    return {r.left + dl, r.top + dt, r.right + dr, r.bottom + db};
}

class ControlLayoutTest : public ::testing::Test {
protected:
    ControlLayoutTest()
    {
        const DialogTemplate* t = FindDialogTemplate(IDD_MAIN);
        for (const ControlTemplate& c : t->controls) {
            FakeControl control = window.Control(c.id);
            control.rect = {X(c.x), Y(c.y), X(c.x + c.cx), Y(c.y + c.cy)};
            control.clipSiblings = (c.style & ControlStyle::ClipSiblings) != 0;
            window.SetControl(c.id, control);
        }
        client = {0, 0, X(t->cx), Y(t->cy)};
        window.SetClientRect(client);
        // Frame, caption and menu bar as a current desktop draws them.
        window.SetWindowRect({40, 30, 40 + client.right + 16, 30 + client.bottom + 59});
    }

    void Start()
    {
        dlg.OnInitDialog();
        for (int id : AllControls)
            initial[id] = window.Control(id).rect;
    }

    void Resize(int32_t dx, int32_t dy)
    {
        window.SetClientRect({0, 0, client.right + dx, client.bottom + dy});
        dlg.OnSize();
    }

    Rect At(int id) { return window.Control(id).rect; }

    FakeWindow window;
    CTikkaraDlg dlg{window};
    Rect client;
    std::map<int, Rect> initial;
};

TEST_F(ControlLayoutTest, SizeChangesBeforeTheSetUpMoveNothing)
{
    std::map<int, Rect> before;
    for (int id : AllControls)
        before[id] = At(id);
    Resize(300, 200);
    for (int id : AllControls)
        EXPECT_EQ(At(id), before[id]) << id;
}

TEST_F(ControlLayoutTest, TheLogoSitsInTheBottomRowWithoutOverlapping)
{
    Start();
    const Rect logo = At(IDC_LOGO);
    EXPECT_EQ(logo.Width(), 100);
    EXPECT_EQ(logo.Height(), 38);
    EXPECT_GE(logo.left, At(IDC_CLEAR_LOG).right);
    EXPECT_LE(logo.right, client.right);
    EXPECT_TRUE(Intersect(logo, At(IDC_STATUS)).IsEmpty());

    // A size notification at the same size keeps every control in place.
    Resize(0, 0);
    for (int id : AllControls)
        EXPECT_EQ(At(id), initial[id]) << id;
}

TEST_F(ControlLayoutTest, EnlargingMovesAndStretchesEachRow)
{
    Start();
    // The chart as a run shows it, lying over the pane without emptying it.
    window.ShowChart(IDC_CHART, ChartView{{ChartPoint{}}, {}, {}});
    const Rect log = initial[IDC_LOG];
    const Rect chart = initial[IDC_CHART];
    ASSERT_TRUE(chart.left > log.left && chart.right < log.right && chart.bottom < log.bottom);
    ASSERT_GT(chart.top, log.top + log.Height() / 2) << "the upper part is the statistics text's";
    const std::pair<int32_t, int32_t> growths[] = {{1, 1}, {37, 0}, {0, 53}, {420, 190}, {1414, 430}};
    for (const auto& [dx, dy] : growths) {
        SCOPED_TRACE(testing::Message() << "dx " << dx << " dy " << dy);
        Resize(dx, dy);
        EXPECT_EQ(At(IDC_LOG), Shifted(initial[IDC_LOG], 0, 0, dx, dy));
        EXPECT_EQ(At(IDC_STATUS), Shifted(initial[IDC_STATUS], 0, dy, dx, dy));
        EXPECT_EQ(At(IDCANCEL), Shifted(initial[IDCANCEL], 0, dy, 0, dy));
        for (int id : {IDC_CLEAR_LOG, IDC_VERSION, IDC_LOGO, IDC_AUTH, IDC_SNTP})
            EXPECT_EQ(At(id), Shifted(initial[id], dx, dy, dx, dy)) << id;
        EXPECT_EQ(At(IDC_TIME_SERVER_GROUP), Shifted(initial[IDC_TIME_SERVER_GROUP], 0, 0, dx, 0));
        // The chart keeps its share of the pane's height.
        const int32_t top = log.top + (chart.top - log.top) * (log.Height() + dy) / log.Height();
        EXPECT_EQ(At(IDC_CHART), (Rect{chart.left, top, chart.right + dx, chart.bottom + dy}));
        for (int id : {IDC_SERVER, IDC_GO, IDC_PORT123, IDC_SET_TIME, IDC_NTS})
            EXPECT_EQ(At(id), initial[id]) << id;
    }
}

TEST_F(ControlLayoutTest, MaximiseThenRestoreGivesBackEveryInitialRectangle)
{
    Start();
    Resize(1920 - client.right, 1040 - client.bottom);
    ASSERT_NE(At(IDC_LOG), initial[IDC_LOG]);
    Resize(-client.right, -client.bottom); // minimised: an empty client area
    Resize(0, 0);
    for (int id : AllControls)
        EXPECT_EQ(At(id), initial[id]) << id;
}

TEST_F(ControlLayoutTest, ClearLogOverlappingQuitIsEmptiedWhileItsGroupFollowsWhereItWouldBe)
{
    Start();
    // Narrow enough that the version label ends just where "&Quit" begins,
    // so "&Clear Log", further right, lands on "&Quit".
    const int32_t dx = initial[IDCANCEL].left - initial[IDC_VERSION].right;
    const Rect clearWouldBe = Shifted(initial[IDC_CLEAR_LOG], dx, 0, dx, 0);
    ASSERT_FALSE(Intersect(clearWouldBe, initial[IDCANCEL]).IsEmpty());

    Resize(dx, 0);
    EXPECT_EQ(At(IDC_CLEAR_LOG), Rect{});
    EXPECT_EQ(At(IDCANCEL), initial[IDCANCEL]);
    EXPECT_EQ(At(IDC_VERSION), Shifted(initial[IDC_VERSION], dx, 0, dx, 0));
    EXPECT_EQ(At(IDC_LOGO), Shifted(initial[IDC_LOGO], dx, 0, dx, 0));

    // With room again it comes back.
    Resize(0, 0);
    EXPECT_EQ(At(IDC_CLEAR_LOG), initial[IDC_CLEAR_LOG]);
}

TEST_F(ControlLayoutTest, TheHiddenOptionBoxesMoveButNeverCountAsOverlapping)
{
    Start();
    ASSERT_FALSE(window.IsControlVisible(IDC_AUTH));
    // "Auth" moved onto "&Quit".
    const int32_t dx = initial[IDCANCEL].right - 5 - initial[IDC_AUTH].left;
    ASSERT_FALSE(Intersect(Shifted(initial[IDC_AUTH], dx, 0, dx, 0), initial[IDCANCEL]).IsEmpty());
    Resize(dx, 0);
    EXPECT_EQ(At(IDC_AUTH), Shifted(initial[IDC_AUTH], dx, 0, dx, 0));
    EXPECT_EQ(At(IDC_SNTP), Shifted(initial[IDC_SNTP], dx, 0, dx, 0));

    // Shown, the same place would empty it.
    window.ShowControl(IDC_AUTH, true);
    Resize(dx, 0);
    EXPECT_EQ(At(IDC_AUTH), Rect{});
}

} // namespace
