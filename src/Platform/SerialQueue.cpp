#include "Platform/SerialQueue.h"

#include <QCoreApplication>
#include <QHash>
#include <QThread>
#include <QTimer>

#include <mutex>

namespace {

std::mutex &registryMutex()
{
    static std::mutex mutex;
    return mutex;
}

QHash<QString, SerialQueue *> &registry()
{
    static QHash<QString, SerialQueue *> queues;
    return queues;
}

} // namespace

SerialQueue &SerialQueue::named(const QString &label)
{
    std::lock_guard lock(registryMutex());
    auto &queues = registry();
    if (SerialQueue *queue = queues.value(label))
        return *queue;
    if (queues.isEmpty())
        qAddPostRoutine(&SerialQueue::shutDownAll);
    auto *queue = new SerialQueue(label);
    queues.insert(label, queue);
    return *queue;
}

// Threads must stop before the application object goes, or Qt aborts on a running thread.
void SerialQueue::shutDownAll()
{
    QList<SerialQueue *> queues;
    {
        std::lock_guard lock(registryMutex());
        queues = registry().values();
        registry().clear();
    }
    for (SerialQueue *queue : queues)
        delete queue;
}

SerialQueue::SerialQueue(const QString &label)
    : m_label(label)
    , m_thread(new QThread)
    , m_context(new QObject)
{
    m_thread->setObjectName(label);
    m_context->moveToThread(m_thread);
    m_thread->start();
}

SerialQueue::~SerialQueue()
{
    // The context is deleted on its own thread so that its children (sockets, timers)
    // are torn down where they live.
    QMetaObject::invokeMethod(
        m_context, [context = m_context] { delete context; }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

bool SerialQueue::isCurrent() const
{
    return QThread::currentThread() == m_thread;
}

void SerialQueue::async(std::function<void()> fn)
{
    QMetaObject::invokeMethod(m_context, std::move(fn), Qt::QueuedConnection);
}

void SerialQueue::sync(const std::function<void()> &fn)
{
    if (isCurrent()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(
        m_context, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}

DelayedWork SerialQueue::schedule(std::chrono::milliseconds delay, std::function<void()> fn)
{
    auto flag = std::make_shared<std::atomic_bool>(false);
    QObject *context = m_context;
    async([context, delay, flag, fn = std::move(fn)]() mutable {
        if (flag->load())
            return;
        // QTimer measures on the monotonic clock; PreciseTimer keeps short test delays exact.
        QTimer::singleShot(delay, Qt::PreciseTimer, context, [flag, fn = std::move(fn)] {
            if (!flag->exchange(true))
                fn();
        });
    });
    return DelayedWork(flag);
}
