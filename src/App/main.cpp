#include "App/QuorvelApp.h"
#include "Platform/Gui/Symbols.h"
#include "Platform/InfoDictionary.h"
#include "Theme/Theme.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QApplication::setApplicationName(QStringLiteral("Quorvel"));
    QApplication::setApplicationVersion(InfoDictionary::shortVersion());
    QApplication::setDesktopFileName(QStringLiteral("quorvel"));
    QApplication::setWindowIcon(Symbols::applicationIcon());
    Theme::installApplicationLook();

    QuorvelApp quorvel;
    quorvel.showMainWindow();
    return application.exec();
}
