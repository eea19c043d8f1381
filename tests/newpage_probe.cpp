// Runs the link opener once, in a process of its own, so that each test can
// give it its own desktop registrations: GIO reads them once per process.
//   newpage_probe APPDIR LINK
#include "NewPage.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: newpage_probe APPDIR LINK\n");
        return 2;
    }
    OpenLink(argv[2], argv[1]);
    return 0;
}
