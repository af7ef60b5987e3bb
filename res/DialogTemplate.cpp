#include "res/DialogTemplate.h"

#include "ui/ControlIds.h"

namespace {
using namespace ControlStyle;
using K = ControlKind;

constexpr ControlTemplate MainControls[] = {
    // A second row in the group holds "Secure (&NTS)"; everything below it
    // stands 12 units lower than in the one-row layout.
    {IDC_TIME_SERVER_GROUP, K::GroupBox, 0, "Time Server", 8, 6, 315, 42},
    {IDC_SERVER, K::ComboBox, DropDown | LowerCase | VScroll | TabStop, "", 15, 18, 112, 286},
    {IDC_GO, K::PushButton, DefaultButton | TabStop, "&Go", 132, 17, 35, 14},
    {IDC_PORT123, K::CheckBox, AutoCheck | TabStop, "Send from Port &123", 172, 19, 77, 10},
    {IDC_SET_TIME, K::CheckBox, AutoCheck | TabStop, "Set System &Time", 250, 19, 69, 10},
    // Inside the group box: clipped by its siblings, so the layout's overlap
    // rule leaves it alone.
    {IDC_NTS, K::CheckBox, AutoCheck | TabStop | ClipSiblings, "Secure (&NTS)", 172, 32, 77, 10},
    {IDC_LOG, K::Edit, MultiLine | ReadOnly | VScroll | Border | AutoVScroll | AutoHScroll | TabStop,
     "", 7, 51, 318, 289},
    {IDC_STATUS, K::Static, AlignLeft, "Status", 7, 342, 318, 10},
    {IDCANCEL, K::PushButton, TabStop, "&Quit", 7, 356, 50, 14},
    {IDC_AUTH, K::CheckBox, AutoCheck | TabStop, "Auth", 73, 358, 31, 10},
    {IDC_SNTP, K::CheckBox, AutoCheck | TabStop, "SNTP", 107, 358, 35, 10},
    {IDC_VERSION, K::Static, AlignRight | CentreVertically, "Static", 148, 356, 47, 13},
    {IDC_CLEAR_LOG, K::PushButton, TabStop, "&Clear Log", 203, 356, 40, 14},
};

constexpr DialogTemplate MainDialog{
    IDD_MAIN,
    "Horolab by Vantrel",
    333,
    378,
    "MS Sans Serif",
    8,
    DialogStyle::Popup | DialogStyle::Caption | DialogStyle::SysMenu | DialogStyle::MinimizeBox |
        DialogStyle::MaximizeBox | DialogStyle::FixedFrame | DialogStyle::Visible |
        DialogStyle::AppWindow,
    IDR_MENU,
    MainControls,
};

constexpr MenuItemTemplate FileItems[] = {
    {ID_FILE_SCAN_LIST, "&Scan List", false},
    {ID_FILE_BENCHMARK, "&Benchmark", false},
    {ID_FILE_JITTER_MONITOR, "Jitter &Monitor", false},
    {0, "", true},
    {ID_FILE_LONG_RUN_TEST, "&Long-run Test", false},
    {ID_FILE_LOOP_TEST, "L&oop Test", false},
    {0, "", true},
    {ID_FILE_STRESS_TEST, "Stress Test", false},
    {0, "", true},
    {ID_FILE_SURVEY, "&Survey", false},
    {ID_FILE_AUDIT, "&Audit", false},
    {ID_FILE_QUIT, "&Quit\tESC", false},
};

constexpr MenuPopupTemplate MainMenuPopups[] = {{"&File", FileItems}};

constexpr MenuTemplate MainMenu{IDR_MENU, MainMenuPopups};
} // namespace

const DialogTemplate* FindDialogTemplate(int id)
{
    return id == MainDialog.id ? &MainDialog : nullptr;
}

const MenuTemplate* FindMenuTemplate(int id)
{
    return id == MainMenu.id ? &MainMenu : nullptr;
}
