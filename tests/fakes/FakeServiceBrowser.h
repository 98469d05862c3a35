#pragma once

#include "Platform/Bonjour.h"

#include <QList>

#include <memory>

class FakeServiceBrowsers;

// Stands in for the mDNS daemon's browser: the test decides what each one reports.
class FakeServiceBrowser final : public ServiceBrowser
{
public:
    FakeServiceBrowser(QString type, FakeServiceBrowsers *owner)
        : m_type(std::move(type))
        , m_owner(owner)
    { }
    ~FakeServiceBrowser() override;

    void start() override { m_started = true; }
    void cancel() override;

    void publish(const QList<BonjourService> &all) { reportResults(all); }
    void fail(const QString &error) { reportState(State::failed, error); }

    QString m_type;
    FakeServiceBrowsers *m_owner;
    bool m_started = false;
};

// Makes fake browsers and keeps track of them; nothing ever reaches the network.
class FakeServiceBrowsers
{
public:
    QList<FakeServiceBrowser *> browsers; // owned by the code under test; null once destroyed
    int made = 0;
    int cancelled = 0;

    ServiceBrowserFactory factory()
    {
        return [this](const QString &type) {
            auto browser = std::make_unique<FakeServiceBrowser>(type, this);
            browsers.append(browser.get());
            ++made;
            return browser;
        };
    }
    // The newest live browser of `type`.
    FakeServiceBrowser *latest(const QString &type) const
    {
        for (qsizetype i = browsers.size() - 1; i >= 0; --i) {
            if (browsers[i] && browsers[i]->m_type == type)
                return browsers[i];
        }
        return nullptr;
    }
    int started() const
    {
        int n = 0;
        for (FakeServiceBrowser *browser : browsers)
            n += browser && browser->m_started;
        return n;
    }
};

inline FakeServiceBrowser::~FakeServiceBrowser()
{
    m_owner->browsers.replace(m_owner->browsers.indexOf(this), nullptr);
}

inline void FakeServiceBrowser::cancel()
{
    ++m_owner->cancelled;
}
