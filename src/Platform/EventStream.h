#pragma once

#include <QElapsedTimer>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// A single-reader stream of values. Producers may yield from any thread; the reader receives
// every value in emission order on the thread of its context object. Values yielded before
// the reader attaches are kept; values yielded after finish() are discarded. A cancelled
// reader receives nothing more, not even the end of the stream, and values yielded after it
// are dropped until a reader attaches again.
//
// While the stream is open and read, yield() never drops a value and never blocks, so it is
// unbounded for producers that ignore its capacity. A producer that can wait (one that reads a
// socket) asks hasRoom() before producing more and, when the stream is full, whenRoom() to be told
// once the reader has taken half of what waits: it stops reading meanwhile instead of letting the
// stream grow.
//
// The reader is handed values for at most one delivery slice per event-loop turn; the rest
// waits for the next turn, so a flood of values never keeps the reader's thread from painting
// and handling input. A reader that wants to act once per batch of values (repaint once, say)
// passes `onBurstEnd`: it runs after the last value of each delivery slice.
template<typename T> class EventStream final : public std::enable_shared_from_this<EventStream<T>>
{
public:
    using ValueHandler = std::function<void(const T &)>;
    using EndHandler = std::function<void()>;
    using BurstEndHandler = std::function<void()>;

    static constexpr std::size_t defaultCapacity = 8192;
    static constexpr std::chrono::milliseconds deliverySlice { 4 };

    static std::shared_ptr<EventStream> create(std::size_t capacity = defaultCapacity)
    {
        return std::shared_ptr<EventStream>(new EventStream(capacity));
    }

    // Returns false when the value was dropped: the stream had finished, or its reader was
    // cancelled and nobody will ever take it.
    bool yield(T value)
    {
        std::lock_guard lock(m_mutex);
        if (m_finished || m_cancelled)
            return false;
        m_buffer.push_back(std::move(value));
        scheduleLocked();
        return true;
    }

    void finish()
    {
        std::vector<std::function<void()>> waiting;
        {
            std::lock_guard lock(m_mutex);
            if (m_finished)
                return;
            m_finished = true;
            scheduleLocked();
            waiting.swap(m_roomWaiters); // nobody waits on a stream that takes nothing more
        }
        for (auto &fn : waiting)
            fn();
    }

    bool isFinished() const
    {
        std::lock_guard lock(m_mutex);
        return m_finished;
    }

    // Attaches the one reader. Delivery happens on `context`'s thread and stops for good
    // when the context is destroyed or cancelReader() is called.
    void read(QObject *context, ValueHandler onValue, EndHandler onEnd = {},
              BurstEndHandler onBurstEnd = {})
    {
        std::lock_guard lock(m_mutex);
        m_context = context;
        m_onValue = std::move(onValue);
        m_onEnd = std::move(onEnd);
        m_onBurstEnd = std::move(onBurstEnd);
        m_cancelled = false;
        scheduleLocked();
    }

    void cancelReader()
    {
        std::vector<std::function<void()>> waiting;
        {
            std::lock_guard lock(m_mutex);
            m_cancelled = true;
            m_onValue = {};
            m_onEnd = {};
            m_onBurstEnd = {};
            m_buffer.clear();
            waiting.swap(m_roomWaiters);
        }
        for (auto &fn : waiting)
            fn();
    }

    std::size_t capacity() const { return m_capacity; }

    // Values waiting for the reader (diagnostics).
    std::size_t pendingCount() const
    {
        std::lock_guard lock(m_mutex);
        return m_buffer.size();
    }

    // Whether a producer that can wait should produce more now.
    bool hasRoom() const
    {
        std::lock_guard lock(m_mutex);
        return hasRoomLocked();
    }

    // Calls `fn` once as soon as the stream has room: at once (inline) when it has room now,
    // else from the thread that makes room (the reader's, or that of finish() or
    // cancelReader()). `fn` must not call back into the stream's reader side.
    void whenRoom(std::function<void()> fn)
    {
        {
            std::lock_guard lock(m_mutex);
            if (!hasRoomLocked()) {
                m_roomWaiters.push_back(std::move(fn));
                return;
            }
        }
        fn();
    }

private:
    explicit EventStream(std::size_t capacity)
        : m_capacity(std::max<std::size_t>(capacity, 1))
    { }

    bool hasRoomLocked() const { return m_finished || m_cancelled || m_buffer.size() < m_capacity; }

    void scheduleLocked()
    {
        if (m_scheduled || m_cancelled || !m_context || !m_onValue)
            return;
        if (m_buffer.empty() && !(m_finished && !m_endDelivered))
            return;
        m_scheduled = true;
        // Held until delivered: the last producer may let the stream go right after its last
        // value (a link whose queue ends with it), and the reader still gets what was sent.
        QMetaObject::invokeMethod(
            m_context.data(), [self = this->shared_from_this()] { self->drain(); },
            Qt::QueuedConnection);
    }

    // Producers wait until half the capacity is free again, so they resume in bursts rather
    // than once per value taken.
    std::vector<std::function<void()>> takeRoomWaitersLocked()
    {
        std::vector<std::function<void()>> waiting;
        if (!m_roomWaiters.empty() && m_buffer.size() <= m_capacity / 2)
            waiting.swap(m_roomWaiters);
        return waiting;
    }

    void drain()
    {
        bool delivered = false;
        const EndHandler onEnd = deliverSlice(delivered);
        if (delivered) {
            BurstEndHandler onBurstEnd;
            {
                std::lock_guard lock(m_mutex);
                if (!m_cancelled && m_context)
                    onBurstEnd = m_onBurstEnd;
                if (m_endDelivered)
                    m_onBurstEnd = {};
            }
            if (onBurstEnd)
                onBurstEnd();
        }
        if (onEnd)
            onEnd();
    }

    // Hands the reader at most one slice of values, setting `delivered` when it handed any.
    // Returns the end handler when the stream's end is due now.
    EndHandler deliverSlice(bool &delivered)
    {
        constexpr qint64 sliceNanoseconds
            = std::chrono::duration_cast<std::chrono::nanoseconds>(deliverySlice).count();
        QElapsedTimer slice;
        slice.start();
        for (;;) {
            ValueHandler onValue;
            EndHandler onEnd;
            T value;
            std::vector<std::function<void()>> waiting;
            {
                std::lock_guard lock(m_mutex);
                if (m_cancelled || !m_context) {
                    m_scheduled = false;
                    return {};
                }
                if (!m_buffer.empty() && slice.nsecsElapsed() >= sliceNanoseconds) {
                    // The rest waits for the next turn of the event loop.
                    m_scheduled = false;
                    scheduleLocked();
                    return {};
                }
                if (!m_buffer.empty()) {
                    value = std::move(m_buffer.front());
                    m_buffer.pop_front();
                    onValue = m_onValue;
                    waiting = takeRoomWaitersLocked();
                } else {
                    m_scheduled = false;
                    if (m_finished && !m_endDelivered) {
                        m_endDelivered = true;
                        onEnd = std::move(m_onEnd);
                        m_onValue = {};
                    }
                }
            }
            for (auto &fn : waiting)
                fn();
            if (!onValue)
                return onEnd;
            onValue(value);
            delivered = true;
        }
    }

    const std::size_t m_capacity;
    mutable std::mutex m_mutex;
    std::deque<T> m_buffer;
    QPointer<QObject> m_context;
    ValueHandler m_onValue;
    EndHandler m_onEnd;
    BurstEndHandler m_onBurstEnd;
    std::vector<std::function<void()>> m_roomWaiters;
    bool m_finished = false;
    bool m_endDelivered = false;
    bool m_cancelled = false;
    bool m_scheduled = false;
};
