#pragma once

#include <QWidget>

class RouterController;
class StatusDot;
class StatusPill;

// The capsule at the top of the routing workspace: the vendor's icon in the router colour, a
// title, a line summing up what the workspace shows and the connection status.
//
//     auto *header = new DeviceHeader(controller, parent);
//
// It spans the width it is given and centres a capsule of at most 940 points in it. When the
// full row (title and specs at their whole width, then the status pill) does not fit, it
// shows a compact row instead: the texts truncate and a status dot replaces the pill. The
// header only reads the controller and redraws when its status, state, primary level,
// panels or active panel change.
class DeviceHeader final : public QWidget
{
    Q_OBJECT

public:
    explicit DeviceHeader(RouterController &controller, QWidget *parent = nullptr);

    // The text size setting: at accessibility sizes the specs line may wrap to 3 lines in
    // the compact row. Off by default.
    void setAccessibilityTextSize(bool on);
    bool accessibilityTextSize() const { return m_accessibilityTextSize; }

    // The router's device name, else the vendor's display name.
    QString title() const;
    // "16 in × 16 out · Video", or with a panel active
    // "Studio A · 4 of 12 in × 2 of 8 out · Video".
    QString specs() const;

    // Whether the compact row is shown at the current width.
    bool isCompact() const { return m_compact; }
    // Where the capsule lies within the header.
    QRect capsuleRect() const;
    // The specs line as drawn at the current width (one entry per line).
    QStringList specsLines() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    struct Layout
    {
        bool compact = false;
        QRect capsule;
        QRect icon;
        QRect titles;
        QStringList titleLines;
        QStringList specsLines;
        QRect status;
    };

    Layout layoutFor(int width) const;
    int fullRowWidth() const;
    int titlesHeight(int specsLineCount) const;
    void refresh();
    void placeStatus();

    RouterController &m_controller;
    StatusPill *m_pill = nullptr;
    StatusDot *m_dot = nullptr;
    bool m_accessibilityTextSize = false;
    bool m_compact = false;
};
