#include "Platform/SerialQueue.h"

#include <QCoreApplication>
#include <QHash>
#include <QThread>
#include <QTimer>

namespace {

std::mutex &registryMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Never destroyed: queues are handed out by reference for the life of the process.
QHash<QString, SerialQueue *> &registry()
{
    static auto *queues = new QHash<QString, SerialQueue *>;
    return *queues;
}

bool postRoutineRegistered = false; // guarded by registryMutex()

// Counts one submitted item until it has run or been dropped unrun.
class PendingToken final
{
public:
    explicit PendingToken(std::atomic_int &pending)
        : m_pending(&pending)
    {
        ++*m_pending;
    }
    PendingToken(PendingToken &&other) noexcept
        : m_pending(std::exchange(other.m_pending, nullptr))
    { }
    PendingToken(const PendingToken &) = delete;
    PendingToken &operator=(const PendingToken &) = delete;
    PendingToken &operator=(PendingToken &&) = delete;
    ~PendingToken()
    {
        if (m_pending)
            --*m_pending;
    }

private:
    std::atomic_int *m_pending;
};

} // namespace

SerialQueue &SerialQueue::named(const QString &label)
{
    std::lock_guard lock(registryMutex());
    auto &queues = registry();
    SerialQueue *queue = queues.value(label);
    if (!queue) {
        queue = new SerialQueue(label);
        queues.insert(label, queue);
    }
    if (!queue->isRunning() && QCoreApplication::instance()) {
        // Threads must stop before the application object goes, or Qt aborts on a running
        // thread; the entry stops them earlier, this catches every other process.
        if (!postRoutineRegistered) {
            qAddPostRoutine(&SerialQueue::shutDownAll);
            postRoutineRegistered = true;
        }
        queue->start();
    }
    return *queue;
}

void SerialQueue::shutDownAll()
{
    QList<SerialQueue *> queues;
    {
        std::lock_guard lock(registryMutex());
        queues = registry().values();
        postRoutineRegistered = false;
    }
    // Everything submitted runs, including work that submits more, on this queue or another;
    // the bound only keeps work that resubmits itself forever from holding the exit.
    bool busy = true;
    for (int round = 0; busy && round < 1000; ++round) {
        busy = false;
        for (SerialQueue *queue : std::as_const(queues)) {
            if (queue->isRunning() && queue->m_pending.load() > 0) {
                busy = true;
                queue->sync([] {});
            }
        }
    }
    for (SerialQueue *queue : std::as_const(queues))
        queue->shutDown();
}

SerialQueue::SerialQueue(const QString &label)
    : m_label(label)
{ }

void SerialQueue::start()
{
    std::lock_guard lock(m_mutex);
    auto *thread = new QThread;
    thread->setObjectName(m_label);
    auto *context = new QObject;
    context->moveToThread(thread);
    // On the queue's own thread once its loop has ended: work that slipped in before the
    // stop still runs (what it submits is dropped), then the context goes, and with it the
    // timers of delayed work that never came due, where they live.
    QObject::connect(
        thread, &QThread::finished, context,
        [context] {
            QCoreApplication::sendPostedEvents();
            delete context;
        },
        Qt::DirectConnection);
    thread->start();
    m_context.store(context);
    m_thread.store(thread);
    m_stopped.store(false);
}

void SerialQueue::shutDown()
{
    QThread *thread = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped.load())
            return;
        m_stopped.store(true);
        thread = m_thread.load();
    }
    thread->quit();
    thread->wait();
    m_context.store(nullptr);
    m_thread.store(nullptr);
    delete thread;
}

bool SerialQueue::isCurrent() const
{
    const QThread *thread = m_thread.load();
    return thread && QThread::currentThread() == thread;
}

void SerialQueue::async(std::function<void()> fn)
{
    post([fn = std::move(fn)](QObject *) { fn(); });
}

void SerialQueue::post(std::function<void(QObject *context)> fn)
{
    std::unique_lock lock(m_mutex);
    if (m_stopped.load()) {
        lock.unlock();
        fn = {}; // dropped here, outside the lock: its captures may submit work themselves
        return;
    }
    QObject *context = m_context.load();
    QMetaObject::invokeMethod(
        context, [context, fn = std::move(fn), token = PendingToken(m_pending)] { fn(context); },
        Qt::QueuedConnection);
}

void SerialQueue::sync(const std::function<void()> &fn)
{
    QObject *context = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (!m_stopped.load() && !isCurrent())
            context = m_context.load();
    }
    // On the queue itself, or after the stop when no other thread is left to race with.
    if (!context) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(
        context, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}

DelayedWork SerialQueue::schedule(std::chrono::milliseconds delay, std::function<void()> fn)
{
    auto flag = std::make_shared<std::atomic_bool>(!isRunning()); // dropped once stopped
    post([delay, flag, fn = std::move(fn)](QObject *context) mutable {
        if (flag->load())
            return;
        // A timer owned by the context, so that work not yet due goes when the queue stops.
        // QTimer measures on the monotonic clock; PreciseTimer keeps short test delays exact.
        auto *timer = new QTimer(context);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, timer, [timer, flag, fn = std::move(fn)] {
            timer->deleteLater();
            if (!flag->exchange(true))
                fn();
        });
        timer->start(delay);
    });
    return DelayedWork(flag);
}
