#include "BugWarnings.h"

#include <QRegularExpression>
#include <QThread>

namespace BugWarnings {

namespace {

QtMessageHandler testlog = nullptr;

void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && meansABug(message)) {
        if (QThread::currentThread() != qApp->thread()) {
            // Qt Test fails only on the test's own thread: the warning is raised again there.
            QMetaObject::invokeMethod(
                qApp, [message] { qWarning("%s", qPrintable(message)); }, Qt::QueuedConnection);
            return;
        }
        // Qt Test swallows it if the test expects it, and fails the test otherwise.
        QTest::failOnWarning(QRegularExpression(
            QStringLiteral("\\A%1\\z").arg(QRegularExpression::escape(message))));
    }
    testlog(type, context, message);
}

} // namespace

bool meansABug(const QString &message)
{
    static const QRegularExpression patterns(QStringList {
        QStringLiteral("^QAbstractItemView::\\w+ called with an editor that does not belong"),
        QStringLiteral("^QObject::(dis)?connect: (No such|Cannot|Unexpected)"),
        QStringLiteral("^QObject: Cannot create children for a parent .* different thread"),
        QStringLiteral("^QObject::(setParent|moveToThread|startTimer|killTimer): .*thread"),
        QStringLiteral("^QSocketNotifier: .* another thread"),
        QStringLiteral("^QPainter::\\w+: (Painter not active|A paint device can only)"),
        QStringLiteral("^QPainter::begin: "),
        QStringLiteral("^QWidget::repaint: Recursive repaint"),
        QStringLiteral("^QWidget::setTabOrder: "),
        QStringLiteral("^QLayout: Attempting to add QLayout"),
        QStringLiteral("^QLayout::addChildLayout: "),
        QStringLiteral("^QMetaObject::invokeMethod: No such method"),
        QStringLiteral("^QBackingStore::endPaint\\(\\) called with active painter"),
    }
                                                 .join(u'|'));
    return patterns.match(message).hasMatch();
}

int exec(QObject *test, int argc, char **argv)
{
    QTest::qInit(test, argc, argv);
    // After Qt Test's own handler is in place, so that this one comes first.
    testlog = qInstallMessageHandler(handler);
    const int failures = QTest::qRun();
    qInstallMessageHandler(testlog);
    QTest::qCleanup();
    return failures;
}

} // namespace BugWarnings
