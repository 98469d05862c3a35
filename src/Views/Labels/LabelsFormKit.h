#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QString>
#include <QWidget>

class QKeyEvent;
class QPainterPath;

// The small form pieces the labels editor, its rows and its paste sheet are drawn from.
namespace LabelsFormKit {

inline constexpr int symbolSize = 16;
inline constexpr int rowInset = 12;

// A form action: symbol and title on the leading side, in one colour, filling its row.
class FormButton final : public QAbstractButton
{
public:
    FormButton(const QString &title, const QString &symbol, const QColor &color,
               QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    static QPainterPath rounded(const QRectF &area, qreal radius);

    QString m_symbol;
    QColor m_color;
};

// One editable row: its number, its name field and its revert button, with a hairline over
// every row but the first. Painting the line here keeps long port lists light on widgets.
class EditRow final : public QWidget
{
public:
    EditRow(bool topLine, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *) override;

private:
    bool m_topLine;
};

// One segment of the segmented picker.
class Segment final : public QAbstractButton
{
public:
    explicit Segment(const QString &title, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *) override;
};

// The track behind the segments.
class SegmentTrack final : public QWidget
{
public:
    explicit SegmentTrack(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *) override;
};

// The rounded well behind the paste editor: a soft fill, a faint inner border.
class TextWell final : public QWidget
{
public:
    explicit TextWell(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *) override;
};

} // namespace LabelsFormKit
