#pragma once

#include <QApplication>
#include <QString>
#include <QtTest>

// Some of Qt's warnings mean a bug in what a widget test drives: an editor committed through
// a view it doesn't belong to, a connection to a signal that isn't there, an object made
// for a parent on another thread, a painter that never began, a repaint inside a repaint. A
// widget test fails on them in the test function that raised them, unless it expects one
// with QTest::ignoreMessage(). Every widget test ends in
//
//     QUORVEL_WIDGET_TEST_MAIN(TestClass)
//
// in place of QTEST_MAIN; CMake refuses a widget test without it.
namespace BugWarnings {

// Whether `message`, a warning, is one of those.
bool meansABug(const QString &message);

// QTest::qExec(), with those warnings failing the test.
int exec(QObject *test, int argc, char **argv);

} // namespace BugWarnings

#define QUORVEL_WIDGET_TEST_MAIN(TestObject)                                                       \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        QApplication app(argc, argv);                                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return BugWarnings::exec(&test, argc, argv);                                               \
    }
