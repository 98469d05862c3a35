#include "Platform/Bonjour.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

#ifdef QUORVEL_HAVE_AVAHI
#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/timeval.h>
#include <avahi-common/watch.h>
#endif

Q_LOGGING_CATEGORY(lcBonjour, "quorvel.bonjour", QtWarningMsg)

namespace {
const char *const kTimedOut = "The service wasn't resolved in time.";
} // namespace

#ifdef QUORVEL_HAVE_AVAHI

// The daemon library drives its D-Bus connection through an abstract poll interface; these
// two records and the adapter below map it onto socket notifiers and timers of the thread
// that owns the adapter.
struct AvahiWatch
{
    int fd = -1;
    AvahiWatchCallback callback = nullptr;
    void *userdata = nullptr;
    int happened = 0;
    QPointer<QSocketNotifier> in;
    QPointer<QSocketNotifier> out;
};

struct AvahiTimeout
{
    AvahiTimeoutCallback callback = nullptr;
    void *userdata = nullptr;
    QPointer<QTimer> timer;
};

namespace {

class QtAvahiPoll final
{
public:
    QtAvahiPoll()
    {
        m_api.userdata = this;
        m_api.watch_new = &watchNew;
        m_api.watch_update = &watchUpdate;
        m_api.watch_get_events = &watchGetEvents;
        m_api.watch_free = &watchFree;
        m_api.timeout_new = &timeoutNew;
        m_api.timeout_update = &timeoutUpdate;
        m_api.timeout_free = &timeoutFree;
    }
    Q_DISABLE_COPY_MOVE(QtAvahiPoll)

    const AvahiPoll *api() const { return &m_api; }

private:
    static QtAvahiPoll *self(const AvahiPoll *api)
    {
        return static_cast<QtAvahiPoll *>(api->userdata);
    }

    static void fire(AvahiWatch *w, AvahiWatchEvent event)
    {
        // The callback may free the watch; nothing touches `w` afterwards.
        w->happened = event;
        w->callback(w, w->fd, event, w->userdata);
    }

    static AvahiWatch *watchNew(const AvahiPoll *api, int fd, AvahiWatchEvent event,
                                AvahiWatchCallback callback, void *userdata)
    {
        auto *poll = self(api);
        auto *w = new AvahiWatch;
        w->fd = fd;
        w->callback = callback;
        w->userdata = userdata;
        w->in = new QSocketNotifier(fd, QSocketNotifier::Read, &poll->m_context);
        w->out = new QSocketNotifier(fd, QSocketNotifier::Write, &poll->m_context);
        QObject::connect(w->in, &QSocketNotifier::activated, w->in,
                         [w] { fire(w, AVAHI_WATCH_IN); });
        QObject::connect(w->out, &QSocketNotifier::activated, w->out,
                         [w] { fire(w, AVAHI_WATCH_OUT); });
        watchUpdate(w, event);
        return w;
    }

    static void watchUpdate(AvahiWatch *w, AvahiWatchEvent event)
    {
        if (w->in)
            w->in->setEnabled(event & AVAHI_WATCH_IN);
        if (w->out)
            w->out->setEnabled(event & AVAHI_WATCH_OUT);
    }

    static AvahiWatchEvent watchGetEvents(AvahiWatch *w) { return AvahiWatchEvent(w->happened); }

    static void watchFree(AvahiWatch *w)
    {
        for (QSocketNotifier *n : { w->in.data(), w->out.data() }) {
            if (n) {
                n->setEnabled(false);
                n->deleteLater(); // may be inside its own activation
            }
        }
        delete w;
    }

    static AvahiTimeout *timeoutNew(const AvahiPoll *api, const struct timeval *tv,
                                    AvahiTimeoutCallback callback, void *userdata)
    {
        auto *poll = self(api);
        auto *t = new AvahiTimeout;
        t->callback = callback;
        t->userdata = userdata;
        t->timer = new QTimer(&poll->m_context);
        t->timer->setSingleShot(true);
        QObject::connect(t->timer, &QTimer::timeout, t->timer,
                         [t] { t->callback(t, t->userdata); });
        timeoutUpdate(t, tv);
        return t;
    }

