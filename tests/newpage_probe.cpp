// Runs the link opener or the program look-up once, in a process of its own,
// so that each test can give it its own desktop registrations: GIO reads
// them once per process.
//   newpage_probe open APPDIR LINK
//   newpage_probe find FILE      (prints the result code, a newline, and
//                                 the 255-character result text as is)
#include "NewPage.h"
#include "Shell.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "open" && argc == 4) {
        OpenLink(argv[3], argv[2]);
        return 0;
    }
    if (mode == "find" && argc == 3) {
        std::string result(kExecutablePathSize, ' ');
        const ShellResult code = FindExecutableA(argv[2], nullptr, result);
        std::printf("%ld\n", static_cast<long>(code));
        std::fwrite(result.data(), 1, result.size(), stdout);
        return 0;
    }
    std::fprintf(stderr, "usage: newpage_probe open APPDIR LINK | find FILE\n");
    return 2;
}
