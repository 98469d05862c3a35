#include "Model/LabelIO.h"
#include "Model/LabelStore.h"
#include "Model/SalvoStore.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

// Every store change rewrites its whole file synchronously on the UI thread, so the cost of
// one change on a large, realistic content is what an operator feels.
class BenchStores : public QObject
{
    Q_OBJECT

private slots:
    void labelSetWith40RoutersOf1000Labels();
    void salvoAddWith40RoutersOf50Salvos();
    void delimitedImportOf10000Rows();
    void xmlImportOf10000Ports();

private:
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

void BenchStores::labelSetWith40RoutersOf1000Labels()
{
    QTemporaryDir dir;
    LabelStore store(dir.filePath(QStringLiteral("labels.json")));
    QList<QUuid> routers;
    for (int r = 0; r < 40; ++r) {
        routers.append(QUuid::createUuid());
        ParsedLabels parsed;
        for (int i = 0; i < 500; ++i) {
            parsed.sources.insert(i, QStringLiteral("Source label %1").arg(i));
            parsed.destinations.insert(i, QStringLiteral("Destination label %1").arg(i));
        }
        store.merge(parsed, routers.last());
    }
    int n = 0;
    QBENCHMARK
    {
        store.set(QStringLiteral("Renamed %1").arg(++n), PortKind::source, 7, routers.first());
    }
}

void BenchStores::salvoAddWith40RoutersOf50Salvos()
{
    // The content is written once as a file: building it through add() would rewrite the
    // file two thousand times.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("salvos.json"));
    QJsonObject root;
    QUuid first;
    for (int r = 0; r < 40; ++r) {
        const QUuid router = QUuid::createUuid();
        if (r == 0)
            first = router;
        QJsonArray list;
        for (int s = 0; s < 50; ++s) {
            Salvo salvo;
            salvo.name = QStringLiteral("Salvo %1").arg(s);
            salvo.savedAt = 1000.5 * s;
            for (int d = 0; d < 64; ++d)
                salvo.routes.append(Route { 0, d, (d + s) % 64 });
            list.append(salvo.toJson());
        }
        root.insert(Json::uuidText(router), list);
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(root).toJson(QJsonDocument::Compact));
    file.close();

    SalvoStore store(path);
    QCOMPARE(store.salvos(first).size(), 50);
    Salvo salvo;
    salvo.name = QStringLiteral("Salvo 3");
    salvo.routes = { Route { 0, 1, 2 } };
    QBENCHMARK
    {
        store.add(salvo, first);
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
        const ParsedLabels parsed = LabelXMLDelegate::parse(xml);
        QCOMPARE(parsed.destinations.size(), 5000);
    }
}

QTEST_GUILESS_MAIN(BenchStores)
#include "bench_stores.moc"
