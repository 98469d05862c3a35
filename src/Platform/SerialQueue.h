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

// A named worker thread with its own event loop that runs submitted work one item at a
// time, in submission order. Queues are created on first use and shared by everyone who
// asks for the same label.
//
// Teardown is explicit: shutDownAll() runs everything already submitted (and whatever that
// submits in turn), drops delayed work that has not come due, and stops every thread. The
// queue objects themselves stay valid for the rest of the process: afterwards async() and
// schedule() drop their work at once and sync() runs inline, since no other thread is left
// to race with. The application entry calls it before the application object goes; a post
// routine of the application object does it for processes that do not.
//
// Objects that must live on the queue's thread (sockets, timers) are created from work
// running on it.
class SerialQueue final
{
public:
    // The queue with this label, created (or started again after shutDownAll()) on first
    // use. Call with an application object.
    static SerialQueue &named(const QString &label);
    // Drains and stops every queue; see above. Call on the UI thread, never from a queue.
    static void shutDownAll();

    QString label() const { return m_label; }
    bool isCurrent() const;
    // False once the queue has been shut down.
    bool isRunning() const { return !m_stopped.load(); }

    // Runs `fn` later on the queue.
    void async(std::function<void()> fn);
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
    ~SerialQueue() = delete; // queues live as long as the process
    void start();
    void shutDown();
    // Runs `fn` on the queue with the queue's context object, or drops it once stopped.
    void post(std::function<void(QObject *context)> fn);

    const QString m_label;
    // Orders submissions against the stop: nothing is posted to a context being deleted.
    mutable std::mutex m_mutex;
    std::atomic<QThread *> m_thread { nullptr };
    std::atomic<QObject *> m_context { nullptr };
    std::atomic_bool m_stopped { true };
    // Submitted work that has neither run nor been dropped yet.
    std::atomic_int m_pending { 0 };
};
