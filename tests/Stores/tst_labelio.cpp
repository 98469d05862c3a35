#include "Model/LabelIO.h"
#include "Platform/Memory.h"

#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// "s0=Cam|s4=Studio Cam|d2=Mon": sources then destinations, ascending.
QString describe(const ParsedLabels &labels)
{
    QStringList parts;
    for (auto it = labels.sources.constBegin(); it != labels.sources.constEnd(); ++it)
        parts.append(QStringLiteral("s%1=%2").arg(it.key()).arg(it.value()));
    for (auto it = labels.destinations.constBegin(); it != labels.destinations.constEnd(); ++it)
        parts.append(QStringLiteral("d%1=%2").arg(it.key()).arg(it.value()));
    return parts.join(QLatin1Char('|'));
}

QByteArray utf16(const QString &text, QStringEncoder::Encoding order,
                 QStringConverter::Flags flags = QStringConverter::Flag::WriteBom)
{
    return QStringEncoder(order, flags)(text);
}

QList<Port> ports(PortKind kind, const QList<std::pair<int, QString>> &entries)
{
    QList<Port> list;
    for (const auto &[index, label] : entries)
        list.append(Port { index, kind, label });
    return list;
}

} // namespace

class TestLabelIO : public QObject
{
    Q_OBJECT

private slots:
    void xmlExportIsExact();
    void xmlExportEscapes_data();
    void xmlExportEscapes();
    void tsvExport();
    void numbers_data();
    void numbers();
    void splitCells_data();
    void splitCells();
    void delimitedImport_data();
    void delimitedImport();
    void xmlImport_data();
    void xmlImport();
    void exportImportRoundTrip();
    void filesDecodeByTheirMark_data();
    void filesDecodeByTheirMark();
    void longLinesAndPieceBoundaries();
    void largestFilesKeepAtMostThePortLimit();
    void openFileChecksTypeAndSize();
    void targetsByRawValue();
};

void TestLabelIO::xmlExportIsExact()
{
    RouterState state;
    state.deviceName = QStringLiteral("Hub");
    state.sources
        = ports(PortKind::source, { { 7, QStringLiteral("Cam") }, { 0, QStringLiteral("VT") } });
    state.destinations = ports(PortKind::destination, { { 0, QStringLiteral("Mon") } });
    QCOMPARE(LabelExport::xml(state),
             QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                            "<routerLabels device=\"Hub\">\n"
                            "  <sources>\n"
                            "    <port number=\"8\" name=\"Cam\"/>\n"
                            "    <port number=\"1\" name=\"VT\"/>\n"
                            "  </sources>\n"
                            "  <destinations>\n"
                            "    <port number=\"1\" name=\"Mon\"/>\n"
                            "  </destinations>\n"
                            "</routerLabels>"));

    state.destinations.clear();
    const QStringList lines = LabelExport::xml(state).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 10);
    QCOMPARE(lines[6], QStringLiteral("  <destinations>"));
    QCOMPARE(lines[7], QString());
    QCOMPARE(lines[8], QStringLiteral("  </destinations>"));
}

void TestLabelIO::xmlExportEscapes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("escaped");
    QTest::newRow("ampersand and quote") << "A & \"B\""
                                         << "A &amp; &quot;B&quot;";
    QTest::newRow("entity text escaped again") << "x&lt;y"
                                               << "x&amp;lt;y";
    QTest::newRow("angle brackets") << "<in>"
                                    << "&lt;in&gt;";
    QTest::newRow("apostrophe kept") << "Bob's"
                                     << "Bob's";
    QTest::newRow("control characters replaced visibly")
        << QString::fromUtf16(u"a\u0001b\u000Bc\u001Fd\u0008")
        << QString::fromUtf16(u"a\uFFFDb\uFFFDc\uFFFDd\uFFFD");
    QTest::newRow("tab and line breaks as references") << "a\tb\nc\rd"
                                                       << "a&#9;b&#10;c&#13;d";
    QTest::newRow("emoji kept") << QString::fromUtf16(u"cam \U0001F3A5")
                                << QString::fromUtf16(u"cam \U0001F3A5");
    QTest::newRow("lone surrogate replaced")
        << QString(QChar(0xD800)) + "x" << QString::fromUtf16(u"\uFFFDx");
}

