// The link opener against a real GIO look-up. GIO reads the desktop's
// registrations once per process, so every case runs the opener in a process
// of its own (this program again, with --open-link) inside a private desktop:
// its own XDG directories, where a stand-in browser may be registered for
// text/html, and a stand-in xdg-open first on PATH. Both stand-ins record how
// they were started.
#include "NewPage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

namespace {

void WriteFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

} // namespace

// A web link goes to the program registered for the temporary page, with the
// address as its one argument, after the page is gone again; anything else
// goes to the shell, in the application directory.
TEST(OpenLink, EachLinkReachesTheRightProgramAndNoPageIsLeftBehind)
{
    const QString web = "https://reelcast.example.org/get it?page=1 2";
    enum Page { None, LeftBehind, Folder };
    const struct {
        const char* what;
        const char* browserExec; // null: none registered
        Page page;
        QString link;
        const char* expected;
    } cases[] = {
        {"web link", "%u", LeftBehind, web, "browser"},
        {"shorter than a mail prefix", "%u", None, "mailto", "browser"},
        {"no browser", nullptr, None, web, "shell"},
        {"browser that needs more than the address", "--new-window %u", None, web, "shell"},
        {"folder where the page goes", "%u", Folder, web, "shell"},
        {"mail link", "%u", LeftBehind, "mailto:support@reelcast.example.org", "shell"},
        {"mail link in mixed case", "%u", None, "MaIlTo:someone@example.org", "shell"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir root;
        const auto path = [&](const char* relative) { return root.filePath(relative); };
        const QString page = path("app/temphtm.HTM");
        for (const char* dir : {"app", "bin", "data/applications", "config", "sysdata", "sysconfig"})
            ASSERT_TRUE(QDir(root.path()).mkpath(dir));
        // Each stand-in adds a line to the launch record: its name, working
        // directory, whether the page existed, and its arguments.
        for (const QString who : {"shell", "browser"})
            WriteFile(path(who == "shell" ? "bin/xdg-open" : "browser.sh"),
                      "#!/bin/sh\nline=$(printf '%s\\t' " + who.toUtf8() +
                          " \"$PWD\" \"$([ -e \"$PAGE\" ] && echo page || echo nopage)\" \"$@\")\n"
                          "printf '%s\\n' \"$line\" >> \"$RECORD\"\n");
        if (c.browserExec) {
            WriteFile(path("data/applications/standin-browser.desktop"),
                      "[Desktop Entry]\nType=Application\nName=Stand-in\nExec=" + path("browser.sh").toUtf8() + " " +
                          c.browserExec + "\nMimeType=text/html;\n");
            WriteFile(path("config/mimeapps.list"), "[Default Applications]\ntext/html=standin-browser.desktop\n");
        }
        ASSERT_TRUE(c.page != Folder || QDir().mkpath(page + "/keep"));
        if (c.page == LeftBehind)
            WriteFile(page, "left behind");

        QProcess opener;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const std::pair<const char*, QString> vars[] = {
            {"PATH", path("bin") + ":/usr/bin:/bin"}, {"HOME", root.path()}, {"XDG_DATA_HOME", path("data")},
            {"XDG_DATA_DIRS", path("sysdata")}, {"XDG_CONFIG_HOME", path("config")},
            {"XDG_CONFIG_DIRS", path("sysconfig")}, {"RECORD", path("launches")}, {"PAGE", page}};
        for (const auto& [name, value] : vars)
            env.insert(name, value);
        env.remove("XDG_CURRENT_DESKTOP");
        opener.setProcessEnvironment(env);
        opener.start(QCoreApplication::applicationFilePath(), {"--open-link", path("app"), c.link});
        EXPECT_TRUE(opener.waitForFinished(30000));
        EXPECT_EQ(std::pair(opener.exitStatus(), opener.exitCode()), std::pair(QProcess::NormalExit, 0))
            << opener.readAllStandardError().toStdString();
        // The started programs run detached: the first may come a moment
        // after the opener ends, and a second, wrong one is given a moment to
        // show too.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!QFile::exists(path("launches")) && std::chrono::steady_clock::now() < deadline)
            QThread::msleep(20);
        QThread::msleep(200);
        QFile record(path("launches"));
        ASSERT_TRUE(record.open(QIODevice::ReadOnly)) << "no program started";
        const QStringList launches = QString::fromUtf8(record.readAll()).split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(launches.size(), 1) << "one program started";
        const QStringList launch = launches[0].split('\t'); // name, directory, page, link, and nothing
        ASSERT_EQ(launch.size(), 5) << launches[0].toStdString();
        EXPECT_EQ(std::tuple(launch[0], launch[3]), std::tuple(QString(c.expected), c.link));
        if (launch[0] == "browser")
            EXPECT_EQ(launch[2], "nopage") << "the page is deleted before the browser starts";
        else
            EXPECT_EQ(QDir(launch[1]), QDir(path("app")));
        // A mail link writes no page and deletes none; a folder is not the opener's.
        const bool mail = c.link.startsWith("mailto:", Qt::CaseInsensitive);
        EXPECT_EQ(QFile::exists(page + (c.page == Folder ? "/keep" : "")),
                  c.page == Folder || (mail && c.page == LeftBehind));
    }
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--open-link") // APPDIR LINK
        return OpenLink(argv[3], argv[2]), 0;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
