// Dialog template 102 and menu 133 as the window layer builds them.
#include "res/DialogTemplate.h"
#include "ui/ControlIds.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const ControlTemplate& Find(const DialogTemplate& d, int id)
{
    for (const ControlTemplate& c : d.controls)
        if (c.id == id)
            return c;
    throw std::runtime_error("no control " + std::to_string(id));
}

} // namespace

TEST(DialogTemplate, MainDialogHasItsCaptionSizeFontMenuAndFrame)
{
    const DialogTemplate* d = FindDialogTemplate(IDD_MAIN);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->caption, "Horolab by Vantrel");
    EXPECT_EQ(d->cx, 333);
    EXPECT_EQ(d->cy, 378); // 12 units taller for the group box's second row
    EXPECT_STREQ(d->fontFace, "MS Sans Serif");
    EXPECT_EQ(d->fontPoints, 8);
    EXPECT_EQ(d->menuId, IDR_MENU);
    for (uint32_t s : {DialogStyle::Caption, DialogStyle::SysMenu, DialogStyle::MinimizeBox,
                       DialogStyle::MaximizeBox, DialogStyle::FixedFrame, DialogStyle::Visible})
        EXPECT_TRUE(d->style & s) << s;
    EXPECT_EQ(FindDialogTemplate(IDD_MAIN + 1), nullptr);
}

TEST(DialogTemplate, ControlsComeInTabOrderAndLieInsideTheClientArea)
{
    const DialogTemplate& d = *FindDialogTemplate(IDD_MAIN);
    std::vector<int> ids;
    for (const ControlTemplate& c : d.controls) {
        ids.push_back(c.id);
        EXPECT_GE(c.x, 0) << c.id;
        EXPECT_GE(c.y, 0) << c.id;
        EXPECT_LE(c.x + c.cx, d.cx) << c.id;
        if (c.kind != ControlKind::ComboBox) { // its height includes the dropped list
            EXPECT_LE(c.y + c.cy, d.cy) << c.id;
        }
    }
    EXPECT_EQ(ids, (std::vector<int>{IDC_TIME_SERVER_GROUP, IDC_SERVER, IDC_GO, IDC_PORT123, IDC_SET_TIME,
                                     IDC_NTS, IDC_LOG, IDC_STATUS, IDCANCEL, IDC_AUTH, IDC_SNTP, IDC_VERSION,
                                     IDC_CLEAR_LOG}));
    EXPECT_EQ(std::set<int>(ids.begin(), ids.end()).size(), ids.size());
}

