#pragma once

#include <QList>
#include <QObject>
#include <QString>

class ElidedLabel;
class QToolButton;
class QWidget;

// Fits the workspace toolbar to its width so that the router's name stands whole while
// anything else can give way: first the worded buttons (Salvos, Labels) drop their words,
// keeping them as tips and for screen readers; then the panel menu's label shortens, to a few
// letters at least (the system's own words stay whole), and then leaves its symbol alone; only
// then does the name end in "…".
// It refits whenever the row is resized or a part's text changes, and decides from the row's
// width alone, so it never asks for another layout of the row.
class ToolbarFit final : public QObject
{
public:
    struct Parts
    {
        QWidget *row = nullptr; // the toolbar, laid out as the title beside `items`
        ElidedLabel *title = nullptr;
        QWidget *items = nullptr;
        QToolButton *panelMenu = nullptr;
        QList<QToolButton *> worded;
    };

    ToolbarFit(const Parts &parts, QObject *parent);

    // The panel menu's label in full: a panel's name as stored, which may be shortened, or the
    // system's own words ("Full Router"), which are shown whole or not at all.
    void setPanelLabel(const QString &label, bool isName);
    void refit();

    // The most a panel's name takes of the toolbar, however wide the window.
    static constexpr int widestPanelLabel = 480;
    static constexpr int narrowestPanelLabel = 48;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Parts m_parts;
    QString m_panelLabel;
    bool m_labelIsName = false;
};
