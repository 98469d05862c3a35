#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

// An unbounded, single-reader stream of values. Producers may yield from any thread; the
// reader receives every value in emission order on the thread of its context object.
// Values yielded before the reader attaches are kept; values yielded after finish() are
// discarded. A cancelled reader receives nothing more, not even the end of the stream.
template<typename T>
class EventStream final : public std::enable_shared_from_this<EventStream<T>>
{
public:
    using ValueHandler = std::function<void(const T &)>;
    using EndHandler = std::function<void()>;

    static std::shared_ptr<EventStream> create()
    {
        return std::shared_ptr<EventStream>(new EventStream);
    }

    // Returns false when the stream had already finished and the value was dropped.
    bool yield(T value)
    {
        std::lock_guard lock(m_mutex);
        if (m_finished)
            return false;
        m_buffer.push_back(std::move(value));
        scheduleLocked();
        return true;
    }

    void finish()
    {
        std::lock_guard lock(m_mutex);
        if (m_finished)
            return;
        m_finished = true;
        scheduleLocked();
    }

    bool isFinished() const
    {
        std::lock_guard lock(m_mutex);
        return m_finished;
    }

    // Attaches the one reader. Delivery happens on `context`'s thread and stops for good
    // when the context is destroyed or cancelReader() is called.
    void read(QObject *context, ValueHandler onValue, EndHandler onEnd = {})
    {
        std::lock_guard lock(m_mutex);
        m_context = context;
        m_onValue = std::move(onValue);
        m_onEnd = std::move(onEnd);
        m_cancelled = false;
        scheduleLocked();
    }

    void cancelReader()
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        m_onValue = {};
        m_onEnd = {};
        m_buffer.clear();
    }

    // Values waiting for the reader (for diagnostics and tests).
    std::size_t pendingCount() const
    {
        std::lock_guard lock(m_mutex);
        return m_buffer.size();
    }

private:
    EventStream() = default;

    void scheduleLocked()
    {
        if (m_scheduled || m_cancelled || !m_context || !m_onValue)
            return;
        if (m_buffer.empty() && !(m_finished && !m_endDelivered))
            return;
        m_scheduled = true;
        std::weak_ptr<EventStream> weak = this->shared_from_this();
        QMetaObject::invokeMethod(
            m_context.data(),
            [weak] {
                if (auto self = weak.lock())
                    self->drain();
            },
            Qt::QueuedConnection);
    }

    void drain()
    {
        for (;;) {
            ValueHandler onValue;
            EndHandler onEnd;
            T value;
            {
                std::lock_guard lock(m_mutex);
                if (m_cancelled || !m_context) {
                    m_scheduled = false;
                    return;
                }
                if (!m_buffer.empty()) {
                    value = std::move(m_buffer.front());
                    m_buffer.pop_front();
                    onValue = m_onValue;
                } else {
                    m_scheduled = false;
                    if (m_finished && !m_endDelivered) {
                        m_endDelivered = true;
                        onEnd = std::move(m_onEnd);
                        m_onValue = {};
                    }
                }
            }
            if (onValue) {
                onValue(value);
                continue;
            }
            if (onEnd)
                onEnd();
            return;
        }
    }

    mutable std::mutex m_mutex;
    std::deque<T> m_buffer;
    QPointer<QObject> m_context;
    ValueHandler m_onValue;
    EndHandler m_onEnd;
    bool m_finished = false;
    bool m_endDelivered = false;
    bool m_cancelled = false;
    bool m_scheduled = false;
};
