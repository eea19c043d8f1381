// SPDX-License-Identifier: GPL-2.0-or-later
#include "AviSaveOptionsDialog.h"
#include "FrmMain.h"
#include "QtMsgBox.h"
#include "StopSignals.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    IgnoreFileSizeSignal();
    QApplication app(argc, argv);
    const StopSignals stopSignals;
    // Wayland desktops find the window's menu entry, and with it its name and
    // icon, by this id; X11 ones by the window class, which Qt takes from the
    // program's name ("reelcast", the entry's StartupWMClass). The application
    // name is left alone for that reason.
    QGuiApplication::setDesktopFileName(QStringLiteral(REELCAST_APP_ID));
    QIcon icon;
    for (const char* size : {"48x48", "128x128", "256x256"})
        icon.addFile(QStringLiteral(":/icons/%1/apps/" REELCAST_APP_ID ".png").arg(QLatin1String(size)));
    QApplication::setWindowIcon(icon);
    InstallQtMsgBox();
    InstallQtDoEvents();
    InstallAviSaveOptionsDialog();

    FrmMain window;
    CloseOnStopSignal(window);
    window.show();
    return app.exec();
}
