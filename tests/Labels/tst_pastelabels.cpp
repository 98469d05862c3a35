#include "Views/Labels/PasteLabelsSheet.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

namespace {

const QString shortHelp
    = QStringLiteral("One name per line, or number⇥name per line. Tab- or comma-separated.");
const QString longHelp = QStringLiteral(
    "Two columns per line: source⇥destination. Or three: number⇥source⇥destination. "
    "Tab- or comma-separated — paste straight from Excel/Numbers/Sheets.");

// A shown sheet that records every onApply call.
struct SheetRig
{
    QList<ParsedLabels> applied;
    PasteLabelsSheet sheet { [this](const ParsedLabels &labels, const LabelImport::Notes &) {
        applied.append(labels);
    } };

    SheetRig()
    {
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    }

    QPlainTextEdit *editor() { return sheet.findChild<QPlainTextEdit *>("pasteText"); }
    QPushButton *apply() { return sheet.findChild<QPushButton *>("applyButton"); }
    QString help() { return sheet.findChild<QLabel *>("helpText")->text(); }
    QString rows() { return sheet.findChild<QLabel *>("rowCount")->text(); }
    QAbstractButton *segment(const char *name) { return sheet.findChild<QAbstractButton *>(name); }
};

} // namespace

class PasteLabelsTest final : public QObject
{
    Q_OBJECT

private slots:
    void opensEmptyOnSources()
    {
        SheetRig rig;
        auto *title = rig.sheet.findChild<QLabel *>("sheetTitle");
        QVERIFY(title);
        QCOMPARE(title->text(), QStringLiteral("Paste Labels"));
        QVERIFY(rig.segment("sourcesSegment")->isChecked());
        QVERIFY(!rig.segment("destinationsSegment")->isChecked());
        QVERIFY(!rig.segment("bothSegment")->isChecked());
        QCOMPARE(rig.help(), shortHelp);
        QVERIFY(rig.editor()->toPlainText().isEmpty());
        QCOMPARE(rig.rows(), QStringLiteral("0 rows"));
        QVERIFY(!rig.apply()->isEnabled());
    }

