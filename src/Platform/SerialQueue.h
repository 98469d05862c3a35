#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

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
// asks for the same label; they live until the application object is destroyed.
//
// Objects that must live on the queue's thread (sockets, timers) are created from work
// running on it, or parented to context().
class SerialQueue final
{
public:
    // The queue with this label, created on first use. Call with an application object.
    static SerialQueue &named(const QString &label);

    QString label() const { return m_label; }
    // An object living on the queue's thread, for connections and QTimer contexts.
    QObject *context() const { return m_context; }
    bool isCurrent() const;

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
    ~SerialQueue();
    static void shutDownAll();

    QString m_label;
    QThread *m_thread = nullptr;
    QObject *m_context = nullptr;
};
