#include "BenchWindow.h"

#include <cstdio>

namespace {
using Lock = std::lock_guard<std::mutex>;
} // namespace

int CBenchWindow::RunPosted()
{
    std::deque<std::function<void()>> calls;
    {
        Lock l(m_mutex);
        calls.swap(m_posted);
    }
    for (auto& call : calls)
        call();
    return static_cast<int>(calls.size());
}

std::string CBenchWindow::GetText(int id)
{
    Lock l(m_mutex);
    return m_texts[id];
}

void CBenchWindow::SetText(int id, const std::string& text)
{
    {
        Lock l(m_mutex);
        m_texts[id] = text;
    }
    if (onSetText)
        onSetText(id, text);
}

bool CBenchWindow::IsChecked(int id)
{
    Lock l(m_mutex);
    return m_checked[id];
}

void CBenchWindow::SetChecked(int id, bool checked)
{
    Lock l(m_mutex);
    m_checked[id] = checked;
}

void CBenchWindow::MessageBox(const std::string& text, MessageIcon)
{
    std::fprintf(stderr, "message box: %s\n", text.c_str());
}

bool CBenchWindow::SaveFileDialog(const std::string&, const std::string&, std::string& path)
{
    path = savePath;
    return !savePath.empty();
}

void CBenchWindow::PostToUiThread(std::function<void()> call)
{
    Lock l(m_mutex);
    m_posted.push_back(std::move(call));
}
