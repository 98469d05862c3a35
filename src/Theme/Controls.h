#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPushButton>
#include <QWidget>

class QLabel;
class QLayout;
class QTimer;
class QVBoxLayout;

// A small indeterminate progress spinner (the "small" control size: 14 points).
class BusyIndicator final : public QWidget
{
    Q_OBJECT

public:
    explicit BusyIndicator(QWidget *parent = nullptr, int diameter = 14);

    QSize sizeHint() const override { return { m_diameter, m_diameter }; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    int m_diameter;
    int m_step = 0;
    QTimer *m_timer = nullptr;
};

// An on/off switch with its title on the leading side, filling the row it is in.
class ToggleSwitch final : public QAbstractButton
{
    Q_OBJECT

public:
    explicit ToggleSwitch(const QString &title, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void checkStateSet() override;
    void nextCheckState() override;
    bool hitButton(const QPoint &pos) const override;
};

// A borderless button drawn as a link in the accent colour.
class LinkButton final : public QPushButton
{
    Q_OBJECT

public:
    explicit LinkButton(const QString &title, QWidget *parent = nullptr);
};

// A circle of one colour, `diameter` points across.
class ColorDot final : public QWidget
{
    Q_OBJECT

public:
    ColorDot(const QColor &color, int diameter, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color;
};

// A label that shows its text literally: names and other texts that come from routers or
// files must never be read as markup.
QLabel *plainLabel(const QString &text = {}, QWidget *parent = nullptr);

// A row that centres a word-wrapped `label`, at most `maximumWidth` wide. A label added to a
// box layout with a centring alignment is measured at the layout's full width but drawn
// narrower, so it gets too few lines; this row asks its height at the width it really gets.
QLayout *centredWrapped(QLabel *label, int maximumWidth);

// Escapes "&" so that a name shown on a button or a menu item is not read as a mnemonic.
QString escapedMnemonic(QString text);

// Names from files can be of any length, and a view lays out all it is given. A name is shown
// on one line and at most this many characters of it, so that a huge one costs no more than a
// long one; the stored name is never changed.
constexpr qsizetype maxShownNameLength = 1024;

// `name` as a view shows it: line breaks read as spaces, cut after maxShownNameLength
// characters with a trailing "…", and isolated (Text::isolated) so that nothing in it
// reorders the text it is drawn or placed beside.
QString shownName(const QString &name);

// Tool buttons that are checkable members of an exclusive QButtonGroup read as radio buttons
// (Qt reads them as check boxes). Call with an application object, before such a button is
// made; a button must be in its group before anything names it.
void readChoiceButtonsAsRadioButtons();

// shownName(name) ending in "…" where it is wider than `width` in `font`.
QString elidedName(const QString &name, const QFont &font, int width);

// `name` as a screen reader should hear it: the same line, without directional controls.
QString spokenName(const QString &name);

// One line of plain text that ends in "…" when it does not fit, instead of widening its row.
// An elided text shows whole in its tooltip.
class ElidedLabel final : public QWidget
{
    Q_OBJECT

public:
    explicit ElidedLabel(const QString &text = {}, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    // Qt::AlignLeft (the default), Qt::AlignHCenter or Qt::AlignRight.
    void setAlignment(Qt::Alignment alignment);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void refreshToolTip();

    QString m_text;
    QString m_shown;
    Qt::Alignment m_alignment = Qt::AlignLeft;
};

// A full-width one-point line in the separator colour.
QWidget *hairline(QWidget *parent = nullptr);

// Starts a sheet's column: its title in the headline style, then a hairline.
void addSheetTitle(QVBoxLayout *column, const QString &title);

// Ends a sheet's column: a hairline, then `buttons` at the trailing side, in order.
void addSheetButtons(QVBoxLayout *column, const QList<QPushButton *> &buttons);

// Sets the text colour of a label, field or button.
void setForeground(QWidget *widget, const QColor &color);

// Empties a layout, nested layouts included. Its widgets are hidden at once and deleted once
// control returns to the event loop, so a widget may clear the layout that holds it.
void clearLayout(QLayout *layout);
