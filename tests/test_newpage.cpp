// The link opener against a real GIO look-up. Every case runs the opener in
// a process of its own (newpage_probe) inside a private desktop: its own XDG
// directories, where a stand-in browser may be registered for text/html, and
// a stand-in xdg-open first on PATH. Both stand-ins record how they were
// started.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <tuple>
#include <utility>

namespace {

void WriteFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

class Desktop {
public:
    Desktop()
    {
        for (const char* dir : {"app", "bin", "data/applications", "config", "sysdata", "sysconfig"})
            EXPECT_TRUE(QDir(root_.path()).mkpath(dir));
        // Each stand-in adds a line to the launch record: its name, working
        // directory, whether the page existed, and its arguments.
        for (const QString who : {"shell", "browser"}) {
            const QString path = who == "shell" ? Path("bin/xdg-open") : BrowserPath();
            WriteFile(path, "#!/bin/sh\nline=$(printf '%s\\t' " + who.toUtf8() +
                                " \"$PWD\" \"$([ -e \"$PAGE\" ] && echo page || echo nopage)\" \"$@\")\n"
                                "printf '%s\\n' \"$line\" >> \"$RECORD\"\n");
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        }
    }

    QString Path(const QString& relative) const { return root_.filePath(relative); }
    QString BrowserPath() const { return Path("bin-browser.sh"); }
    QString PagePath() const { return Path("app/temphtm.HTM"); }

    void RegisterBrowser(const QString& execArguments)
    {
        WriteFile(Path("data/applications/standin-browser.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Stand-in\nExec=" + BrowserPath().toUtf8() + " " +
                      execArguments.toUtf8() + "\nMimeType=text/html;\n");
        WriteFile(Path("config/mimeapps.list"), "[Default Applications]\ntext/html=standin-browser.desktop\n");
    }

    // Opens the link with the probe; the programs it started may still be running.
    void OpenLink(const QString& appDirectory, const QString& link)
    {
        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const std::pair<const char*, QString> vars[] = {
            {"PATH", Path("bin") + ":/usr/bin:/bin"}, {"HOME", root_.path()}, {"XDG_DATA_HOME", Path("data")},
            {"XDG_DATA_DIRS", Path("sysdata")}, {"XDG_CONFIG_HOME", Path("config")},
            {"XDG_CONFIG_DIRS", Path("sysconfig")}, {"RECORD", Path("launches")}, {"PAGE", PagePath()}};
        for (const auto& [name, value] : vars)
            env.insert(name, value);
        env.remove("XDG_CURRENT_DESKTOP");
        probe.setProcessEnvironment(env);
        probe.start(NEWPAGE_PROBE, {appDirectory, link});
        EXPECT_TRUE(probe.waitForFinished(30000));
        EXPECT_EQ(std::pair(probe.exitStatus(), probe.exitCode()), std::pair(QProcess::NormalExit, 0))
            << probe.readAllStandardError().toStdString();
    }

    // The launches recorded, each split into its fields. The started
    // programs run detached: the first may come a moment after the probe
    // ends, and a second, wrong one is given a moment to show too.
    std::vector<QStringList> Launches() const
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!QFileInfo::exists(Path("launches")) && std::chrono::steady_clock::now() < deadline)
            QThread::msleep(20);
        QThread::msleep(200);
        QFile record(Path("launches"));
        std::vector<QStringList> launches;
        if (record.open(QIODevice::ReadOnly))
            for (const QString& line : QString::fromUtf8(record.readAll()).split('\n', Qt::SkipEmptyParts))
                launches.push_back(line.split('\t'));
        return launches;
    }

private:
    QTemporaryDir root_;
};

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
        Desktop desktop;
        if (c.browserExec)
            desktop.RegisterBrowser(c.browserExec);
        if (c.page == Folder) {
            ASSERT_TRUE(QDir().mkpath(desktop.PagePath() + "/keep"));
        } else if (c.page == LeftBehind) {
            WriteFile(desktop.PagePath(), "left behind");
        }
        desktop.OpenLink(desktop.Path("app"), c.link);
        const auto launches = desktop.Launches();
        ASSERT_EQ(launches.size(), 1u) << "one program started";
        const QStringList& launch = launches[0]; // name, directory, page, the link, and after the last tab nothing
        ASSERT_EQ(launch.size(), 5) << launch.join('|').toStdString();
        EXPECT_EQ(std::tuple(launch[0], launch[3]), std::tuple(QString(c.expected), c.link));
        if (launch[0] == "browser") {
            EXPECT_EQ(launch[2], "nopage") << "the page is deleted before the browser starts";
        } else {
            EXPECT_EQ(QDir(launch[1]), QDir(desktop.Path("app")));
        }
        // A mail link writes no page and deletes none; a folder is not the opener's.
        const bool mail = c.link.startsWith("mailto:", Qt::CaseInsensitive);
        EXPECT_EQ(QFileInfo::exists(desktop.PagePath() + (c.page == Folder ? "/keep" : "")),
                  c.page == Folder || (mail && c.page == LeftBehind));
    }
}
