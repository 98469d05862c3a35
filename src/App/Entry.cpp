#include "App/Entry.h"

#include "App/SingleInstance.h"
#include "Platform/Gui/Symbols.h"
#include "Platform/InfoDictionary.h"
#include "Platform/Memory.h"
#include "Platform/SerialQueue.h"
#include "Theme/FocusedWheel.h"
#include "Theme/Theme.h"

#include <QApplication>
#include <QFileInfo>

#include <cstdio>

namespace {

// Runs what the UI thread still has queued (drivers' disconnects, completions, deferred
// deletes), so that none of it is destroyed unrun with the application object. A few
// rounds, since work run here may queue more.
void runQueuedUiWork()
{
    for (int round = 0; round < 8; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

} // namespace

int runQuorvel(int &argc, char **argv, QuorvelAppOptions options)
{
    Platform::tuneAllocator();
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QApplication::setApplicationName(QStringLiteral("Quorvel"));
    QApplication::setApplicationVersion(InfoDictionary::shortVersion());
    QApplication::setDesktopFileName(QStringLiteral("quorvel"));

    // Before anything reads or writes a store: a second process would undo the first's
    // changes with its own copy of every file.
    const QString storePath = options.store.connectionsPath.isEmpty()
        ? ConnectionStore::defaultStoreURL()
        : options.store.connectionsPath;
    SingleInstance instance(QFileInfo(storePath).absolutePath());
    const SingleInstance::Role role = instance.claim();
    if (role == SingleInstance::Role::blocked) {
        std::fprintf(stderr, "%s\n", instance.problem().toLocal8Bit().constData());
        return 1;
    }
    if (role == SingleInstance::Role::secondary) {
        if (const auto shown = instance.askToShow(); !shown) {
            std::fprintf(stderr, "%s\n", shown.error().toLocal8Bit().constData());
            return 1;
        }
        return 0;
    }

    QApplication::setWindowIcon(Symbols::applicationIcon());
    Theme::installApplicationLook();
    installFocusedWheel();

    int status = 0;
    {
        QuorvelApp quorvel(std::move(options));
        QObject::connect(&instance, &SingleInstance::showRequested, &quorvel,
                         &QuorvelApp::raiseMainWindow);
        quorvel.showMainWindow();
        status = application.exec();
        quorvel.shutDown();
        runQueuedUiWork();
    }
    runQueuedUiWork();
    SerialQueue::shutDownAll();
    runQueuedUiWork();
    return status;
}