void TestLabelIO::xmlExportEscapes()
{
    QFETCH(QString, text);
    QFETCH(QString, escaped);
    RouterState state;
    state.deviceName = text;
    state.sources = ports(PortKind::source, { { 0, text } });
    const QStringList lines = LabelExport::xml(state).split(QLatin1Char('\n'));
    QCOMPARE(lines[1], QStringLiteral("<routerLabels device=\"%1\">").arg(escaped));
    QCOMPARE(lines[3], QStringLiteral("    <port number=\"1\" name=\"%1\"/>").arg(escaped));
}

void TestLabelIO::tsvExport()
{
    RouterState state;
    state.sources = ports(PortKind::source, { { 4, "A" }, { 5, "B" }, { 6, "C" } });
    QCOMPARE(LabelExport::tsv(state), QStringLiteral("1\tA\t\n2\tB\t\n3\tC\t"));
    state.destinations = ports(PortKind::destination, { { 0, "X" } });
    state.sources.resize(1);
    QCOMPARE(LabelExport::tsv(state), QStringLiteral("1\tA\tX"));
    QCOMPARE(LabelExport::tsv(RouterState()), QString());
}

void TestLabelIO::numbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<qint64>>("value");
    using V = std::optional<qint64>;
    QTest::newRow("plain") << "42" << V(42);
    QTest::newRow("plus") << "+7" << V(7);
    QTest::newRow("minus") << "-3" << V(-3);
    QTest::newRow("leading zeros") << "007" << V(7);
    QTest::newRow("largest") << "9223372036854775807" << V(std::numeric_limits<qint64>::max());
    QTest::newRow("smallest") << "-9223372036854775808" << V(std::numeric_limits<qint64>::min());
    QTest::newRow("overflow") << "9223372036854775808" << V();
    QTest::newRow("far overflow") << "99999999999999999999999" << V();
    QTest::newRow("sign only") << "-" << V();
    QTest::newRow("empty") << "" << V();
    QTest::newRow("inner blank") << "1 2" << V();
    QTest::newRow("arabic-indic digits") << QString::fromUtf16(u"\u0661") << V();
}

void TestLabelIO::numbers()
{
    QFETCH(QString, text);
    QFETCH(std::optional<qint64>, value);
    QCOMPARE(LabelImport::number(text), value);
}

void TestLabelIO::splitCells_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("cells");
    QTest::newRow("tabs win over commas")
        << "1\tCam, left\tMon" << QStringList { "1", "Cam, left", "Mon" };
    QTest::newRow("commas trimmed") << "5,  Studio , Cam" << QStringList { "5", "Studio", "Cam" };
    QTest::newRow("empty cells kept") << "a,,b," << QStringList { "a", "", "b", "" };
    QTest::newRow("no separator") << "Just a label" << QStringList { "Just a label" };
}

void TestLabelIO::splitCells()
{
    QFETCH(QString, line);
    QFETCH(QStringList, cells);
    QCOMPARE(LabelImport::splitCells(line), cells);
}

