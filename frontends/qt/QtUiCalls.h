#pragma once
// Runs calls on the interface thread on behalf of other threads.
//
// A call from another thread is handed over through a std::mutex and waited
// for on a std::future, so the hand-over is visible to ThreadSanitizer; only
// an argument-less wake-up travels through Qt's event queue.
#include <QObject>
#include <QThread>

#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <type_traits>

class QtUiCalls : public QObject {
    Q_OBJECT
public:
    explicit QtUiCalls(QObject* parent) : QObject(parent) {}
    ~QtUiCalls() override;

    bool OnUiThread() const { return QThread::currentThread() == thread(); }

    // Queues a call to run later on the interface thread; never waits.
    void Post(std::function<void()> call);
    // Calls queued and not yet run.
    size_t Pending();

    // Runs `f` on the interface thread and returns its result: at once when
    // called there, else queued, waiting until it has run. A call dropped
    // unrun (the window went away) yields a default value.
    template <class F>
    auto Run(F&& f) -> std::invoke_result_t<F&>;

private:
    template <class R>
    struct Outcome;

    Q_INVOKABLE void RunNext();

    std::mutex m_mutex;
    std::deque<std::function<void()>> m_calls;
};

template <class R>
struct QtUiCalls::Outcome {
    std::promise<R> promise;
    bool delivered = false;

    template <class F>
    void Deliver(F& f)
    {
        if constexpr (std::is_void_v<R>) {
            f();
            promise.set_value();
        } else {
            promise.set_value(f());
        }
        delivered = true;
    }

    ~Outcome()
    {
        if (delivered)
            return;
        if constexpr (std::is_void_v<R>)
            promise.set_value();
        else
            promise.set_value(R{});
    }
};

template <class F>
auto QtUiCalls::Run(F&& f) -> std::invoke_result_t<F&>
{
    using R = std::invoke_result_t<F&>;
    if (OnUiThread())
        return f();
    auto outcome = std::make_shared<Outcome<R>>();
    std::future<R> result = outcome->promise.get_future();
    // The queued call is the outcome's only owner, so dropping it unrun
    // releases this caller.
    Post([outcome = std::move(outcome), &f] { outcome->Deliver(f); });
    return result.get();
}
