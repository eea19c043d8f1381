#include "AviSaveOptionsDialog.h"
#include "FrmMain.h"
#include "QtMsgBox.h"
#include "StopSignals.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    IgnoreFileSizeSignal();
    QApplication app(argc, argv);
    const StopSignals stopSignals;
    InstallQtMsgBox();
    InstallQtDoEvents();
    InstallAviSaveOptionsDialog();

    FrmMain window;
    CloseOnStopSignal(window);
    window.show();
    return app.exec();
}