    static void timeoutUpdate(AvahiTimeout *t, const struct timeval *tv)
    {
        if (!t->timer)
            return;
        if (!tv) {
            t->timer->stop();
            return;
        }
        // avahi_age() is how long ago the deadline was; a future deadline is negative.
        const AvahiUsec age = avahi_age(tv);
        const qint64 ms = age >= 0 ? 0 : (-age + 999) / 1000;
        t->timer->start(int(qMin<qint64>(ms, std::numeric_limits<int>::max())));
    }

    static void timeoutFree(AvahiTimeout *t)
    {
        if (t->timer) {
            t->timer->stop();
            t->timer->deleteLater();
        }
        delete t;
    }

    AvahiPoll m_api {};
    QObject m_context;
};

QString avahiText(int error)
{
    return QString::fromUtf8(avahi_strerror(error));
}

// One connection to the daemon. Failures after a successful open are reported through
// `onFailure` from inside the library's callbacks; the owner must not free the session
// from there.
class AvahiSession final
{
public:
    AvahiSession() = default;
    Q_DISABLE_COPY_MOVE(AvahiSession)
    ~AvahiSession()
    {
        if (m_client)
            avahi_client_free(m_client);
    }

    // Returns the error text, or an empty text once connected.
    QString open(std::function<void(const QString &)> onFailure)
    {
        int error = 0;
        m_client
            = avahi_client_new(m_poll.api(), AvahiClientFlags(0), &clientCallback, this, &error);
        if (!m_client)
            return avahiText(error);
        m_onFailure = std::move(onFailure);
        return {};
    }

    AvahiClient *client() const { return m_client; }
    QString lastError() const
    {
        return m_client ? avahiText(avahi_client_errno(m_client)) : QString();
    }

private:
    static void clientCallback(AvahiClient *client, AvahiClientState state, void *userdata)
    {
        auto *self = static_cast<AvahiSession *>(userdata);
        if (state == AVAHI_CLIENT_FAILURE && self->m_onFailure)
            self->m_onFailure(avahiText(avahi_client_errno(client)));
    }

    QtAvahiPoll m_poll; // declared first: outlives the client
    AvahiClient *m_client = nullptr;
    std::function<void(const QString &)> m_onFailure;
};

} // namespace

#endif // QUORVEL_HAVE_AVAHI

// ---- BonjourBrowser -------------------------------------------------------------------

struct BonjourBrowser::Private
{
    struct Entry
    {
        int interfaceIndex = 0;
        int protocol = 0;
        BonjourService service;
        bool operator==(const Entry &) const = default;
    };

    BonjourBrowser *q = nullptr;
    QString type;
    QString domain;
    // Lives on the starting thread; posted work dies with it.
    std::unique_ptr<QObject> context;
    bool started = false;
    bool failed = false;
    bool deliveryPending = false;
    bool deliveredOnce = false;
    QList<Entry> entries;
    QList<BonjourService> delivered;
#ifdef QUORVEL_HAVE_AVAHI
    std::unique_ptr<AvahiSession> session;
    AvahiServiceBrowser *browser = nullptr;
#endif

    void post(std::function<void()> fn)
    {
        QMetaObject::invokeMethod(context.get(), std::move(fn), Qt::QueuedConnection);
    }

    void fail(const QString &error)
    {
        if (failed)
            return;
        failed = true;
        qCWarning(lcBonjour) << "browsing" << type << "failed:" << error;
        post([this, error] { q->reportState(State::failed, error); });
    }

    void scheduleDelivery()
    {
        if (deliveryPending)
            return;
        deliveryPending = true;
        post([this] {
            deliveryPending = false;
            deliver();
        });
    }

