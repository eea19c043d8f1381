#include "FrmMain.h"
#include "QtMsgBox.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    InstallQtMsgBox();
    InstallQtDoEvents();
    // The movie layer's compression dialog is installed here as well.

    FrmMain window;
    window.show();
    return app.exec();
}
