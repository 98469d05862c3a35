#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

// How a fake router answers commands once it is told to misbehave (after its state is read).
enum class Misbehaviour {
    none,
    acknowledgeOnly, // accepts a command but neither carries it out nor reports it
    contradict, // answers with its report that nothing changed
    stuckChatty, // answers nothing more, but reports another port every 50 ms
    refuseAll, // refuses every command and every question
    late, // answers as it should, `lateBy` later
};

// What every fake shares of a misbehaviour: a stuck router's chatter, a late one's delay.
class Misbehaving final
{
public:
    explicit Misbehaving(QObject *owner)
        : m_owner(owner)
    {
        QObject::connect(&m_chatter, &QTimer::timeout, owner, [this] { m_chat(); });
    }

    bool is(Misbehaviour mode) const { return m_mode == mode; }

    // `chat` sends one unrelated report; it runs every 50 ms while stuck.
    void set(Misbehaviour mode, std::chrono::milliseconds lateBy, std::function<void()> chat)
    {
        m_mode = mode;
        m_lateBy = lateBy;
        m_chat = std::move(chat);
        if (mode == Misbehaviour::stuckChatty)
            m_chatter.start(std::chrono::milliseconds(50));
        else
            m_chatter.stop();
    }

    // Writes `bytes` with `write` now, or `lateBy` later for a late router.
    void deliver(const QByteArray &bytes,
                 const std::function<void(const QByteArray &)> &write) const
    {
        if (is(Misbehaviour::late))
            QTimer::singleShot(m_lateBy, m_owner, [write, bytes] { write(bytes); });
        else if (!bytes.isEmpty())
            write(bytes);
    }

private:
    QObject *m_owner;
    Misbehaviour m_mode = Misbehaviour::none;
    std::chrono::milliseconds m_lateBy { 0 };
    std::function<void()> m_chat;
    QTimer m_chatter;
};
