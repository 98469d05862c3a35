// The launch as an operator meets it: connections.json read, the three other stores loaded,
// and the main window's content shown with its sidebar row for every router, the selected
// router's workspace and the launch connect. Measured for the largest file the store accepts,
// with every router a Videohub on a closed loopback port (each launch connect fails at once)
// and names long enough to fill the file, and for files the store refuses.
// Goal: the window shown within 2 s and under 256 MB above the start.
#include "App/ContentView.h"
#include "Controllers/ConnectionStore.h"
#include "Platform/SerialQueue.h"
#include "StoreBench.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

class BenchLaunch : public QObject
{
    Q_OBJECT

private slots:
    void launch_data();
    void launch();
    void cleanupTestCase() { SerialQueue::shutDownAll(); }
};

void BenchLaunch::launch_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("routers");

    const int count = ConnectionStore::maxRouters;
    QJsonArray array;
    for (int i = 0; i < count; ++i) {
        RouterConnection router;
        router.name = QStringLiteral("Router %1 ").arg(i);
        router.vendor = RouterVendor::blackmagicVideohub;
        router.host = QStringLiteral("127.0.0.1");
        router.port = 1;
        array.append(router.toJson());
    }
    // Names padded so that the whole list just fits the file.
    const qsizetype plain = QJsonDocument(array).toJson(QJsonDocument::Compact).size();
    const qsizetype pad = (ConnectionStore::maxFileSize - plain) / count - 1;
    for (int i = 0; i < count; ++i) {
        QJsonObject object = array.at(i).toObject();
        object.insert(QStringLiteral("name"),
                      object.value(QStringLiteral("name")).toString() + QString(pad, u'n'));
        array.replace(i, object);
    }
    const QByteArray largest = QJsonDocument(array).toJson(QJsonDocument::Compact);
    QTest::newRow("largest accepted") << largest << count;
    QTest::newRow("refused: too many routers")
        << "[" + QByteArray("{},").repeated(ConnectionStore::maxFileSize / 3 - 1) + "{}]" << 0;
    QTest::newRow("refused: too large") << QByteArray(ConnectionStore::maxFileSize + 1, ' ') << 0;
}

void BenchLaunch::launch()
{
    QFETCH(QByteArray, content);
    QFETCH(int, routers);
    QVERIFY(content.size() <= ConnectionStore::maxFileSize + 1);
    QTemporaryDir dir;
    ConnectionStore::Options options;
    options.connectionsPath = dir.filePath(QStringLiteral("connections.json"));
    options.labelsPath = dir.filePath(QStringLiteral("labels.json"));
    options.salvosPath = dir.filePath(QStringLiteral("salvos.json"));
    options.panelsPath = dir.filePath(QStringLiteral("panels.json"));
    options.usage = {};
    {
        QFile file(options.connectionsPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    content.clear();
    content.squeeze();

    std::unique_ptr<ConnectionStore> store;
    std::unique_ptr<ContentView> view;
    const StoreBench::Cost cost = StoreBench::measure([&] {
        store = std::make_unique<ConnectionStore>(options);
        view = std::make_unique<ContentView>(*store);
        view->resize(1180, 760);
        view->show();
        if (!QTest::qWaitForWindowExposed(view.get()))
            qFatal("the window was never shown");
        QCoreApplication::processEvents();
    });
    QCOMPARE(int(store->connections().size()), routers);
    StoreBench::report(
        qPrintable(QStringLiteral("launch, %1").arg(QString::fromUtf8(QTest::currentDataTag()))),
        cost, 2000, 256);
    view.reset();
    store->shutDown();
    store.reset();
    QCoreApplication::processEvents();
}

QTEST_MAIN(BenchLaunch)
#include "bench_launch.moc"