void TestLabelIO::delimitedImport_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<DelimitedTarget>("target");
    QTest::addColumn<QString>("expected");
    const auto S = DelimitedTarget::sources;
    const auto D = DelimitedTarget::destinations;
    const auto B = DelimitedTarget::both;

    QTest::newRow("plain lines to sources") << "Cam 1\nCam 2" << S << "s0=Cam 1|s1=Cam 2";
    QTest::newRow("plain lines to destinations") << "Mon 1\nMon 2" << D << "d0=Mon 1|d1=Mon 2";
    QTest::newRow("numbered row joins the rest") << "5, Studio, Cam" << S << "s4=Studio Cam";
    QTest::newRow("numbers below 1 ignored") << "0, Studio\n-3, Studio\nA" << S << "s0=A";
    QTest::newRow("unnumbered row keeps first cell")
        << "Studio, Cam\nNext" << S << "s0=Studio|s1=Next";
    // Into one side, a spreadsheet column copied with an empty one before it lost its names.
    QTest::newRow("empty cells before the name")
        << ",Cam\n\t\tNext\n\t7\tX" << S << "s0=Cam|s1=Next|s6=X";
    QTest::newRow("numbered row does not move counter") << "9,X\nA" << S << "s0=A|s8=X";
    QTest::newRow("later row replaces") << "2,A\n2,B" << D << "d1=B";
    QTest::newRow("CR LF same as LF") << "A\r\nB\r\n\r\nC" << S << "s0=A|s1=B|s2=C";
    QTest::newRow("other line breaks")
        << QString::fromUtf16(u"A\u2028B\u0085C\vD\fE\rF") << S << "s0=A|s1=B|s2=C|s3=D|s4=E|s5=F";
    QTest::newRow("blank lines never count") << "\n \t \nA\n\n" << S << "s0=A";
    QTest::newRow("both numbered")
        << "3\tSrc\tDst\nNext\tOne" << B << "s0=Next|s2=Src|d0=One|d2=Dst";
    QTest::newRow("both plain pair") << "Src, Dst\nS2, D2" << B << "s0=Src|s1=S2|d0=Dst|d1=D2";
    QTest::newRow("both two cells are not numbered") << "7, Cam" << B << "s0=7|d0=Cam";
    QTest::newRow("both one cell is a source") << "Only\nA,B" << B << "s0=Only|s1=A|d0=B";
    // Tabs at the ends separate cells, so an empty last cell keeps the row numbered.
    QTest::newRow("both empty destination cell") << "3\tSrc\t \n\tDst" << B << "s2=Src|d0=Dst";
    QTest::newRow("both empty cells advance counters") << ",Dst\nS," << B << "s1=S|d0=Dst";
    QTest::newRow("both numbered below 1 ignored") << "0,A,B" << B << "";
    QTest::newRow("ports past the last skipped")
        << "9223372036854775807, Far\n65535, Last\n65536, Gone" << S << "s65534=Last";
}

void TestLabelIO::delimitedImport()
{
    QFETCH(QString, text);
    QFETCH(DelimitedTarget, target);
    QFETCH(QString, expected);
    QCOMPARE(describe(LabelImport::parseDelimited(text, target)), expected);
}

void TestLabelIO::xmlImport_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("expected");

    QTest::newRow("auto counter jumps past numbered port")
        << QByteArray("<doc><inputs><port>First</port><port number=\"5\" name=\"  Fifth \"/>"
                      "<port>Sixth</port></inputs></doc>")
        << "s0=First|s4=Fifth|s5=Sixth";
    QTest::newRow("own export dialect")
        << QByteArray("<routerLabels device=\"x\"><sources><port number=\"2\" name=\"B\"/>"
                      "</sources><destinations><port number=\"1\" name=\"M\"/></destinations>"
                      "</routerLabels>")
        << "s1=B|d0=M";
    QTest::newRow("port outside any container")
        << QByteArray("<doc><port number=\"1\" name=\"A\"/></doc>") << "";
    QTest::newRow("port with a child element")
        << QByteArray("<inputs><port number=\"1\">A<b>bold</b></port></inputs>") << "";
    QTest::newRow("first present number key decides")
        << QByteArray("<x><source index=\"abc\" number=\"3\" name=\"Cam\"/></x>") << "s0=Cam";
    QTest::newRow("side elements without containers")
        << QByteArray("<x><output id=\"2\">Mon</output><src>Cam</src></x>") << "s0=Cam|d1=Mon";
    QTest::newRow("upper-case names and keys")
        << QByteArray("<OUTPUTS><Item NUM=\" 4 \" Label=\"Four\"/></OUTPUTS>") << "d3=Four";
    QTest::newRow("namespace prefix is part of the name")
        << QByteArray("<a:x xmlns:a=\"u\"><a:source>Cam</a:source><source>VT</source></a:x>")
        << "s0=VT";
    QTest::newRow("empty name falls back to text")
        << QByteArray("<inputs><port name=\" \">\n  Text  \n</port></inputs>") << "s0=Text";
    QTest::newRow("entities and CDATA gathered")
        << QByteArray("<inputs><port>A &amp; <![CDATA[<B>]]></port></inputs>") << "s0=A & <B>";
    QTest::newRow("number below 1 drops the port")
        << QByteArray("<inputs><port n=\"0\">Zero</port><port>A</port></inputs>") << "s0=A";
    QTest::newRow("nested containers pop in order")
        << QByteArray("<inputs><outputs><port>D</port></outputs><port>S</port></inputs>")
        << "s0=S|d0=D";
    QTest::newRow("malformed keeps what came before")
        << QByteArray("<inputs><port>A</port><port>B</port><port>C</oops></inputs>") << "s0=A|s1=B";
    QTest::newRow("ports past the last skipped, the counter saturating")
        << QByteArray("<doc><inputs><port number=\"9223372036854775807\">Max</port>"
                      "<port>Next</port></inputs><outputs><port n=\"65535\">Last</port>"
                      "</outputs></doc>")
        << "d65534=Last";
    QTest::newRow("not XML at all") << QByteArray("\x01\x02garbage") << "";
}

