#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QList>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

class ElidedLabel;
class QLabel;

namespace DestinationList {

struct HeaderAction
{
    QString label;
    QString symbol;
    std::function<void()> run;
};

// A small bordered capsule button in the pane's tint: symbol and label, or the symbol alone.
class HeaderButton final : public QAbstractButton
{
public:
    HeaderButton(const HeaderAction &action, QColor tint, QWidget *parent);

    void setSymbolOnly(bool symbolOnly);
    QSize sizeFor(bool symbolOnly) const;

    QSize sizeHint() const override { return sizeFor(m_symbolOnly); }

protected:
    void paintEvent(QPaintEvent *) override;

private:
    static constexpr int kSymbol = 12;
    QString m_symbol;
    QColor m_tint;
    bool m_symbolOnly = false;
};

// The pane's title row. Of its three forms (with count, without count, without title and
// with symbol-only buttons) it shows the first that fits its width.
class PaneHeader final : public QWidget
{
public:
    PaneHeader(const QString &title, QColor tint, bool subtitleIsPriority, QWidget *parent);

    void setSubtitle(const std::optional<QString> &subtitle);
    void setCount(int count);

    // Replaces the buttons only when their labels change, so a button is never rebuilt
    // under the pointer for nothing; the actions themselves are always refreshed.
    void setActions(const QList<HeaderAction> &actions);

    QSize sizeHint() const override { return { widthNeeded(Form::full), heightNeeded() }; }
    QSize minimumSizeHint() const override { return { 0, heightNeeded() }; }

protected:
    // Only places the parts: what the header asks for does not depend on the size it got.
    void resizeEvent(QResizeEvent *) override { placeParts(); }

    void paintEvent(QPaintEvent *) override;

private:
    enum class Form { full, withoutCount, compact };
    static constexpr int kSide = 16;
    static constexpr int kSpacing = 8;

    int heightNeeded() const;
    QSize countSize() const;
    bool subtitleShown() const;
    // A little over the advance, so that a fitting subtitle is never elided by rounding.
    int subtitleFullWidth() const;

    // The subtitle's share: its whole text, or when it may truncate just enough to read.
    int subtitleWidth(Form form) const;
    int widthNeeded(Form form) const;
    void relayout();
    void placeParts();

    QColor m_tint;
    bool m_subtitleIsPriority;
    QLabel *m_title = nullptr;
    ElidedLabel *m_subtitle = nullptr;
    QLabel *m_count = nullptr;
    QList<HeaderButton *> m_buttons;
    QStringList m_labels;
    QList<HeaderAction> m_actions;
};

} // namespace DestinationList
