#include "Views/Salvos/SalvoViews.h"

#include "Controllers/SalvoMatcher.h"
#include "Theme/Alerts.h"
#include "Theme/Controls.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QSet>

#include <algorithm>

namespace {

const QString openQuote = QStringLiteral("\u201C");
const QString closeQuote = QStringLiteral("\u201D");

QString trimmed(const QString &text)
{
    // QString::trimmed() drops white space and line breaks at both ends.
    return text.trimmed();
}

} // namespace

namespace SalvoViews {

QString quoted(const QString &name)
{
    return openQuote + shownName(name) + closeQuote;
}

QColor indigo()
{
    return QColor(0x58, 0x56, 0xd6);
}

std::optional<SubPanel> panelWithId(const RouterController &controller,
                                    const std::optional<QUuid> &id)
{
    if (!id)
        return std::nullopt;
    for (const SubPanel &panel : controller.panels()) {
        if (panel.id == *id)
            return panel;
    }
    return std::nullopt;
}

void colorize(QWidget *widget, const QColor &color)
{
    QPalette pal = widget->palette();
    pal.setColor(QPalette::WindowText, color);
    pal.setColor(QPalette::Text, color);
    widget->setPalette(pal);
}

QLabel *textLabel(const QString &text, const QFont &font, const QColor &color)
{
    QLabel *label = plainLabel(text);
    label->setFont(font);
    if (color.isValid())
        colorize(label, color);
    return label;
}

QLabel *wrappedLabel(const QString &text, const QFont &font, const QColor &color)
{
    QLabel *label = textLabel(text, font, color);
    label->setWordWrap(true);
    return label;
}

QWidget *symbolText(const QString &symbol, const QString &text, const QFont &font,
                    const QColor &color)
{
    auto *box = new QWidget;
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(3);
    const int size = QFontMetrics(font).ascent();
    row->addWidget(symbolLabel(symbol, size, color), 0, Qt::AlignVCenter);
    row->addWidget(textLabel(text, font, color), 0, Qt::AlignVCenter);
    return box;
}

QString deleteTitle(const Salvo &salvo)
{
    return QStringLiteral("Delete ") + quoted(salvo.name) + QLatin1Char('?');
}

QString updateTitle(const Salvo &salvo)
{
    return QStringLiteral("Update ") + quoted(salvo.name) + QLatin1Char('?');
}

void present(QObject *host, QPointer<QDialog> &slot, QDialog *dialog)
{
    slot = dialog;
    const auto forget = [&slot, dialog] {
        if (slot == dialog)
            slot.clear();
    };
    QObject::connect(dialog, &QDialog::accepted, host, forget);
    QObject::connect(dialog, &QDialog::rejected, host, forget);
    QObject::connect(dialog, &QDialog::finished, host, forget);
}

namespace {

// The strip keeps these counts up to date itself; one rule reads them everywhere.
SalvoMatcher::Counts countsOf(const RouterController::SalvoDiff &diff)
{
    return { int(diff.changes.size()), diff.alreadyMatching, diff.lockedDiffering,
             diff.unconfirmed };
}

} // namespace

bool isActive(const RouterController::SalvoDiff &diff)
{
    return countsOf(diff).active();
}

bool canFire(const RouterController &controller, const RouterController::SalvoDiff &diff)
{
    return controller.status().isConnected() && countsOf(diff).sendsRoutes();
}

QList<int> lockedDestinations(const RouterController::SalvoDiff &diff)
{
    QSet<int> unique;
    for (const Route &route : diff.lockedRoutes)
        unique.insert(route.destination);
    QList<int> sorted(unique.cbegin(), unique.cend());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

QString proposedName(const QList<Salvo> &visible)
{
    QSet<QString> taken;
    for (const Salvo &salvo : visible)
        taken.insert(salvo.name.toLower());
    qsizetype n = visible.size() + 1;
    while (taken.contains(QStringLiteral("salvo ") + QString::number(n)))
        ++n;
    return QStringLiteral("Salvo ") + QString::number(n);
}

StoreOutcome saveTypedName(RouterController &controller, const QString &typed,
                           const std::optional<QUuid> &scope, QString *saved)
{
    QString name = trimmed(typed);
    if (name.isEmpty())
        return std::nullopt;
    for (const Salvo &salvo : controller.salvos()) {
        if (salvo.panelID == scope && salvo.name.compare(name, Qt::CaseInsensitive) == 0) {
            name = salvo.name;
            break;
        }
    }
    if (saved)
        *saved = name;
    return controller.saveSalvo(name, scope);
}

void tellOutcome(QObject *host, QPointer<QDialog> &slot, QWidget *parent,
                 const StoreOutcome &outcome, const QString &name, const QString &done)
{
    if (!outcome)
        return;
    const QString salvo = QStringLiteral("Salvo ") + quoted(name);
    QMessageBox *box = Alerts::notSaved(outcome->message(salvo + QStringLiteral(" was ") + done,
                                                         salvo + QStringLiteral(" wasn't ") + done),
                                        parent);
    present(host, slot, box);
    box->open();
}

QString counted(qsizetype count, const QString &noun)
{
    return QString::number(count) + QLatin1Char(' ') + noun
        + (count == 1 ? QString() : QStringLiteral("s"));
}

QString relativeTime(const QDateTime &then, const QDateTime &now)
{
    const qint64 delta = then.secsTo(now); // positive: in the past
    const qint64 seconds = qAbs(delta);
    const bool past = delta >= 0;
    if (seconds < 1)
        return QStringLiteral("now");

    struct Unit
    {
        qint64 length;
        const char *name;
        const char *lastNamed; // the one-unit phrase, when the language has one
        const char *nextNamed;
    };
    static const Unit units[] = {
        { 365 * 86400, "year", "last year", "next year" },
        { 30 * 86400, "month", "last month", "next month" },
        { 7 * 86400, "week", "last week", "next week" },
        { 86400, "day", "yesterday", "tomorrow" },
        { 3600, "hour", nullptr, nullptr },
        { 60, "minute", nullptr, nullptr },
        { 1, "second", nullptr, nullptr },
    };
    for (const Unit &unit : units) {
        const qint64 count = seconds / unit.length;
        if (count < 1)
            continue;
        if (count == 1 && unit.lastNamed)
            return QString::fromLatin1(past ? unit.lastNamed : unit.nextNamed);
        const QString amount = counted(count, QString::fromLatin1(unit.name));
        return past ? amount + QStringLiteral(" ago") : QStringLiteral("in ") + amount;
    }
    return QStringLiteral("now");
}

QString fireTitle(const Salvo &salvo)
{
    return QStringLiteral("Fire ") + quoted(salvo.name) + QLatin1Char('?');
}

std::optional<QString> fireButtonTitle(const RouterController::SalvoDiff &diff)
{
    if (!diff.changes.isEmpty())
        return QStringLiteral("Fire \u2014 ")
            + counted(diff.changes.size(), QStringLiteral("Change"));
    if (diff.alreadyMatching >= 1) {
        return QStringLiteral("Fire \u2014 Re-assert ")
            + counted(diff.alreadyMatching, QStringLiteral("Route"));
    }
    return std::nullopt;
}

QString fireMessage(const RouterController &controller, const Salvo &salvo)
{
    const RouterController::SalvoDiff diff = controller.diff(salvo);
    QStringList sentences;

    if (!diff.changes.isEmpty()) {
        QString sentence = QStringLiteral("Changes ")
            + counted(diff.changes.size(), QStringLiteral("crosspoint"));
        if (diff.alreadyMatching > 0)
            sentence += QStringLiteral(" (%1 already match)").arg(diff.alreadyMatching);
        sentences.append(sentence + QLatin1Char('.'));
    } else if (diff.alreadyMatching >= 1) {
        sentences.append(QStringLiteral("Routing already matches \u2014 firing re-asserts ")
                         + counted(diff.alreadyMatching, QStringLiteral("crosspoint"))
                         + QLatin1Char('.'));
    } else {
        sentences.append(
            QStringLiteral("Nothing to fire \u2014 no route in this salvo applies right now."));
    }

    const QList<int> locked = lockedDestinations(diff);
    if (!locked.isEmpty()) {
        QStringList names;
        for (int i = 0; i < std::min<qsizetype>(3, locked.size()); ++i)
            names.append(shownName(controller.destinationLabel(locked.at(i))));
        QString list = names.join(QStringLiteral(", "));
        if (locked.size() > 3)
            list += QStringLiteral(" +%1 more").arg(locked.size() - 3);
        sentences.append(QStringLiteral("Skipping ") + list + QStringLiteral(" (locked)."));
    }

    if (!diff.outOfRange.isEmpty()) {
        sentences.append(counted(diff.outOfRange.size(), QStringLiteral("out-of-range route"))
                         + QStringLiteral(" ignored."));
    }

    if (const auto own = panelWithId(controller, salvo.panelID)) {
        sentences.append(QStringLiteral("Changes only destinations captured from ")
                         + quoted(own->name) + QLatin1Char('.'));
    } else if (const auto active = controller.activePanel()) {
        sentences.append(QStringLiteral("Fires on the full router, including ports hidden by ")
                         + quoted(active->name) + QLatin1Char('.'));
    }
    return sentences.join(QLatin1Char(' '));
}

} // namespace SalvoViews