    // The same instance can be seen on several interfaces and address families; the
    // result set names it once.
    void deliver()
    {
        QList<BonjourService> unique;
        for (const Entry &e : std::as_const(entries)) {
            if (!unique.contains(e.service))
                unique.append(e.service);
        }
        if (deliveredOnce && unique == delivered)
            return;
        deliveredOnce = true;
        delivered = unique;
        q->reportResults(unique);
    }

#ifdef QUORVEL_HAVE_AVAHI
    static void browseCallback(AvahiServiceBrowser *, AvahiIfIndex interfaceIndex,
                               AvahiProtocol protocol, AvahiBrowserEvent event, const char *name,
                               const char *type, const char *domain, AvahiLookupResultFlags,
                               void *userdata)
    {
        auto *self = static_cast<Private *>(userdata);
        switch (event) {
        case AVAHI_BROWSER_NEW:
        case AVAHI_BROWSER_REMOVE: {
            const Entry entry { int(interfaceIndex),
                                int(protocol),
                                { QString::fromUtf8(name), QString::fromUtf8(type),
                                  QString::fromUtf8(domain) } };
            if (event == AVAHI_BROWSER_NEW) {
                if (!self->entries.contains(entry))
                    self->entries.append(entry);
            } else {
                self->entries.removeAll(entry);
            }
            self->scheduleDelivery();
            break;
        }
        case AVAHI_BROWSER_ALL_FOR_NOW:
        case AVAHI_BROWSER_CACHE_EXHAUSTED:
            self->scheduleDelivery();
            break;
        case AVAHI_BROWSER_FAILURE:
            self->fail(self->session ? self->session->lastError() : QString());
            break;
        }
    }
#endif
};

BonjourBrowser::BonjourBrowser(const QString &type, const QString &domain)
    : d(std::make_unique<Private>())
{
    d->q = this;
    d->type = type;
    d->domain = domain;
}

BonjourBrowser::~BonjourBrowser()
{
    cancel();
}

void BonjourBrowser::start()
{
    if (d->started)
        return;
    d->started = true;
    d->context = std::make_unique<QObject>();
#ifdef QUORVEL_HAVE_AVAHI
    d->session = std::make_unique<AvahiSession>();
    Private *p = d.get();
    const QString error = d->session->open([p](const QString &text) { p->fail(text); });
    if (!error.isEmpty()) {
        d->fail(error);
        return;
    }
    const QByteArray type = d->type.toUtf8();
    const QByteArray domain = d->domain.toUtf8();
    d->browser = avahi_service_browser_new(d->session->client(), AVAHI_IF_UNSPEC,
                                           AVAHI_PROTO_UNSPEC, type.constData(),
                                           domain.isEmpty() ? nullptr : domain.constData(),
                                           AvahiLookupFlags(0), &Private::browseCallback, p);
    if (!d->browser) {
        d->fail(d->session->lastError());
        return;
    }
    qCDebug(lcBonjour) << "browsing" << d->type;
    d->post([p] { p->q->reportState(State::ready); });
#else
    d->fail(QStringLiteral("Bonjour support isn't built in"));
#endif
}

void BonjourBrowser::cancel()
{
#ifdef QUORVEL_HAVE_AVAHI
    if (d->browser) {
        avahi_service_browser_free(d->browser);
        d->browser = nullptr;
    }
    d->session.reset();
#endif
    d->context.reset();
    d->entries.clear();
}

ServiceBrowserFactory BonjourBrowser::factory()
{
    return [](const QString &type) -> std::unique_ptr<ServiceBrowser> {
        return std::make_unique<BonjourBrowser>(type);
    };
}

// ---- BonjourResolution ----------------------------------------------------------------

struct BonjourResolution::Private
{
    BonjourService service;
    int timeoutMs = 0;
    Completion done;
    QTimer timer;
    bool finished = false;
#ifdef QUORVEL_HAVE_AVAHI
    std::unique_ptr<AvahiSession> session;
    AvahiServiceResolver *resolver = nullptr;
    bool ipv4Only = true;

    void freeResolver()
    {
        if (resolver) {
            avahi_service_resolver_free(resolver);
            resolver = nullptr;
        }
    }
#endif
};

QPointer<BonjourResolution> BonjourResolution::resolve(const BonjourService &service, int timeoutMs,
                                                       QObject *context, Completion done)
{
    auto *resolution = new BonjourResolution(service, timeoutMs, context, std::move(done));
    resolution->begin();
    return resolution;
}