TEST(DialogTemplate, ControlsCarryTheirKindsStylesAndCaptions)
{
    using namespace ControlStyle;
    const DialogTemplate& d = *FindDialogTemplate(IDD_MAIN);
    const ControlTemplate& server = Find(d, IDC_SERVER);
    EXPECT_EQ(server.kind, ControlKind::ComboBox);
    EXPECT_TRUE(server.style & LowerCase);
    EXPECT_TRUE(server.style & DropDown);
    EXPECT_FALSE(server.style & AutoHScroll); // the field takes only what fits
    EXPECT_FALSE(server.style & Sort);
    EXPECT_EQ((std::vector<int>{server.x, server.y, server.cx, server.cy}), (std::vector<int>{15, 18, 112, 286}));

    const ControlTemplate& go = Find(d, IDC_GO);
    EXPECT_STREQ(go.caption, "&Go");
    EXPECT_TRUE(go.style & DefaultButton);
    for (int id : {IDCANCEL, IDC_CLEAR_LOG})
        EXPECT_FALSE(Find(d, id).style & DefaultButton) << id;

    const ControlTemplate& log = Find(d, IDC_LOG);
    EXPECT_EQ(log.kind, ControlKind::Edit);
    for (uint32_t s : {MultiLine, ReadOnly, VScroll, Border, AutoHScroll, AutoVScroll, TabStop})
        EXPECT_TRUE(log.style & s) << s;
    EXPECT_EQ((std::vector<int>{log.x, log.y, log.cx, log.cy}), (std::vector<int>{7, 51, 318, 289}));

    EXPECT_TRUE(Find(d, IDC_STATUS).style & AlignLeft);
    EXPECT_STREQ(Find(d, IDC_STATUS).caption, "Status");
    const ControlTemplate& version = Find(d, IDC_VERSION);
    EXPECT_TRUE(version.style & AlignRight);
    EXPECT_TRUE(version.style & CentreVertically);
    EXPECT_STREQ(version.caption, "Static");

    for (int id : {IDC_PORT123, IDC_SET_TIME, IDC_NTS, IDC_AUTH, IDC_SNTP}) {
        EXPECT_EQ(Find(d, id).kind, ControlKind::CheckBox) << id;
        EXPECT_TRUE(Find(d, id).style & AutoCheck) << id;
    }
    EXPECT_STREQ(Find(d, IDC_PORT123).caption, "Send from Port &123");
    EXPECT_STREQ(Find(d, IDC_SET_TIME).caption, "Set System &Time");
    EXPECT_STREQ(Find(d, IDCANCEL).caption, "&Quit");
    EXPECT_STREQ(Find(d, IDC_CLEAR_LOG).caption, "&Clear Log");
    EXPECT_STREQ(Find(d, IDC_TIME_SERVER_GROUP).caption, "Time Server");
    EXPECT_STREQ(Find(d, IDC_NTS).caption, "Secure (&NTS)");
    // Only the box inside the group keeps out of the layout's overlap test.
    for (const ControlTemplate& c : d.controls)
        EXPECT_EQ((c.style & ClipSiblings) != 0, c.id == IDC_NTS) << c.id;
}

TEST(DialogTemplate, TheNtsBoxSitsInTheGroupsSecondRowUnderTheFirstRow)
{
    const DialogTemplate& d = *FindDialogTemplate(IDD_MAIN);
    const ControlTemplate& group = Find(d, IDC_TIME_SERVER_GROUP);
    const ControlTemplate& nts = Find(d, IDC_NTS);
    for (int id : {IDC_GO, IDC_PORT123, IDC_SET_TIME})
        EXPECT_GE(nts.y, Find(d, id).y + Find(d, id).cy) << id;
    EXPECT_EQ(nts.x, Find(d, IDC_PORT123).x);
    EXPECT_GT(nts.x, group.x);
    EXPECT_LE(nts.x + nts.cx, group.x + group.cx);
    EXPECT_LT(nts.y + nts.cy, group.y + group.cy);
    EXPECT_LT(group.y + group.cy, Find(d, IDC_LOG).y);
}

TEST(MenuTemplate, FileMenuHoldsTwelveEntriesWithSeparatorsSurveyAuditAndQuitLast)
{
    const MenuTemplate* m = FindMenuTemplate(IDR_MENU);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->popups.size(), 1u);
    EXPECT_STREQ(m->popups[0].text, "&File");
    const auto items = m->popups[0].items;
    ASSERT_EQ(items.size(), 12u);
    const std::vector<std::pair<int, std::string>> expected = {
        {ID_FILE_SCAN_LIST, "&Scan List"}, {ID_FILE_BENCHMARK, "&Benchmark"},
        {ID_FILE_JITTER_MONITOR, "Jitter &Monitor"}, {0, ""}, {ID_FILE_LONG_RUN_TEST, "&Long-run Test"},
        {ID_FILE_LOOP_TEST, "L&oop Test"}, {0, ""}, {ID_FILE_STRESS_TEST, "Stress Test"}, {0, ""},
        {ID_FILE_SURVEY, "&Survey"}, {ID_FILE_AUDIT, "&Audit"}, {ID_FILE_QUIT, "&Quit\tESC"}};
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].id, expected[i].first) << i;
        EXPECT_EQ(items[i].text, expected[i].second) << i;
        EXPECT_EQ(items[i].separator, expected[i].first == 0) << i;
    }
    EXPECT_EQ(FindMenuTemplate(IDD_MAIN), nullptr);
}
