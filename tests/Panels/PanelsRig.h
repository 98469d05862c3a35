#pragma once

#include "ControllerRig.h"
#include "Model/SalvoStore.h"

#include <QAbstractItemView>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

// A rig whose router already has `panels` stored (in that order) before the controller is
// made, so the views start from them as they would after a relaunch.
inline RouterController &makeWithPanels(ControllerRig &rig, const QList<SubPanel> &panels)
{
    for (const SubPanel &panel : panels)
        rig.panels.upsert(panel, rig.connection.id);
    return rig.make();
}

// Stores `count` salvos scoped to `panel`, before the controller is made.
inline void addSalvos(ControllerRig &rig, const SubPanel &panel, int count)
{
    for (int i = 0; i < count; ++i) {
        Salvo salvo;
        salvo.name = QStringLiteral("Salvo %1").arg(i + 1);
        salvo.routes = { Route { 0, 0, 0 } };
        salvo.panelID = panel.id;
        rig.salvos.add(salvo, rig.connection.id);
    }
}

template<typename T> T *child(QObject *root, const char *name)
{
    return root->findChild<T *>(QString::fromLatin1(name));
}

// The accessible texts of a list's rows, top to bottom.
inline QStringList rowTexts(QAbstractItemView *view)
{
    QStringList texts;
    for (int row = 0; row < view->model()->rowCount(); ++row)
        texts.append(view->model()->index(row, 0).data(Qt::AccessibleTextRole).toString());
    return texts;
}

inline void clickRow(QAbstractItemView *view, int row)
{
    const QRect rect = view->visualRect(view->model()->index(row, 0));
    QVERIFY(rect.isValid());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
}

inline QAbstractButton *buttonTitled(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

// Runs what is posted, including the deletion of closed sheets and alerts.
inline void settleAll()
{
    ControllerRig::settle();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
