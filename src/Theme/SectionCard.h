#pragma once

#include <QWidget>

class QColor;
class QLabel;
class QVBoxLayout;

// The rounded, lightly bordered card that groups a form section's rows, as the sheets draw
// it. It holds no layout until one is set or rows() makes one.
class SectionCard final : public QWidget
{
public:
    using QWidget::QWidget;

    // The card's column of rows, made (without margins or spacing) on first use.
    QVBoxLayout *rows();
    // Appends a row, with a hairline 12 points in between it and the row above.
    void addRow(QWidget *row);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // A hairline, `indent` points in from the leading edge.
    static QWidget *separator(int indent);
};

// A section title in small capitals and the secondary colour.
QLabel *sectionTitle(const QString &text);

// A symbol drawn at `size` points in one colour, at the pixel ratio of `forScreen`'s screen
// (the label's own when none is given).
QLabel *symbolLabel(const QString &symbol, int size, const QColor &color,
                    const QWidget *forScreen = nullptr);
