#include "Platform/SerialQueue.h"

#include <QCoreApplication>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <vector>

namespace {

struct Registry
{
    std::mutex mutex;
    std::vector<std::weak_ptr<SerialQueue>> queues;
    // Started and not yet ended and deleted; a thread may outlive its queue object.
    QSet<QThread *> threads;
    bool postRoutineRegistered = false;
};

// Never destroyed: a post routine of the application object reads it.
Registry &registry()
{
    static auto *registry = new Registry;
    return *registry;
}

// On the UI thread once `thread` has finished, unless shutDownAll() has taken it already.
void reap(QThread *thread)
{
    {
        std::lock_guard lock(registry().mutex);
        if (!registry().threads.remove(thread))
            return;
    }
    thread->wait(); // it may still be returning from its last signal
    delete thread;
}

// Counts one submitted item until it has run or been dropped unrun. The count is shared: an
// item may go after its queue object has.
class PendingToken final
{
public:
    explicit PendingToken(std::shared_ptr<std::atomic_int> pending)
        : m_pending(std::move(pending))
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
    std::shared_ptr<std::atomic_int> m_pending;
};

} // namespace

std::shared_ptr<SerialQueue> SerialQueue::create(const QString &label)
{
    std::shared_ptr<SerialQueue> queue(new SerialQueue(label));
    if (!QCoreApplication::instance())
        return queue; // stopped from the start: nothing could stop its thread in time
    {
        std::lock_guard lock(registry().mutex);
        Registry &r = registry();
        std::erase_if(r.queues, [](const std::weak_ptr<SerialQueue> &q) { return q.expired(); });
        r.queues.push_back(queue);
        // Threads must stop before the application object goes, or Qt aborts on a running
        // thread; the entry stops them earlier, this catches every other process.
        if (!r.postRoutineRegistered) {
            qAddPostRoutine(&SerialQueue::shutDownAll);
            r.postRoutineRegistered = true;
        }
    }
    queue->m_stopped.store(false);
    return queue;
}

void SerialQueue::shutDownAll()
{
    std::vector<std::shared_ptr<SerialQueue>> queues;
    {
        std::lock_guard lock(registry().mutex);
        for (const std::weak_ptr<SerialQueue> &weak : std::as_const(registry().queues)) {
            if (auto queue = weak.lock())
                queues.push_back(std::move(queue));
        }
        registry().postRoutineRegistered = false;
    }
    // Everything submitted runs, including work that submits more, on this queue or another;
    // the bound only keeps work that resubmits itself forever from holding the exit.
    bool busy = true;
    for (int round = 0; busy && round < 1000; ++round) {
        busy = false;
        for (const auto &queue : queues) {
            if (queue->isRunning() && queue->m_pending->load() > 0) {
                busy = true;
                queue->sync([] {});
            }
        }
    }
    for (const auto &queue : queues)
        queue->stop();
    QSet<QThread *> threads;
    {
        std::lock_guard lock(registry().mutex);
        threads.swap(registry().threads);
    }
    for (QThread *thread : std::as_const(threads)) {
        thread->wait();
        delete thread;
    }
}

int SerialQueue::threadCount()
{
    std::lock_guard lock(registry().mutex);
    return int(registry().threads.size());
}

SerialQueue::SerialQueue(const QString &label)
    : m_label(label)
{ }

SerialQueue::~SerialQueue()
{
    stop();
}

QObject *SerialQueue::contextLocked()
{
    if (!m_context.load())
        startLocked();
    return m_context.load();
}

void SerialQueue::startLocked()
{
    auto *thread = new QThread;
    thread->setObjectName(m_label);
    QThread *ui = QCoreApplication::instance()->thread();
    if (thread->thread() != ui)
        thread->moveToThread(ui); // reaped there
    auto *context = new QObject;
    context->moveToThread(thread);
    // On the queue's own thread once its loop has ended: work that slipped in before the
    // stop still runs (what it submits is dropped), then the context goes, and with it the
    // timers of delayed work that never came due, where they live.
    QObject::connect(
        thread, &QThread::finished, context,
        [weak = weak_from_this(), context] {
            QCoreApplication::sendPostedEvents();
            delete context;
            if (const auto self = weak.lock()) {
                self->m_context.store(nullptr);
                self->m_thread.store(nullptr);
            }
        },
        Qt::DirectConnection);
    // Connected after the handler above, so it is posted once that has returned.
    QObject::connect(
        thread, &QThread::finished, QCoreApplication::instance(), [thread] { reap(thread); },
        Qt::QueuedConnection);
    {
        std::lock_guard lock(registry().mutex);
        registry().threads.insert(thread);
    }
    thread->start();
    m_context.store(context);
    m_thread.store(thread);
}

void SerialQueue::stop()
{
    QThread *thread = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped.exchange(true))
            return;
        thread = m_thread.load();
    }
    // The loop ends once the work it runs now returns; what waits behind it runs from the
    // `finished` handler. Only this call quits the thread, so it cannot be gone yet.
    if (thread)
        thread->quit();
}

bool SerialQueue::isCurrent() const
{
    const QThread *thread = m_thread.load();
    return thread && QThread::currentThread() == thread;
}

bool SerialQueue::async(std::function<void()> fn)
{
    return post([fn = std::move(fn)](QObject *) { fn(); });
}

bool SerialQueue::post(std::function<void(QObject *context)> fn)
{
    std::unique_lock lock(m_mutex);
    if (m_stopped.load()) {
        lock.unlock();
        fn = {}; // dropped here, outside the lock: its captures may submit work themselves
        return false;
    }
    QObject *context = contextLocked();
    QMetaObject::invokeMethod(
        context, [context, fn = std::move(fn), token = PendingToken(m_pending)] { fn(context); },
        Qt::QueuedConnection);
    return true;
}

void SerialQueue::sync(const std::function<void()> &fn)
{
    QObject *context = nullptr;
    QThread *ending = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (!isCurrent()) {
            if (m_stopped.load())
                ending = m_thread.load();
            else
                context = contextLocked();
        }
    }
    // Stopped, its thread may still be running what it was given: that ends first.
    if (ending)
        ending->wait();
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