void TestLabelIO::xmlImport()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, expected);
    QCOMPARE(describe(LabelXMLDelegate::parse(xml).value()), expected);
}

void TestLabelIO::exportImportRoundTrip()
{
    RouterState state;
    state.deviceName = QStringLiteral("Main & <Back>");
    state.sources = ports(PortKind::source,
                          { { 0, QStringLiteral("Cam \"A\" & B") },
                            { 1, QString::fromUtf16(u"VT\u0007 <1>") },
                            { 2, QStringLiteral("x&lt;y") } });
    state.destinations = ports(PortKind::destination,
                               { { 0, QStringLiteral("Mon") }, { 1, QStringLiteral("Rec's") } });

    const ParsedLabels fromXml = LabelXMLDelegate::parse(LabelExport::xml(state).toUtf8()).value();
    QCOMPARE(describe(fromXml),
             QString::fromUtf16(u"s0=Cam \"A\" & B|s1=VT\uFFFD <1>|s2=x&lt;y|d0=Mon|d1=Rec's"));

    // Every row comes back to its own ports, the third one's empty destination included.
    const ParsedLabels fromTsv
        = LabelImport::parseDelimited(LabelExport::tsv(state), DelimitedTarget::both);
    QCOMPARE(describe(fromTsv),
             QString::fromUtf16(u"s0=Cam \"A\" & B|s1=VT\u0007 <1>|s2=x&lt;y|d0=Mon|d1=Rec's"));
    const ParsedLabels sources
        = LabelImport::parseDelimited(LabelExport::tsv(state), DelimitedTarget::sources);
    QCOMPARE(describe(sources),
             QString::fromUtf16(u"s0=Cam \"A\" & B Mon|s1=VT\u0007 <1> Rec's|s2=x&lt;y"));
}

void TestLabelIO::filesDecodeByTheirMark_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("UTF-8 with its mark") << QByteArray("\xEF\xBB\xBF") + "A\tB"
                                         << "s0=A|d0=B";
    QTest::newRow("Latin-1 on line 2")
        << QByteArray("A\r\nCaf\xE9")
        << "Line 2 isn't valid UTF-8 text. Save the file as UTF-8, or "
           "as Unicode (UTF-16) text.";
    QTest::newRow("UTF-16 without a mark")
        << utf16(QStringLiteral("A\tB"), QStringEncoder::Utf16LE, {})
        << "Line 1 holds a NUL character, so the file isn't text.";
    QTest::newRow("UTF-16 lone surrogate")
        << utf16(QStringLiteral("A\nB") + QChar(0xD800), QStringEncoder::Utf16LE)
        << "Line 2 isn't valid UTF-16 text.";
}

void TestLabelIO::filesDecodeByTheirMark()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    const auto read = LabelImport::parseDelimitedFile(bytes, DelimitedTarget::both);
    QCOMPARE(read ? describe(*read) : read.error(), expected);
    // The XML reader's own decoder refuses likewise.
    QVERIFY(!LabelXMLDelegate::parse("<x><inputs><in>A</in><in>\xFF</in></inputs></x>"));
}

