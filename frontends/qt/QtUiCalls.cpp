#include "frontends/qt/QtUiCalls.h"

#include <QMetaObject>

QtUiCalls::~QtUiCalls()
{
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        dropped.swap(m_calls);
    }
    // Destroying them releases any waiting caller with a default result.
}

void QtUiCalls::Post(std::function<void()> call)
{
    // One wake-up per call keeps the calls in order among the other events.
    // It is posted under the lock, so a queued call is never seen pending
    // (and this object never destroyed) before its wake-up is on its way.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(std::move(call));
    QMetaObject::invokeMethod(this, "RunNext", Qt::QueuedConnection);
}

size_t QtUiCalls::Pending()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls.size();
}

void QtUiCalls::RunNext()
{
    std::function<void()> call;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_calls.empty())
            return;
        call = std::move(m_calls.front());
        m_calls.pop_front();
    }
    call();
}
