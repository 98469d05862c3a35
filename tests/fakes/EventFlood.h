#pragma once

#include "Drivers/RouterDriver.h"

#include <QThread>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// A router that reports changes without pause: a thread of its own yields `next(n)` for n = 0,
// 1, … into a driver's event stream as fast as the stream takes them, waiting for room when it
// is full, as a driver reading a socket does. A null `next` result ends the flood.
class EventFlood final
{
public:
    using Next = std::function<std::optional<RouterDriverEvent>(quint64 sequence)>;

    EventFlood(std::shared_ptr<RouterEventStream> stream, Next next)
        : m_stream(std::move(stream))
        , m_next(std::move(next))
    {
        m_thread.reset(QThread::create([this] { run(); }));
        m_thread->start();
    }
    ~EventFlood() { stop(); }
    EventFlood(const EventFlood &) = delete;
    EventFlood &operator=(const EventFlood &) = delete;

    void stop()
    {
        {
            std::lock_guard lock(m_room->mutex);
            m_room->stopped = true;
        }
        m_room->changed.notify_all();
        m_thread->wait();
    }

private:
    // Shared with the stream's room callback, which may run after the flood is gone.
    struct Room
    {
        std::mutex mutex;
        std::condition_variable changed;
        bool free = false;
        bool stopped = false;
    };

    void run()
    {
        for (quint64 sequence = 0;;) {
            {
                std::lock_guard lock(m_room->mutex);
                if (m_room->stopped)
                    return;
            }
            if (!m_stream->hasRoom()) {
                waitForRoom();
                continue;
            }
            std::optional<RouterDriverEvent> event = m_next(sequence++);
            if (!event)
                return;
            m_stream->yield(std::move(*event));
        }
    }

    void waitForRoom()
    {
        const std::shared_ptr<Room> room = m_room;
        {
            std::lock_guard lock(room->mutex);
            room->free = false;
        }
        m_stream->whenRoom([room] {
            {
                std::lock_guard lock(room->mutex);
                room->free = true;
            }
            room->changed.notify_all();
        });
        std::unique_lock lock(room->mutex);
        room->changed.wait(lock, [&] { return room->free || room->stopped; });
    }

    std::shared_ptr<RouterEventStream> m_stream;
    Next m_next;
    std::shared_ptr<Room> m_room = std::make_shared<Room>();
    std::unique_ptr<QThread> m_thread;
};
