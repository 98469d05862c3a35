#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <functional>
#include <memory>
#include <utility>

// Conventions for asynchronous operations:
// - an operation takes a completion handler and calls it exactly once, always on the UI
//   thread and never from inside the call itself, so callers see one ordering whatever
//   the operation did;
// - objects that own pending work are held by std::shared_ptr and capture themselves in
//   that work, so a pending operation keeps its owner alive until it completes.
namespace Platform {

// The object whose thread is the UI thread (the application instance).
inline QObject *uiContext()
{
    return QCoreApplication::instance();
}

inline bool isUiThread()
{
    auto *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Runs `fn` later on the UI thread (posted, never inline). Dropped without an application.
template<typename F>
void postToUi(F &&fn)
{
    if (auto *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::forward<F>(fn), Qt::QueuedConnection);
}

// Runs `fn` later on the UI thread unless `guard` has been destroyed by then.
template<typename F>
void postToUi(QObject *guard, F &&fn)
{
    if (guard)
        QMetaObject::invokeMethod(guard, std::forward<F>(fn), Qt::QueuedConnection);
}

// Hands `result` to `completion` on the UI thread; an empty completion is allowed.
template<typename R>
void complete(std::function<void(R)> completion, R result)
{
    if (!completion)
        return;
    postToUi([completion = std::move(completion), result = std::move(result)]() mutable {
        completion(std::move(result));
    });
}

inline void complete(std::function<void()> completion)
{
    if (!completion)
        return;
    postToUi(std::move(completion));
}

} // namespace Platform
