// UI-thread cost of the labels editor on large routers, from the operator's action until the
// event loop is idle again. Goals at 4096+4096 ports: open < 100 ms with < 20 MiB of extra
// heap; a paste of every name, "Reset to Device Names" and a file import < 50 ms each
// (the store's own synchronous write of labels.json included).
// Each figure is the median of a few runs; the open also reports the heap the sheet holds.
#include "ControllerRig.h"
#include "Views/Labels/LabelsEditor.h"
#include "Views/Labels/PasteLabelsSheet.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QtTest>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

qint64 heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

// Every name of both sides, as a spreadsheet's two columns.
QString bothColumns(int ports, const QString &tag)
{
    QString text;
    for (int i = 0; i < ports; ++i)
        text += QStringLiteral("Camera %1 %2\tMonitor %1 %2\n").arg(i + 1).arg(tag);
    return text;
}

struct Bench
{
    explicit Bench(int ports)
    {
        rig.connectWith(makeState(ports, ports));
        file = rig.dir.filePath(QStringLiteral("labels.tsv"));
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly)
            || out.write(bothColumns(ports, QStringLiteral("file")).toUtf8()) < 0)
            qFatal("could not write the import file");
    }

    void open()
    {
        LabelsEditor::Options options;
        options.chooseFile = [this] {
            return file;
        };
        editor = std::make_unique<LabelsEditor>(*rig.controller, options);
        editor->show();
        if (!QTest::qWaitForWindowExposed(editor.get()))
            qFatal("the editor was never shown");
        ControllerRig::settle();
    }

    void click(const char *name)
    {
        auto *button = editor->findChild<QAbstractButton *>(name);
        if (!button)
            qFatal("no button %s", name);
        button->click();
    }

    // Types into a few rows so that every rebuild also has edits to keep.
    void typeSome()
    {
        for (const QAbstractItemView *list : editor->findChildren<QAbstractItemView *>()) {
            QAbstractItemModel *rows = list->model();
            for (int r = 1; r < rows->rowCount(); r += rows->rowCount() / 3)
                rows->setData(rows->index(r, 0), QStringLiteral("Typed %1").arg(r));
        }
        ControllerRig::settle();
    }

    ControllerRig rig;
    QString file;
    std::unique_ptr<LabelsEditor> editor;
};

// Runs `action` after `setup` `runs` times; reports the median wall time of `action` alone.
void measure(int runs, const std::function<void()> &setup, const std::function<void()> &action)
{
    QList<qint64> times;
    for (int r = 0; r < runs; ++r) {
        if (setup)
            setup();
        QElapsedTimer timer;
        timer.start();
        action();
        ControllerRig::settle();
        times.append(timer.nsecsElapsed());
    }
    std::sort(times.begin(), times.end());
    QTest::setBenchmarkResult(qreal(times.at(times.size() / 2)) / 1e6, QTest::WalltimeMilliseconds);
}

void addSizes()
{
    QTest::addColumn<int>("ports");
    for (int ports : { 1024, 2048, 4096 })
        QTest::addRow("%d+%d", ports, ports) << ports;
}

int runsFor(int ports)
{
    return ports >= 4096 ? 3 : 5;
}

} // namespace

class BenchLabelsEditor : public QObject
{
    Q_OBJECT

private slots:
    void open_data() { addSizes(); }
    void open();
    void paste_data() { addSizes(); }
    void paste();
    void reset_data() { addSizes(); }
    void reset();
    void import_data() { addSizes(); }
    void import();
};

void BenchLabelsEditor::open()
{
    QFETCH(int, ports);
    Bench bench(ports);
    // The heap the shown sheet holds, measured on a first open.
    const qint64 before = heapInUse();
    bench.open();
    const qint64 held = heapInUse() - before;
    std::printf("  open %d+%d: %.1f MiB of heap held by the shown sheet\n", ports, ports,
                double(held) / (1024.0 * 1024.0));
    bench.editor.reset();
    ControllerRig::settle();
    measure(
        runsFor(ports), [&] { bench.editor.reset(); }, [&] { bench.open(); });
}

void BenchLabelsEditor::paste()
{
    QFETCH(int, ports);
    Bench bench(ports);
    bench.open();
    bench.typeSome();
    int round = 0;
    PasteLabelsSheet *sheet = nullptr;
    measure(
        runsFor(ports),
        [&] {
            bench.click("pasteButton");
            sheet = bench.editor->findChild<PasteLabelsSheet *>();
            if (!sheet)
                qFatal("no paste sheet");
            sheet->findChild<QPlainTextEdit *>("pasteText")
                ->setPlainText(bothColumns(ports, QString::number(++round)));
            sheet->findChild<QAbstractButton *>("bothSegment")->click();
            ControllerRig::settle();
        },
        [&] { sheet->findChild<QAbstractButton *>("applyButton")->click(); });
}

void BenchLabelsEditor::reset()
{
    QFETCH(int, ports);
    Bench bench(ports);
    bench.open();
    bench.typeSome();
    // Each reset drops a full set of overrides, put back (untimed) before it.
    const ParsedLabels all = LabelImport::parseDelimited(bothColumns(ports, QStringLiteral("x")),
                                                         DelimitedTarget::both);
    measure(
        runsFor(ports),
        [&] {
            bench.rig.labels.merge(all, bench.rig.controller->id());
            bench.rig.controller->applyLabelOverrides();
            ControllerRig::settle();
        },
        [&] { bench.click("resetButton"); });
}

void BenchLabelsEditor::import()
{
    QFETCH(int, ports);
    Bench bench(ports);
    bench.open();
    bench.typeSome();
    measure(
        runsFor(ports),
        [&] {
            bench.rig.labels.removeAll(bench.rig.controller->id());
            bench.rig.controller->applyLabelOverrides();
            ControllerRig::settle();
        },
        [&] { bench.click("importButton"); });
}

QTEST_MAIN(BenchLabelsEditor)
#include "bench_labelseditor.moc"
