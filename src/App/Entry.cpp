#include "App/Entry.h"

#include "Platform/Gui/Symbols.h"
#include "Platform/InfoDictionary.h"
#include "Platform/SerialQueue.h"
#include "Theme/Theme.h"

#include <QApplication>

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
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QApplication::setApplicationName(QStringLiteral("Quorvel"));
    QApplication::setApplicationVersion(InfoDictionary::shortVersion());
    QApplication::setDesktopFileName(QStringLiteral("quorvel"));

    QApplication::setWindowIcon(Symbols::applicationIcon());
    Theme::installApplicationLook();

    int status = 0;
    {
        QuorvelApp quorvel(std::move(options));
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
