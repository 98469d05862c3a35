#pragma once

#include "Controllers/RouterController.h"
#include "FakeRouterDriver.h"
#include "Model/LabelStore.h"
#include "Model/PanelStore.h"
#include "Model/SalvoStore.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// What the controller reported for the usage statistics.
struct UsageLog
{
    QList<RouterVendor> connected;
    int takes = 0;
    int fires = 0;
};

// A controller on a fake driver, with its three stores in a private folder.
class ControllerRig
{
public:
    ControllerRig()
    {
        connection.name = QStringLiteral("Studio Router");
        connection.vendor = RouterVendor::blackmagicVideohub;
        connection.host = QStringLiteral("127.0.0.1");
    }

    RouterController &make(DriverMaker maker = {})
    {
        auto log = usage;
        RouterController::UsageHooks hooks {
            [log](RouterVendor vendor) { log->connected.append(vendor); },
            [log] { ++log->takes; },
            [log] { ++log->fires; },
        };
        controller = std::make_unique<RouterController>(connection, labels, salvos, panels,
                                                        maker ? maker : drivers.maker(), hooks);
        return *controller;
    }

    // Connects the controller and delivers `state` as the router's answer.
    FakeRouterDriver &connectWith(const RouterState &state)
    {
        if (!controller)
            make();
        controller->connect();
        FakeRouterDriver &driver = *drivers.last();
        driver.emitEvent(RouterDriverEvent::makeConnected(state));
        settle();
        return driver;
    }

    // Lets every posted event, completion and task run.
    static void settle()
    {
        for (int i = 0; i < 8; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
    }

    QTemporaryDir dir;
    LabelStore labels { dir.filePath(QStringLiteral("labels.json")) };
    SalvoStore salvos { dir.filePath(QStringLiteral("salvos.json")) };
    PanelStore panels { dir.filePath(QStringLiteral("panels.json")) };
    FakeDriverMaker drivers;
    std::shared_ptr<UsageLog> usage = std::make_shared<UsageLog>();
    RouterConnection connection;
    std::unique_ptr<RouterController> controller;
};

// A router state with `sources` x `destinations` ports labelled "S1"… and "D1"…, levels
// 0…levels-1 named "Level n", and no routes.
inline RouterState makeState(int sources, int destinations, int levels = 1)
{
    RouterState state;
    state.deviceName = QStringLiteral("Device");
    state.model = QStringLiteral("Model");
    state.vendor = RouterVendor::simulator;
    for (int i = 0; i < sources; ++i)
        state.sources.append(Port { i, PortKind::source, QStringLiteral("S%1").arg(i + 1) });
    for (int i = 0; i < destinations; ++i)
        state.destinations.append(
            Port { i, PortKind::destination, QStringLiteral("D%1").arg(i + 1) });
    for (int l = 0; l < levels; ++l)
        state.levels.append(RouterLevel { l, QStringLiteral("Level %1").arg(l), LevelKind::video });
    return state;
}

inline QList<int> indicesOf(const QList<Port> &ports)
{
    QList<int> indices;
    for (const Port &port : ports)
        indices.append(port.index);
    return indices;
}

inline SubPanel makePanel(const QString &name, QList<int> sources, QList<int> destinations)
{
    SubPanel panel;
    panel.name = name;
    panel.sourceIndices = std::move(sources);
    panel.destinationIndices = std::move(destinations);
    return panel;
}