void TestLabelIO::longLinesAndPieceBoundaries()
{
    // An over-long line is read only so far and reported; "\r\n" counts as one break.
    const QByteArray longLine(LabelImport::maxLineLength + 10, 'x');
    LabelImport::Notes notes;
    const auto read = LabelImport::parseDelimitedFile("A\r\n" + longLine + "\r\nB\n" + longLine,
                                                      DelimitedTarget::sources, &notes);
    QCOMPARE(read->sources.value(1).size(), LabelImport::maxLineLength);
    QCOMPARE(read->sources.value(2), QStringLiteral("B"));
    QCOMPARE(std::pair(notes.cutLines, notes.firstCutLine), std::pair(qsizetype(2), qint64(2)));

    // A character split between two pieces of the file (256 KB) comes out whole.
    const QString emoji = QString::fromUtf16(u"\U0001F3A5 cam");
    const auto first = [](const QByteArray &bytes) {
        return LabelImport::parseDelimitedFile(bytes, DelimitedTarget::sources)->sources.value(0);
    };
    QCOMPARE(first((QStringLiteral(" \n").repeated(131071) + emoji).toUtf8()), emoji);
    QCOMPARE(first(utf16(QStringLiteral(" \n").repeated(65535) + emoji, QStringEncoder::Utf16BE)),
             emoji);
}

// 16 MB of "a\n" held 8 million labels, 1.6 GB; 16 MB of XML ports 372 MB.
void TestLabelIO::largestFilesKeepAtMostThePortLimit()
{
    const qsizetype size = LabelImport::maxFileSize;
    const QByteArray lines = QByteArray("a\n").repeated(size / 2);
    const QByteArray ports
        = "<inputs>" + QByteArray("<in>a</in>").repeated(size / 10 - 2) + "</inputs>";
    QVERIFY(ports.size() <= size);
    for (const bool xml : { false, true }) {
        const qint64 before = Platform::heapInUse();
        LabelImport::Notes notes;
        const ParsedLabels parsed = xml
            ? LabelXMLDelegate::parse(ports, &notes).value()
            : LabelImport::parseDelimitedFile(lines, DelimitedTarget::both, &notes).value();
        const qsizetype skipped = notes.skipped;
        const qint64 held = Platform::heapInUse() - before;
        QCOMPARE(parsed.sources.size(), LabelImport::maxPortNumber);
        QCOMPARE(parsed.sources.lastKey(), LabelImport::maxPortNumber - 1);
        QCOMPARE(skipped, (xml ? size / 10 - 2 : size / 2) - LabelImport::maxPortNumber);
        // What is kept is the port limit's worth of short labels, not the file's.
        QVERIFY2(held < 16 * 1024 * 1024, qPrintable(QString::number(held)));
    }
}

void TestLabelIO::openFileChecksTypeAndSize()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("labels.tsv"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(100, 'x'));
    file.close();
    const auto opened = LabelImport::openFile(path);
    QVERIFY(opened && *opened);
    QCOMPARE((*opened)->readAll(), QByteArray(100, 'x'));
    QCOMPARE(LabelImport::openFile(path, 99).error(),
             QStringLiteral("The file is larger than 99 bytes."));
    QCOMPARE(LabelImport::openFile(dir.filePath(QStringLiteral("missing"))).error(),
             QStringLiteral("The file doesn't exist."));
    // A folder is not a label file.
    QCOMPARE(LabelImport::openFile(dir.path()).error(),
             QStringLiteral("It is not a regular file."));
}

void TestLabelIO::targetsByRawValue()
{
    for (DelimitedTarget target : allDelimitedTargets())
        QCOMPARE(delimitedTargetFromRawValue(rawValue(target)), std::optional(target));
    QCOMPARE(allDelimitedTargets().size(), 3);
    QVERIFY(!delimitedTargetFromRawValue(QStringLiteral("Both")));
}

QTEST_GUILESS_MAIN(TestLabelIO)
#include "tst_labelio.moc"
