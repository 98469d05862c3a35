#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

// A handle on one piece of delayed work. Cancelling is safe from any thread and wins over
// a run that has not started yet; copies share the same work.
class DelayedWork final
{
public:
    DelayedWork() = default;

    void cancel()
    {
        if (m_cancelled)
            m_cancelled->store(true);
    }
    // True until the work has run or been cancelled.
    bool isPending() const { return m_cancelled && !m_cancelled->load(); }

private:
    friend class SerialQueue;
    explicit DelayedWork(std::shared_ptr<std::atomic_bool> flag)
        : m_cancelled(std::move(flag))
    { }
    std::shared_ptr<std::atomic_bool> m_cancelled;
};

// A worker thread with its own event loop that runs submitted work one item at a time, in
// submission order. Every owner makes its own, so one owner's work never waits behind
// another's; the label names the queue (and its thread) in logs, it is no identity to share by.
//
// Teardown is explicit. stop() lets what was already submitted run (what that submits is
// dropped), drops delayed work that has not come due and ends the thread, without waiting for
// it; the owner calls it when done with the queue, and the last reference going does it too.
// shutDownAll() runs everything every queue was given (and whatever that submits in turn),
// then stops every thread and waits for it. A stopped queue object stays valid for as long as
// it is held: async() and schedule() drop their work at once and sync() runs inline, once its
// thread has ended. The application entry calls shutDownAll() before the application object
// goes; a post routine of the application object does it for processes that do not.
//
// Objects that must live on the queue's thread (sockets, timers) are created from work
// running on it.
class SerialQueue final : public std::enable_shared_from_this<SerialQueue>
{
public:
    // A new running queue; its thread starts with the first work it is handed. Call with an
    // application object.
    static std::shared_ptr<SerialQueue> create(const QString &label);
    // Drains and stops every queue and waits for their threads; see above. Call on the UI
    // thread, never from a queue.
    static void shutDownAll();
    // Threads started and not yet ended (diagnostics).
    static int threadCount();

    ~SerialQueue();

    QString label() const { return m_label; }
    bool isCurrent() const;
    // False once the queue has been stopped.
    bool isRunning() const { return !m_stopped.load(); }
    // See above. From any thread, the queue's own included; returns at once.
    void stop();

    // Runs `fn` later on the queue. False when the queue has stopped and dropped it: work
    // that was taken always runs, even when the queue is stopped before its turn.
    bool async(std::function<void()> fn);
    // Runs `fn` on the queue and waits for it; runs it inline when called on the queue.
    void sync(const std::function<void()> &fn);
    template<typename R> R sync(const std::function<R()> &fn)
    {
        R result {};
        sync([&] { result = fn(); });
        return result;
    }
    // Runs `fn` on the queue once `delay` has passed on the monotonic clock, unless the
    // returned handle is cancelled first.
    DelayedWork schedule(std::chrono::milliseconds delay, std::function<void()> fn);

    SerialQueue(const SerialQueue &) = delete;
    SerialQueue &operator=(const SerialQueue &) = delete;

private:
    explicit SerialQueue(const QString &label);
    // The context object, starting the thread on first use; with m_mutex held.
    QObject *contextLocked();
    void startLocked();
    // Runs `fn` on the queue with the queue's context object, or drops it once stopped.
    bool post(std::function<void(QObject *context)> fn);

    const QString m_label;
    // Orders submissions against the stop: nothing is posted to a context being deleted.
    mutable std::mutex m_mutex;
    // Both cleared by the thread itself once it has run its last work.
    std::atomic<QThread *> m_thread { nullptr };
    std::atomic<QObject *> m_context { nullptr };
    std::atomic_bool m_stopped { true };
    // Submitted work that has neither run nor been dropped yet.
    const std::shared_ptr<std::atomic_int> m_pending = std::make_shared<std::atomic_int>(0);
};
