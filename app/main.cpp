#include "AviSaveOptionsDialog.h"
#include "FrmMain.h"
#include "QtMsgBox.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    InstallQtMsgBox();
    InstallQtDoEvents();
    InstallAviSaveOptionsDialog();

    FrmMain window;
    window.show();
    return app.exec();
}
