#pragma once

#include "Model/RouterModels.h"

#include <QWidget>

class QVariantAnimation;

// Base of the status indicators: holds one ConnectionStatus and runs the pulse ring while the
// status is connecting and the widget is on screen. The ring restarts from the dot's size
// every time it comes back on screen.
class StatusIndicator : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool pulsing READ isPulsing NOTIFY pulsingChanged)

public:
    ConnectionStatus status() const { return m_status; }
    void setStatus(const ConnectionStatus &status);

    // True while the pulse ring is drawn and animating.
    bool isPulsing() const;

signals:
    void pulsingChanged();

protected:
    explicit StatusIndicator(const ConnectionStatus &status, QWidget *parent);

    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    virtual void statusDidChange() {}

    // Draws the ring around `center` at the current phase: it grows from `dotDiameter`
    // to 22 and fades from 0.7 to nothing every 0.9 s.
    void paintPulseRing(QPainter &painter, QPointF center) const;

private:
    void updatePulse();

    ConnectionStatus m_status;
    QVariantAnimation *m_pulse = nullptr;
    qreal m_phase = 0;
};

// The connection-status dot: 9 points across in its status colour, a glow when online and a
// pulse ring while connecting. The widget reserves the ring's full 22-point reach so that the
// growing ring never moves its neighbours.
class StatusDot final : public StatusIndicator
{
    Q_OBJECT

public:
    explicit StatusDot(const ConnectionStatus &status = {}, QWidget *parent = nullptr);

    QSize sizeHint() const override { return {22, 22}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void statusDidChange() override;
};

// The small coloured capsule with a dot and a word: "Online", "Connecting…", "Offline",
// "Error".
class StatusPill final : public StatusIndicator
{
    Q_OBJECT

public:
    explicit StatusPill(const ConnectionStatus &status = {}, QWidget *parent = nullptr);

    QString text() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void statusDidChange() override;
};