BonjourResolution::BonjourResolution(const BonjourService &service, int timeoutMs, QObject *context,
                                     Completion done)
    : QObject(context)
    , d(std::make_unique<Private>())
{
    d->service = service;
    d->timeoutMs = qMax(0, timeoutMs);
    d->done = std::move(done);
    d->timer.setSingleShot(true);
    connect(&d->timer, &QTimer::timeout, this,
            [this] { finish(std::unexpected(QString::fromUtf8(kTimedOut))); });
}

BonjourResolution::~BonjourResolution()
{
#ifdef QUORVEL_HAVE_AVAHI
    d->freeResolver();
    d->session.reset();
#endif
}

void BonjourResolution::cancel()
{
    d->finished = true;
    d->done = {};
    d->timer.stop();
#ifdef QUORVEL_HAVE_AVAHI
    d->freeResolver();
    d->session.reset();
#endif
    deleteLater();
}

void BonjourResolution::begin()
{
    d->timer.start(d->timeoutMs);
#ifdef QUORVEL_HAVE_AVAHI
    d->session = std::make_unique<AvahiSession>();
    const QString error
        = d->session->open([this](const QString &text) { finish(std::unexpected(text)); });
    if (!error.isEmpty()) {
        finish(std::unexpected(error));
        return;
    }
    startResolver(true);
#else
    finish(std::unexpected(QStringLiteral("Bonjour support isn't built in")));
#endif
}

void BonjourResolution::startResolver(bool ipv4Only)
{
#ifdef QUORVEL_HAVE_AVAHI
    d->ipv4Only = ipv4Only;
    const QByteArray name = d->service.name.toUtf8();
    const QByteArray type = d->service.type.toUtf8();
    const QByteArray domain = d->service.domain.toUtf8();
    auto callback = [](AvahiServiceResolver *, AvahiIfIndex, AvahiProtocol,
                       AvahiResolverEvent event, const char *, const char *, const char *,
                       const char *hostName, const AvahiAddress *address, uint16_t port,
                       AvahiStringList *, AvahiLookupResultFlags, void *userdata) {
        auto *self = static_cast<BonjourResolution *>(userdata);
        if (event == AVAHI_RESOLVER_FOUND && address) {
            char text[AVAHI_ADDRESS_STR_MAX] = {};
            avahi_address_snprint(text, sizeof text, address);
            self->finish(ResolvedService { QString::fromUtf8(hostName ? hostName : ""),
                                           QString::fromUtf8(text), port });
            return;
        }
        const QString error = self->d->session ? self->d->session->lastError() : QString();
        self->d->freeResolver();
        if (self->d->ipv4Only) {
            // No IPv4 address (or none yet): try any address family before giving up.
            self->startResolver(false);
            return;
        }
        self->finish(std::unexpected(error));
    };
    d->resolver = avahi_service_resolver_new(
        d->session->client(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, name.constData(),
        type.constData(), domain.isEmpty() ? nullptr : domain.constData(),
        ipv4Only ? AVAHI_PROTO_INET : AVAHI_PROTO_UNSPEC, AvahiLookupFlags(0), callback, this);
    if (!d->resolver)
        finish(std::unexpected(d->session->lastError()));
#else
    Q_UNUSED(ipv4Only)
#endif
}

void BonjourResolution::finish(Result result)
{
    if (d->finished)
        return;
    d->finished = true;
    d->timer.stop();
#ifdef QUORVEL_HAVE_AVAHI
    d->freeResolver();
#endif
    // Delivered later: finish() can run inside the daemon library's callbacks or inside
    // resolve() itself, and the session must not be freed from there.
    QMetaObject::invokeMethod(
        this,
        [this, result = std::move(result)]() mutable {
#ifdef QUORVEL_HAVE_AVAHI
            d->session.reset();
#endif
            if (auto done = std::exchange(d->done, {}))
                done(std::move(result));
            deleteLater();
        },
        Qt::QueuedConnection);
}
