// The largest salvos.json and labels.json the stores read, loaded as at launch and then
// changed once (the first save encodes every router), with the store kept alive as the
// application keeps it. Goal: the peak under three times the file above the start, and the
// load under 2 s. Shapes: many routers of many salvos, one router of 10,000 salvos, long
// names, one name as long as the file allows; full 4,096-port label sets, and labels of one
// letter.
#include "Model/LabelStore.h"
#include "Model/SalvoStore.h"
#include "Platform/Memory.h"
#include "StoreBench.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

constexpr qsizetype kLimit = StoreFile::defaultMaxSize;

// `member(i)` gives the i-th `"key":value` text; as many as fit the limit are joined.
template<typename Member> QByteArray filled(Member member)
{
    QByteArray bytes = "{";
    for (int i = 0;; ++i) {
        const QByteArray next = member(i);
        if (bytes.size() + next.size() + 2 > kLimit)
            break;
        if (i > 0)
            bytes += ',';
        bytes += next;
    }
    bytes += '}';
    return bytes;
}

QUuid router(int i)
{
    return QUuid(quint32(i + 1), 2, 3, 4, 5, 6, 7, 8, 9, 10, 11);
}

QByteArray key(int i)
{
    return '"' + Json::uuidText(router(i)).toLatin1() + "\":";
}

QByteArray salvoText(int id, int routes, int nameLength, int shift)
{
    QByteArray text = "{\"id\":\""
        + Json::uuidText(QUuid(quint32(id), 1, 1, 1, 1, 1, 1, 1, 1, 1, 1)).toLatin1()
        + "\",\"name\":\"Salvo " + QByteArray::number(id) + QByteArray(nameLength, 'n')
        + "\",\"routes\":[";
    for (int r = 0; r < routes; ++r) {
        if (r > 0)
            text += ',';
        text += "{\"destination\":" + QByteArray::number(r % 1024)
            + ",\"level\":" + QByteArray::number(r / 1024)
            + ",\"source\":" + QByteArray::number((r + shift) % 1024) + '}';
    }
    return text + "],\"savedAt\":" + QByteArray::number(780000000 + id) + '}';
}

// Every router with `perRouter` salvos of `routes` routes until the file is full.
QByteArray salvoFile(int perRouter, int routes, int nameLength)
{
    return filled([&](int i) {
        QByteArray list = key(i) + '[';
        for (int s = 0; s < perRouter; ++s) {
            if (s > 0)
                list += ',';
            list += salvoText(i * perRouter + s, routes, nameLength, s);
        }
        return list + ']';
    });
}

// Ports in the order the store writes them (as text: 0, 1, 10, 100…), or in number order as
// another program might.
QByteArray labelFile(int ports, const QByteArray &label, bool writersOrder = true)
{
    QList<QByteArray> numbers;
    for (int p = 0; p < ports; ++p)
        numbers.append(QByteArray::number(p));
    if (writersOrder)
        std::sort(numbers.begin(), numbers.end());
    return filled([&](int i) {
        QByteArray side;
        for (const QByteArray &number : numbers)
            side += (side.isEmpty() ? "\"" : ",\"") + number + "\":\"" + label + number + '"';
        return key(i) + "{\"destinations\":{" + side + "},\"sources\":{" + side + "}}";
    });
}

} // namespace

class BenchStoreFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Platform::tuneAllocator(); }
    void largestSalvoFile_data();
    void largestSalvoFile();
    void largestLabelFile_data();
    void largestLabelFile();

private:
    // Each row is measured in a fresh process of its own, so that no memory an earlier row
    // left with the allocator hides what this one takes. True in the parent, which has run it.
    static bool ranAlone()
    {
        if (qEnvironmentVariableIsSet("QUORVEL_BENCH_ROW"))
            return false;
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QUORVEL_BENCH_ROW"), QStringLiteral("1"));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    { QStringLiteral("-silent"),
                      QString::fromLatin1(QTest::currentTestFunction()) + QLatin1Char(':')
                          + QString::fromUtf8(QTest::currentDataTag()) });
        if (!child.waitForFinished(-1) || child.exitCode() != 0)
            qFatal("the row failed in its own process");
        return true;
    }

    // Writes `content` as `name` in `dir` and gives its size.
    static qsizetype write(const QTemporaryDir &dir, const QString &name, QByteArray &content)
    {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write the file");
        file.write(content);
        const qsizetype size = content.size();
        content.clear();
        content.squeeze();
        return size;
    }

    static void report(const StoreBench::Cost &cost, qsizetype size, qint64 heap)
    {
        StoreBench::report(qPrintable(QStringLiteral("%1 (%2 MB)")
                                          .arg(QString::fromUtf8(QTest::currentDataTag()))
                                          .arg(double(size) / 1048576, 0, 'f', 1)),
                           cost, 2000, 3.0 * double(size) / 1048576);
        std::printf("  %-48s heap kept +%6.1f MB, peak %.2f times the file\n", "",
                    double(heap) / 1048576, cost.peakMiB * 1048576 / double(size));
    }
};

void BenchStoreFiles::largestSalvoFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("40 routers of 250 salvos") << salvoFile(250, 160, 0);
    QTest::newRow("one router of 10,000 salvos") << salvoFile(10000, 140, 0);
    QTest::newRow("names of 4,000 letters") << salvoFile(50, 1, 4000);
    QTest::newRow("one name of the whole file") << salvoFile(1, 1, int(kLimit) - 400);
}

void BenchStoreFiles::largestSalvoFile()
{
    QFETCH(QByteArray, content);
    if (ranAlone())
        return;
    QTemporaryDir dir;
    const qsizetype size = write(dir, QStringLiteral("salvos.json"), content);
    std::unique_ptr<SalvoStore> store;
    const qint64 heap = Platform::heapInUse();
    const StoreBench::Cost cost = StoreBench::measure([&] {
        store = std::make_unique<SalvoStore>(dir.filePath(QStringLiteral("salvos.json")));
        store->remove(QUuid(), router(0));
    });
    QVERIFY(!store->salvos(router(0)).isEmpty());
    QCOMPARE(QFileInfo(dir.filePath(QStringLiteral("salvos.json"))).size(), size);
    report(cost, size, Platform::heapInUse() - heap);
}

void BenchStoreFiles::largestLabelFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("4,096-port label sets") << labelFile(4096, "Camera position ");
    QTest::newRow("the same in number order") << labelFile(4096, "Camera position ", false);
    QTest::newRow("labels of one letter") << labelFile(65536, "");
}

void BenchStoreFiles::largestLabelFile()
{
    QFETCH(QByteArray, content);
    if (ranAlone())
        return;
    QTemporaryDir dir;
    const qsizetype size = write(dir, QStringLiteral("labels.json"), content);
    std::unique_ptr<LabelStore> store;
    const qint64 heap = Platform::heapInUse();
    const StoreBench::Cost cost = StoreBench::measure([&] {
        store = std::make_unique<LabelStore>(dir.filePath(QStringLiteral("labels.json")));
        store->set(QStringLiteral("Renamed"), PortKind::source, 0, router(0));
    });
    QCOMPARE(store->labels(router(0)).sources.value(QStringLiteral("0")), u"Renamed");
    report(cost, size, Platform::heapInUse() - heap);
}

QTEST_GUILESS_MAIN(BenchStoreFiles)
#include "bench_storefiles.moc"
