#pragma once

// Some of Qt's warnings mean a bug in what a widget test drives (an editor committed through a
// view it doesn't belong to, a connection to a missing signal, a child made for a parent on
// another thread, a painter that never began): a widget test fails on them, unless it expects
// one with QTest::ignoreMessage(). CMake puts this header before every widget test's own
// code, so QTEST_MAIN and QTEST_GUILESS_MAIN run the test through BugWarnings::exec().

#include <QApplication>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>

namespace BugWarnings {

inline QtMessageHandler testlog = nullptr;

inline void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    static const QRegularExpression bug(
        QStringLiteral("^(QAbstractItemView::\\w+ called with an editor that does not belong"
                       "|QObject::(dis)?connect: (No such|Cannot|Unexpected)"
                       "|QObject: Cannot create children for a parent .* different thread"
                       "|QObject::(setParent|moveToThread|startTimer|killTimer): .*thread"
                       "|QSocketNotifier: .* another thread|QPainter::begin: "
                       "|QPainter::\\w+: (Painter not active|A paint device can only)"
                       "|QWidget::repaint: Recursive repaint|QWidget::setTabOrder: "
                       "|QLayout: Attempting to add QLayout|QLayout::addChildLayout: "
                       "|QMetaObject::invokeMethod: No such method"
                       "|QBackingStore::endPaint\\(\\) called with active painter)"));
    if (type == QtWarningMsg && bug.match(message).hasMatch()) {
        // Qt Test fails a test on its own thread only: the warning is raised again there.
        if (QThread::currentThread() != qApp->thread()) {
            QMetaObject::invokeMethod(
                qApp, [message] { qWarning("%s", qPrintable(message)); }, Qt::QueuedConnection);
            return;
        }
        // Qt Test swallows it when the test expects it, and fails the test otherwise.
        QTest::failOnWarning(QRegularExpression(
            QStringLiteral("\\A") + QRegularExpression::escape(message) + QStringLiteral("\\z")));
    }
    testlog(type, context, message);
}

// QTest::qExec(), with this handler in front of Qt Test's own.
inline int exec(QObject *test, int argc, char **argv)
{
    QTest::qInit(test, argc, argv);
    testlog = qInstallMessageHandler(handler);
    const int failures = QTest::qRun();
    qInstallMessageHandler(testlog);
    QTest::qCleanup();
    return failures;
}

} // namespace BugWarnings

#define QUORVEL_BUGWARNINGS_MAIN(Application, TestObject)                                          \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        Application app(argc, argv);                                                               \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return BugWarnings::exec(&test, argc, argv);                                               \
    }
#undef QTEST_MAIN
#define QTEST_MAIN(TestObject) QUORVEL_BUGWARNINGS_MAIN(QApplication, TestObject)
#undef QTEST_GUILESS_MAIN
#define QTEST_GUILESS_MAIN(TestObject) QUORVEL_BUGWARNINGS_MAIN(QCoreApplication, TestObject)
