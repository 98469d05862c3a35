#include "Drivers/QuartzParser.h"

#include "UnfinishedLine.h"

#include <QtTest>

namespace {

QuartzParser makeParser(int size)
{
    RouterConnection connection;
    connection.name = QStringLiteral("Bench");
    connection.vendor = RouterVendor::evertzQuartz;
    connection.simSourceCount = size;
    connection.simDestinationCount = size;
    return QuartzParser(connection, {});
}

} // namespace

class BenchQuartz : public QObject
{
    Q_OBJECT

private slots:
    // Answers for every destination of a 1024×1024 router, in 64 KiB receive chunks, up to
    // the `connected` report.
    void answers1024x1024()
    {
        QByteArray answers;
        for (int d = 1; d <= 1024; ++d)
            answers += ".AV" + QByteArray::number(d) + ',' + QByteArray::number(1025 - d) + '\r';
        QBENCHMARK
        {
            QuartzParser parser = makeParser(1024);
            for (qsizetype at = 0; at < answers.size(); at += 65536)
                parser.ingest(answers.mid(at, 65536));
            parser.finalize();
            if (parser.routing().size() != 1024)
                qFatal("answers were lost");
        }
    }

    // A line with no end, as long as the longest the Videohub parser holds, in 16-byte
    // pieces: within twice what the same bytes cost the Videohub parser.
    void unfinishedLineInSixteenBytePieces()
    {
        const double quartz = UnfinishedLine::bestSeconds([] {
            QuartzParser parser = makeParser(16);
            const QByteArray &line = UnfinishedLine::bytes();
            for (qsizetype at = 0; at < line.size(); at += UnfinishedLine::piece)
                parser.ingest(line.sliced(at, UnfinishedLine::piece));
            if (parser.bufferedBytes() > QuartzParser::maxLineLength)
                qFatal("the Quartz parser kept an overlong line");
        });
        const double videohub = UnfinishedLine::videohubSeconds();
        qInfo("4 MiB unfinished line in 16-byte pieces: Quartz %.1f ms, Videohub %.1f ms "
              "(%.2fx)",
              quartz * 1e3, videohub * 1e3, quartz / videohub);
        QVERIFY2(quartz <= 2 * videohub, "Quartz ingest must stay within twice Videohub's cost");
    }
};

QTEST_GUILESS_MAIN(BenchQuartz)
#include "bench_quartz.moc"
