#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QList>
#include <QScrollArea>

#include <optional>

// One colour circle of the router editor's colour row: 28 points across, with a ring 3 points
// outside it while selected. The automatic swatch carries a small sparkle.
class AccentSwatch final : public QAbstractButton
{
    Q_OBJECT

public:
    static constexpr int diameter = 28;
    static constexpr int ringGap = 3;

    // `hue` is empty for the automatic swatch.
    AccentSwatch(std::optional<double> hue, const QColor &color, QWidget *parent = nullptr);

    std::optional<double> hue() const { return m_hue; }
    bool isAuto() const { return !m_hue; }
    QColor color() const { return m_color; }
    void setColor(const QColor &color);
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<double> m_hue;
    QColor m_color;
    bool m_selected = false;
};

// The colour row of the router editor: the vendor's own colour ("automatic", no hue) and the
// eight offered hues, in a row that scrolls sideways without scroll bars when it is too
// narrow. Each hue is drawn as the router's icon will wear it.
class AccentSwatches final : public QScrollArea
{
    Q_OBJECT

public:
    explicit AccentSwatches(QWidget *parent = nullptr);

    // The chosen hue; empty means the vendor's colour.
    std::optional<double> selection() const { return m_selection; }
    void setSelection(std::optional<double> hue);
    // The colour of the automatic swatch.
    void setVendorTint(const QColor &tint);

    // The automatic swatch first, then one per hue in display order.
    QList<AccentSwatch *> swatches() const { return m_swatches; }

    // The colour a hue is shown in: the router tint's saturation and brightness.
    static QColor colorOfHue(double hue);

signals:
    // The operator pressed a swatch; selection() holds the new choice.
    void selectionEdited();

private:
    void updateRings();

    QList<AccentSwatch *> m_swatches;
    std::optional<double> m_selection;
};
