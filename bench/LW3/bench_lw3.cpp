#include "Drivers/LW3Parser.h"

#include "UnfinishedLine.h"

#include <QtTest>

// The replies of a 1024×1024 router (every port name and both crosspoint lists), parsed in
// 64 KiB chunks as the receive loop hands them over, up to the `connected` report.
class BenchLW3 : public QObject
{
    Q_OBJECT

private slots:
    void parse1024x1024()
    {
        constexpr int size = 1024;
        QByteArray replies = "pr /.ProductName=MX2-1024\r\n";
        for (int n = 1; n <= size; ++n)
            replies += "pr /MEDIA/NAMES/VIDEO.I" + QByteArray::number(n) + "=1;Input "
                + QByteArray::number(n) + "\r\n";
        for (int n = 1; n <= size; ++n)
            replies += "pr /MEDIA/NAMES/VIDEO.O" + QByteArray::number(n) + "=1;Output "
                + QByteArray::number(n) + "\r\n";
        QByteArrayList routing, locks;
        for (int d = 0; d < size; ++d) {
            routing.append("I" + QByteArray::number(d % size + 1));
            locks.append(d % 7 ? "T" : "L");
        }
        replies += "pr /MEDIA/XP/VIDEO.DestinationConnectionStatus=" + routing.join(';') + "\r\n";
        replies += "pr /MEDIA/XP/VIDEO.DestinationPortStatus=" + locks.join(';') + "\r\n";

        int connected = 0;
        QBENCHMARK
        {
            LW3Parser parser(QStringLiteral("Bench"),
                             { [&](const RouterDriverEvent &e) {
                                  connected += e.type == RouterDriverEvent::connected;
                              },
                               {},
                               [](LW3Parser::Timer, std::chrono::milliseconds) {
                               } });
            for (qsizetype at = 0; at < replies.size(); at += 65536) {
                if (!parser.ingest(replies.mid(at, 65536)))
                    QFAIL("line limit");
            }
            parser.timerFired(LW3Parser::Timer::finalize);
        }
        QVERIFY(connected > 0);
    }

    // The longest line the parser holds, with no end, in 16-byte pieces: within twice what
    // the same bytes cost the Videohub parser.
    void unfinishedLineInSixteenBytePieces()
    {
        const double lw3 = UnfinishedLine::bestSeconds([] {
            LW3Parser parser(QStringLiteral("Bench"), {});
            const QByteArray &line = UnfinishedLine::bytes();
            for (qsizetype at = 0; at < line.size(); at += UnfinishedLine::piece) {
                if (!parser.ingest(line.sliced(at, UnfinishedLine::piece)))
                    qFatal("the LW3 parser gave up before the end of the line");
            }
        });
        const double videohub = UnfinishedLine::videohubSeconds();
        qInfo("4 MiB unfinished line in 16-byte pieces: LW3 %.1f ms, Videohub %.1f ms (%.2fx)",
              lw3 * 1e3, videohub * 1e3, lw3 / videohub);
        QVERIFY2(lw3 <= 2 * videohub, "LW3 ingest must stay within twice Videohub's cost");
    }
};

QTEST_GUILESS_MAIN(BenchLW3)
#include "bench_lw3.moc"