    void rowCount_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("rows");
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("only blanks") << QStringLiteral("  \t\n\r\n \t \r\n") << 0;
        QTest::newRow("one line") << QStringLiteral("Cam 1") << 1;
        QTest::newRow("crlf") << QStringLiteral("A\r\nB\r\nC") << 3;
        QTest::newRow("blank lines between")
            << QStringLiteral("A\r\n\r\n  \t\r\nB\r\n\r\nC\r\n") << 3;
        QTest::newRow("unicode breaks") << QStringLiteral("A\u2028B\u0085C\u2029D\fE\vF") << 6;
        // A no-break space is horizontal white space, so this line is blank.
        QTest::newRow("no-break space") << QStringLiteral("\u00a0\nX") << 1;
        QTest::newRow("mark on a break") << QStringLiteral("A\n\u0301\nB") << 2;
    }

    void rowCount()
    {
        QFETCH(QString, text);
        QFETCH(int, rows);
        QCOMPARE(PasteLabelsSheet::rowCount(text), rows);
    }

    void countFollowsTheTextAndBlankTextCannotApply()
    {
        SheetRig rig;
        QTest::keyClicks(rig.editor(), QStringLiteral("  \t"));
        QTest::keyClick(rig.editor(), Qt::Key_Return);
        QTest::keyClicks(rig.editor(), QStringLiteral("   "));
        QCOMPARE(rig.rows(), QStringLiteral("0 rows"));
        QVERIFY(!rig.apply()->isEnabled());
        QTest::mouseClick(rig.apply(), Qt::LeftButton);
        QVERIFY(rig.applied.isEmpty());

        QTest::keyClicks(rig.editor(), QStringLiteral("Cam 1"));
        // Untranslated, the count reads "rows" for one row as well.
        QCOMPARE(rig.rows(), QStringLiteral("1 rows"));
        QVERIFY(rig.apply()->isEnabled());
        rig.editor()->setPlainText(QStringLiteral("A\r\n\r\nB\r\n   \r\nC"));
        QCOMPARE(rig.rows(), QStringLiteral("3 rows"));
    }

    void applyParsesWithTheTargetChosenLast()
    {
        SheetRig rig;
        const QString text = QStringLiteral("Cam A\tMon A\nCam B,Mon B\n");
        rig.editor()->setPlainText(text);
        QTest::mouseClick(rig.segment("bothSegment"), Qt::LeftButton);
        QCOMPARE(rig.help(), longHelp);
        QCOMPARE(rig.editor()->toPlainText(), text);
        QTest::mouseClick(rig.segment("destinationsSegment"), Qt::LeftButton);
        QCOMPARE(rig.help(), shortHelp);
        QTest::mouseClick(rig.segment("bothSegment"), Qt::LeftButton);
        QVERIFY(rig.segment("bothSegment")->isChecked());
        QVERIFY(!rig.segment("destinationsSegment")->isChecked());

        QTest::mouseClick(rig.apply(), Qt::LeftButton);
        QCOMPARE(rig.applied.size(), 1);
        QCOMPARE(rig.applied.first(), LabelImport::parseDelimited(text, DelimitedTarget::both));
        QCOMPARE(rig.applied.first().destinations.value(1), QStringLiteral("Mon B"));
        QCOMPARE(rig.sheet.result(), int(QDialog::Accepted));
        QVERIFY(!rig.sheet.isVisible());
    }

    void pasteFromClipboard()
    {
        SheetRig rig;
        auto *paste = rig.sheet.findChild<QPushButton *>("pasteClipboardButton");
        QClipboard *clipboard = QGuiApplication::clipboard();

        rig.editor()->setPlainText(QStringLiteral("typed"));
        clipboard->setText(QStringLiteral("One\nTwo"));
        QTest::mouseClick(paste, Qt::LeftButton);
        QCOMPARE(rig.editor()->toPlainText(), QStringLiteral("One\nTwo"));
        QCOMPARE(rig.rows(), QStringLiteral("2 rows"));

        auto *image = new QMimeData;
        image->setImageData(QImage(4, 4, QImage::Format_RGB32));
        clipboard->setMimeData(image);
        QTest::mouseClick(paste, Qt::LeftButton);
        QCOMPARE(rig.editor()->toPlainText(), QStringLiteral("One\nTwo"));

        clipboard->clear();
        QTest::mouseClick(paste, Qt::LeftButton);
        QCOMPARE(rig.editor()->toPlainText(), QStringLiteral("One\nTwo"));
        QVERIFY(rig.applied.isEmpty());
    }

    // Pasted text had no bound at all.
    void tooLongPasteIsRefusedWithAMessage()
    {
        SheetRig rig;
        rig.editor()->setPlainText(QStringLiteral("typed"));
        const auto refused = [&rig] {
            auto *alert = rig.sheet.findChild<QMessageBox *>("pasteTooLongAlert");
            const bool shown = alert && alert->isVisible();
            delete alert;
            return shown;
        };
        QClipboard *clipboard = QGuiApplication::clipboard();
        clipboard->setText(QString(PasteLabelsSheet::maxLines, u'\n'));
        QTest::mouseClick(rig.sheet.findChild<QPushButton *>("pasteClipboardButton"),
                          Qt::LeftButton);
        QVERIFY(refused());
        QCOMPARE(rig.editor()->toPlainText(), QStringLiteral("typed"));
        clipboard->setText(QString(PasteLabelsSheet::maxLineLength + 1, u'x'));
        QTest::mouseClick(rig.sheet.findChild<QPushButton *>("pasteClipboardButton"),
                          Qt::LeftButton);
        QVERIFY(refused());
        // Into the text, the text already there counts too.
        const QString lines
            = (QString(31, u'x') + u'\n').repeated(PasteLabelsSheet::maxLength / 32);
        clipboard->setText(lines);
        rig.editor()->moveCursor(QTextCursor::End);
        rig.editor()->paste();
        QVERIFY(refused());
        QCOMPARE(rig.editor()->toPlainText(), QStringLiteral("typed"));

        rig.editor()->clear();
        rig.editor()->paste();
        QVERIFY(!refused());
        QCOMPARE(rig.editor()->toPlainText(), lines);
    }

    void cancelAndEscapeCallNothing()
    {
        {
            SheetRig rig;
            QTest::keyClicks(rig.editor(), QStringLiteral("Cam 1"));
            QTest::mouseClick(rig.sheet.findChild<QPushButton *>("cancelButton"), Qt::LeftButton);
            QVERIFY(rig.applied.isEmpty());
            QCOMPARE(rig.sheet.result(), int(QDialog::Rejected));
        }
        {
            SheetRig rig;
            QTest::keyClicks(rig.editor(), QStringLiteral("Cam 1"));
            QTest::keyClick(&rig.sheet, Qt::Key_Escape);
            QVERIFY(rig.applied.isEmpty());
            QVERIFY(!rig.sheet.isVisible());
        }
    }
};

QTEST_MAIN(PasteLabelsTest)
#include "tst_pastelabels.moc"
