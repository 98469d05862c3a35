#include "Model/LabelIO.h"
#include "Model/LabelStore.h"
#include "Model/SalvoStore.h"
#include "StoreBench.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

// Every store change rewrites its whole file synchronously on the UI thread, so the cost of
// one change on a large, realistic content is what an operator feels. Each change is measured
// beside its floor: the atomic write (write, fsync, rename) of the same number of bytes, which
// no encoding can avoid. Run with -callgrind for instruction counts on a loaded machine.
class BenchStores : public QObject
{
    Q_OBJECT

private slots:
    void labelRenameIn40RoutersOf1000Labels_data() { changeOrFloor(); }
    void labelRenameIn40RoutersOf1000Labels();
    void salvoAddIn40RoutersOf50SalvosOf64Routes_data() { changeOrFloor(); }
    void salvoAddIn40RoutersOf50SalvosOf64Routes();
    void delimitedImportOf10000Rows();
    void xmlImportOf10000Ports();
    void largestLabelFileImport_data();
    void largestLabelFileImport();

private:
    static void changeOrFloor()
    {
        QTest::addColumn<bool>("floor");
        QTest::newRow("change") << false;
        QTest::newRow("floor") << true;
    }

    // The plain atomic write of `size` bytes, through the same file code the stores use.
    static void writeFloor(const QString &path, qsizetype size)
    {
        StoreFile file(path + QStringLiteral(".floor"));
        const QByteArray bytes(size, 'x');
        QBENCHMARK
        {
            if (const auto failure = file.write(bytes))
                QFAIL(qPrintable(*failure));
        }
    }

    static qsizetype fileSize(const QString &path) { return QFileInfo(path).size(); }

    static RouterState bigState(int ports)
    {
        RouterState state;
        for (int i = 0; i < ports; ++i) {
            state.sources.append(Port { i, PortKind::source, QStringLiteral("Camera %1").arg(i) });
            state.destinations.append(
                Port { i, PortKind::destination, QStringLiteral("Monitor %1").arg(i) });
        }
        return state;
    }
};

void BenchStores::labelRenameIn40RoutersOf1000Labels()
{
    QFETCH(bool, floor);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("labels.json"));
    QJsonObject root;
    QList<QUuid> routers;
    for (int r = 0; r < 40; ++r) {
        routers.append(QUuid::createUuid());
        PortLabels labels;
        for (int i = 0; i < 500; ++i) {
            labels.sources.insert(QString::number(i), QStringLiteral("Source label %1").arg(i));
            labels.destinations.insert(QString::number(i),
                                       QStringLiteral("Destination label %1").arg(i));
        }
        root.insert(Json::uuidText(routers.last()), labels.toJson());
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(root).toJson(QJsonDocument::Compact));
    file.close();

    LabelStore store(path);
    QCOMPARE(store.byConnection().size(), 40);
    // The first change after loading encodes every router once; what is measured is each
    // later one.
    store.set(QStringLiteral("Renamed"), PortKind::source, 7, routers.first());
    if (floor)
        return writeFloor(path, fileSize(path));
    int n = 0;
    QBENCHMARK
    {
        ++n;
        store.set(QStringLiteral("Renamed %1").arg(n), PortKind::source, 7,
                  routers[n % routers.size()]);
    }
}

void BenchStores::salvoAddIn40RoutersOf50SalvosOf64Routes()
{
    QFETCH(bool, floor);
    // The content is written once as a file: building it through add() would rewrite the
    // file two thousand times.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("salvos.json"));
    QJsonObject root;
    QList<QUuid> routers;
    for (int r = 0; r < 40; ++r) {
        routers.append(QUuid::createUuid());
        QJsonArray list;
        for (int s = 0; s < 50; ++s) {
            Salvo salvo;
            salvo.name = QStringLiteral("Salvo %1").arg(s);
            salvo.savedAt = 1000.5 * s;
            for (int d = 0; d < 64; ++d)
                salvo.routes.append(Route { 0, d, (d + s) % 64 });
            list.append(salvo.toJson());
        }
        root.insert(Json::uuidText(routers.last()), list);
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(root).toJson(QJsonDocument::Compact));
    file.close();

    SalvoStore store(path);
    QCOMPARE(store.salvos(routers.first()).size(), 50);
    Salvo salvo;
    salvo.name = QStringLiteral("Salvo 3");
    salvo.routes = { Route { 0, 1, 2 } };
    store.add(salvo, routers.first());
    if (floor)
        return writeFloor(path, fileSize(path));
    int n = 0;
    QBENCHMARK
    {
        store.add(salvo, routers[++n % routers.size()]);
    }
}

void BenchStores::delimitedImportOf10000Rows()
{
    const QString text = LabelExport::tsv(bigState(10000));
    QBENCHMARK
    {
        const ParsedLabels parsed = LabelImport::parseDelimited(text, DelimitedTarget::both);
        QCOMPARE(parsed.sources.size(), 10000);
    }
}

void BenchStores::xmlImportOf10000Ports()
{
    const QByteArray xml = LabelExport::xml(bigState(5000)).toUtf8();
    QBENCHMARK
    {
        const ParsedLabels parsed = LabelXMLDelegate::parse(xml).value();
        QCOMPARE(parsed.destinations.size(), 5000);
    }
}

// The largest label file an import accepts, read, parsed and merged into the store as the
// labels editor does. Goal: under 1 s and under 64 MB above the start, whatever it holds.
void BenchStores::largestLabelFileImport_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    const qsizetype size = LabelImport::maxFileSize;
    QTest::newRow("one letter a line") << "a.csv" << QByteArray("a\n").repeated(size / 2);
    QTest::newRow("numbered rows")
        << "rows.tsv" << LabelExport::tsv(bigState(65535)).toUtf8().leftJustified(size, '\n', true);
    // A spreadsheet's "Unicode text": UTF-16 after its byte-order mark.
    QTest::newRow("numbered rows in UTF-16")
        << "rows16.txt"
        << QStringEncoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom)(
               LabelExport::tsv(bigState(65535)).leftJustified(size / 2 - 1, u'\n', true))
               .
               operator QByteArray();
    QTest::newRow("one endless line") << "line.csv" << QByteArray(size, 'x');
    QTest::newRow("XML ports") << "ports.xml"
                               << "<inputs>" + QByteArray("<in>a</in>").repeated(size / 10 - 2)
            + "</inputs>";
    QTest::newRow("XML text") << "text.xml"
                              << "<inputs><in>" + QByteArray(size - 30, 'x') + "</in></inputs>";
}

void BenchStores::largestLabelFileImport()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    content.clear();
    content.squeeze();
    LabelStore store(dir.filePath(QStringLiteral("labels.json")));
    qsizetype kept = 0;
    const StoreBench::Cost cost = StoreBench::measure([&] {
        const auto file = LabelImport::openFile(path);
        if (!file)
            QFAIL(qPrintable(file.error()));
        ParsedLabels parsed = (name.endsWith(QLatin1String(".xml"))
                                   ? LabelXMLDelegate::parse(**file)
                                   : LabelImport::parseDelimitedFile(**file, DelimitedTarget::both))
                                  .value();
        LabelImport::cutLongLabels(parsed);
        kept = parsed.sources.size() + parsed.destinations.size();
        store.merge(parsed, QUuid::createUuid());
    });
    StoreBench::report(qPrintable(QStringLiteral("import of 16 MB, %1 (%2 kept)")
                                      .arg(QString::fromUtf8(QTest::currentDataTag()))
                                      .arg(kept)),
                       cost, 1000, 64);
}

QTEST_GUILESS_MAIN(BenchStores)
#include "bench_stores.moc"
