#include "fakes/FakeWindow.h"

#include "res/Bitmaps.h"
#include "ui/ControlIds.h"

#include <algorithm>
#include <cctype>

namespace {
using Lock = std::lock_guard<std::recursive_mutex>;

bool StartsWithNoCase(const std::string& entry, const std::string& prefix)
{
    if (prefix.size() > entry.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(entry[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}
} // namespace

FakeWindow::FakeWindow()
{
    const std::pair<int, const char*> controls[] = {
        {IDC_TIME_SERVER_GROUP, "Time Server"}, {IDC_SERVER, ""},  {IDC_GO, "&Go"},
        {IDC_PORT123, "Send from Port &123"},   {IDC_SET_TIME, "Set System &Time"}, {IDC_NTS, "Secure (&NTS)"},
        {IDC_LOG, ""},        {IDC_STATUS, "Status"}, {IDCANCEL, "&Quit"},
        {IDC_AUTH, "Auth"},   {IDC_SNTP, "SNTP"},     {IDC_VERSION, "Static"},
        {IDC_CLEAR_LOG, "&Clear Log"},
    };
    for (const auto& [id, caption] : controls)
        m_controls[id].text = caption;
    m_menu = {{"&Scan List", "&Benchmark", "Jitter &Monitor", "", "&Long-run Test", "L&oop Test", "",
               "Stress Test", "", "&Survey", "&Audit", "&Quit\tESC"}};
    m_menuBarEnabled = {true};
}

FakeControl FakeWindow::Control(int id) { Lock l(m_mutex); return m_controls[id]; }
void FakeWindow::SetControl(int id, const FakeControl& c) { Lock l(m_mutex); m_controls[id] = c; }
std::string FakeWindow::LogText() { return GetText(IDC_LOG); }
std::vector<FakeMessageBox> FakeWindow::MessageBoxes() { Lock l(m_mutex); return m_messageBoxes; }
std::vector<std::vector<std::string>> FakeWindow::Menu() { Lock l(m_mutex); return m_menu; }
bool FakeWindow::IsMenuBarItemEnabled(int p) { Lock l(m_mutex); return m_menuBarEnabled.at(p); }
int FakeWindow::EndedWith() { Lock l(m_mutex); return m_ended; }
int FakeWindow::SelectionStart() { Lock l(m_mutex); return m_selStart; }
int FakeWindow::SelectionEnd() { Lock l(m_mutex); return m_selEnd; }
int FakeWindow::ScrollCaretCount() { Lock l(m_mutex); return m_scrollCaret; }
int FakeWindow::RepaintCount() { Lock l(m_mutex); return m_repaints; }
bool FakeWindow::FocusOnDialog() { Lock l(m_mutex); return m_focusOnDialog; }
std::vector<int> FakeWindow::Icons() { Lock l(m_mutex); return m_icons; }
std::vector<std::string> FakeWindow::SaveFileRequests() { Lock l(m_mutex); return m_saveFileRequests; }
LogFont FakeWindow::Font(int id) { Lock l(m_mutex); return m_fonts[id]; }
void FakeWindow::SetClientRect(const Rect& r) { Lock l(m_mutex); m_client = r; }
void FakeWindow::SetWindowRect(const Rect& r) { Lock l(m_mutex); m_window = r; }

void FakeWindow::ClearRecords()
{
    Lock l(m_mutex);
    m_messageBoxes.clear();
    m_scrollCaret = 0;
    m_repaints = 0;
}

int FakeWindow::RunPosted()
{
    int count = 0;
    for (;;) {
        std::function<void()> call;
        {
            Lock l(m_mutex);
            if (m_posted.empty())
                return count;
            call = std::move(m_posted.front());
            m_posted.pop_front();
        }
        call();
        ++count;
    }
}

bool FakeWindow::ControlExists(int id) { Lock l(m_mutex); return m_controls.count(id) != 0; }

std::string FakeWindow::GetText(int id)
{
    Lock l(m_mutex);
    auto it = m_controls.find(id);
    return it == m_controls.end() ? std::string() : it->second.text;
}

void FakeWindow::SetText(int id, const std::string& text)
{
    {
        Lock l(m_mutex);
        auto it = m_controls.find(id);
        if (it == m_controls.end())
            return;
        it->second.text = text;
    }
    if (onSetText)
        onSetText(id, text);
}

bool FakeWindow::IsChecked(int id) { Lock l(m_mutex); return m_controls[id].checked; }
void FakeWindow::SetChecked(int id, bool checked) { Lock l(m_mutex); m_controls[id].checked = checked; }
void FakeWindow::EnableControl(int id, bool enable) { Lock l(m_mutex); m_controls[id].enabled = enable; }
bool FakeWindow::IsControlEnabled(int id) { Lock l(m_mutex); return m_controls[id].enabled; }
void FakeWindow::ShowControl(int id, bool show) { Lock l(m_mutex); m_controls[id].visible = show; }
bool FakeWindow::IsControlVisible(int id) { Lock l(m_mutex); return m_controls[id].visible; }
bool FakeWindow::HasClipSiblings(int id) { Lock l(m_mutex); return m_controls[id].clipSiblings; }
void FakeWindow::SetFocusToDialog() { Lock l(m_mutex); m_focusOnDialog = true; }
void FakeWindow::SetControlFont(int id, const LogFont& font) { Lock l(m_mutex); m_fonts[id] = font; }
void FakeWindow::RepaintNow(int) { Lock l(m_mutex); ++m_repaints; }

void FakeWindow::SetSelection(int, int start, int end)
{
    Lock l(m_mutex);
    m_selStart = start;
    m_selEnd = end;
}

void FakeWindow::ScrollCaret(int) { Lock l(m_mutex); ++m_scrollCaret; }

int FakeWindow::FindStringPrefix(int id, const std::string& text)
{
    Lock l(m_mutex);
    const auto& list = m_controls[id].list;
    for (size_t i = 0; i < list.size(); ++i)
        if (StartsWithNoCase(list[i], text))
            return static_cast<int>(i);
    return -1;
}

void FakeWindow::InsertString(int id, int index, const std::string& text)
{
    Lock l(m_mutex);
    auto& list = m_controls[id].list;
    std::string lower = text;
    if (id == IDC_SERVER) // the box turns everything inserted into lower case
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    list.insert(list.begin() + std::min<size_t>(static_cast<size_t>(index), list.size()), lower);
}

int FakeWindow::GetMenuItemCount(int popup)
{
    Lock l(m_mutex);
    return popup >= 0 && popup < static_cast<int>(m_menu.size()) ? static_cast<int>(m_menu[popup].size()) : -1;
}

void FakeWindow::DeleteMenuItem(int popup, int item)
{
    Lock l(m_mutex);
    auto& entries = m_menu.at(popup);
    entries.erase(entries.begin() + item);
}

void FakeWindow::EnableMenuBarItem(int position, bool enable) { Lock l(m_mutex); m_menuBarEnabled.at(position) = enable; }
void FakeWindow::MessageBox(const std::string& text, MessageIcon icon) { Lock l(m_mutex); m_messageBoxes.push_back({text, icon}); }

bool FakeWindow::SaveFileDialog(const std::string& initialName, const std::string& filter, std::string& path)
{
    {
        Lock l(m_mutex);
        m_saveFileRequests.push_back(initialName);
    }
    return saveFileAnswer ? saveFileAnswer(initialName, filter, path) : false;
}

void FakeWindow::SetIcon(int resourceId) { Lock l(m_mutex); m_icons.push_back(resourceId); }
Rect FakeWindow::GetClientRect() { Lock l(m_mutex); return m_client; }
Rect FakeWindow::GetWindowRect() { Lock l(m_mutex); return m_window; }
Rect FakeWindow::GetControlRect(int id) { Lock l(m_mutex); return m_controls[id].rect; }
void FakeWindow::MoveControl(int id, const Rect& rect) { Lock l(m_mutex); m_controls[id].rect = rect; }

void FakeWindow::CreateBitmapControl(int id, int bitmapId, const Rect& requested, IPaintHandler* painter)
{
    Lock l(m_mutex);
    bitmapControlId = id;
    bitmapControlBitmap = bitmapId;
    bitmapPainter = painter;
    bitmapControlRequested = requested;
    // A bitmap control sizes itself to its bitmap at the requested top-left.
    BitmapResource bitmap;
    m_controls[id].rect = LoadBitmapResource(bitmapId, bitmap)
                              ? Rect{requested.left, requested.top, requested.left + bitmap.width,
                                     requested.top + bitmap.height}
                              : requested;
}

void FakeWindow::CreateChartControl(int id, const Rect& requested)
{
    Lock l(m_mutex);
    FakeControl& chart = m_controls[id];
    chart.rect = requested;
    chart.visible = false;
    chart.clipSiblings = true;
}

void FakeWindow::ShowChart(int id, const ChartView& chart)
{
    Lock l(m_mutex);
    m_charts[id].push_back(chart);
    m_controls[id].visible = !chart.points.empty();
}

std::vector<ChartView> FakeWindow::Charts(int id) { Lock l(m_mutex); return m_charts[id]; }

void FakeWindow::EndDialog(int result) { Lock l(m_mutex); m_ended = result; }
void FakeWindow::PostToUiThread(std::function<void()> call) { Lock l(m_mutex); m_posted.push_back(std::move(call)); }
