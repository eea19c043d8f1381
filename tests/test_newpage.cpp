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
#include <utility>
#include <optional>
#include <string>

namespace {

struct Launch {
    QString workingDirectory;
    bool pageExisted = false;
    QStringList arguments;
};

class Desktop {
public:
    Desktop()
    {
        EXPECT_TRUE(root_.isValid());
        for (const char* dir : {"app", "bin", "records", "data/applications", "config", "sysdata", "sysconfig"})
            EXPECT_TRUE(QDir(root_.path()).mkpath(QString::fromLatin1(dir)));
        WriteStandIn(Path("bin/xdg-open"), "shell");
        WriteStandIn(BrowserPath(), "browser");
    }

    QString Path(const QString& relative) const { return root_.filePath(relative); }
    QString AppDir() const { return Path("app"); }
    QString BrowserPath() const { return Path("bin-browser.sh"); }
    QString PagePath() const { return Path("app/temphtm.HTM"); }

    void RegisterBrowser(const QString& execArguments = QStringLiteral("%u"))
    {
        WriteFile(Path("data/applications/reelcast-standin-browser.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Stand-in Browser\nExec=" + BrowserPath().toUtf8() + " "
                      + execArguments.toUtf8() + "\nMimeType=text/html;\n");
        WriteFile(Path("config/mimeapps.list"),
                  "[Default Applications]\ntext/html=reelcast-standin-browser.desktop\n");
    }

    // Runs the probe to its end; the programs it started may still be running.
    QByteArray Probe(const QStringList& arguments)
    {
        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", Path("bin") + ":/usr/bin:/bin");
        env.insert("HOME", root_.path());
        env.insert("XDG_DATA_HOME", Path("data"));
        env.insert("XDG_DATA_DIRS", Path("sysdata"));
        env.insert("XDG_CONFIG_HOME", Path("config"));
        env.insert("XDG_CONFIG_DIRS", Path("sysconfig"));
        env.remove("XDG_CURRENT_DESKTOP");
        env.insert("RECORDS", Path("records"));
        env.insert("PAGE", PagePath());
        probe.setProcessEnvironment(env);
        probe.setWorkingDirectory(root_.path());
        probe.start(QStringLiteral(NEWPAGE_PROBE), arguments);
        EXPECT_TRUE(probe.waitForFinished(30000));
        EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().toStdString();
        return probe.readAllStandardOutput();
    }

    void OpenLink(const QString& link) { Probe({QStringLiteral("open"), AppDir(), link}); }

    // The launch of a stand-in. The started programs run detached, so the
    // record may come a moment after the probe has ended.
    std::optional<Launch> WaitForLaunch(const char* who)
    {
        const QString record = Path("records/") + QString::fromLatin1(who);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!QFileInfo::exists(record) && std::chrono::steady_clock::now() < deadline)
            QThread::msleep(20);
        return ReadLaunch(record);
    }

    // Whether a stand-in was started, once the expected one has reported.
    bool Launched(const char* who) const
    {
        QThread::msleep(200);
        return QFileInfo::exists(Path("records/") + QString::fromLatin1(who));
    }

    static void WriteFile(const QString& path, const QByteArray& content)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

private:
    void WriteStandIn(const QString& path, const char* who)
    {
        WriteFile(path, QByteArray("#!/bin/sh\nout=\"$RECORDS/") + who
                            + "\"\n{ printf '%s\\n' \"$PWD\"; if [ -e \"$PAGE\" ]; then echo page; else echo "
                              "nopage; fi; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > \"$out.part\" && "
                              "mv \"$out.part\" \"$out\"\n");
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    static std::optional<Launch> ReadLaunch(const QString& record)
    {
        QFile file(record);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
        if (lines.size() < 2)
            return std::nullopt;
        lines.removeLast(); // after the last newline
        Launch launch;
        launch.workingDirectory = lines.takeFirst();
        launch.pageExisted = lines.takeFirst() == "page";
        launch.arguments = lines;
        return launch;
    }

    QTemporaryDir root_;
};

// The one stand-in `who` was started with the link as its only argument,
// and `other` was not started at all.
Launch ExpectOnlyLaunch(Desktop& desktop, const char* who, const char* other, const QString& link)
{
    const auto launch = desktop.WaitForLaunch(who);
    EXPECT_TRUE(launch.has_value()) << who << " never started";
    EXPECT_FALSE(desktop.Launched(other)) << other << " started too";
    EXPECT_EQ(launch.value_or(Launch{}).arguments, QStringList{link});
    return launch.value_or(Launch{});
}

} // namespace

TEST(OpenLink, WebLinkStartsTheRegisteredBrowserWithTheAddressAsItsOneArgument)
{
    Desktop desktop;
    desktop.RegisterBrowser();
    // A page of that name left behind is replaced and then removed too.
    Desktop::WriteFile(desktop.PagePath(), "left behind");
    const QString link = QStringLiteral("https://reelcast.example.org/get it?page=1 2");
    desktop.OpenLink(link);
    EXPECT_FALSE(ExpectOnlyLaunch(desktop, "browser", "shell", link).pageExisted)
        << "the page is deleted before the browser starts";
    EXPECT_FALSE(QFileInfo::exists(desktop.PagePath()));

    // Shorter than a mail prefix: a web link too.
    Desktop other;
    other.RegisterBrowser();
    other.OpenLink(QStringLiteral("mailto"));
    ExpectOnlyLaunch(other, "browser", "shell", QStringLiteral("mailto"));
}

TEST(OpenLink, WithoutAUsableBrowserOrPageTheShellOpensTheAddress)
{
    const QString link = QStringLiteral("https://reelcast.example.org");
    {
        Desktop desktop; // no browser registered
        desktop.OpenLink(link);
        const Launch shell = ExpectOnlyLaunch(desktop, "shell", "browser", link);
        EXPECT_EQ(QDir(shell.workingDirectory), QDir(desktop.AppDir()));
        EXPECT_FALSE(shell.pageExisted);
        EXPECT_FALSE(QFileInfo::exists(desktop.PagePath()));
    }
    {
        Desktop desktop; // a browser that needs more than the address
        desktop.RegisterBrowser(QStringLiteral("--new-window %u"));
        desktop.OpenLink(link);
        ExpectOnlyLaunch(desktop, "shell", "browser", link);
    }
    {
        // A folder where the page should go: the page cannot be written, and
        // the folder is not the opener's to remove.
        Desktop desktop;
        desktop.RegisterBrowser();
        ASSERT_TRUE(QDir().mkpath(desktop.PagePath()));
        Desktop::WriteFile(desktop.PagePath() + "/keep.txt", "mine");
        desktop.OpenLink(link);
        ExpectOnlyLaunch(desktop, "shell", "browser", link);
        EXPECT_TRUE(QFileInfo::exists(desktop.PagePath() + "/keep.txt"));
    }
    {
        Desktop desktop; // the application directory is gone
        desktop.Probe({QStringLiteral("open"), desktop.Path("gone"), link});
        ExpectOnlyLaunch(desktop, "shell", "browser", link);
    }
}

TEST(OpenLink, MailLinkInAnyLetterCaseGoesStraightToTheShellWithoutAPage)
{
    for (const char* mail :
         {"mailto:support@reelcast.example.org", "MAILTO:support@reelcast.example.org", "MaIlTo:someone@example.org"}) {
        SCOPED_TRACE(mail);
        Desktop desktop;
        desktop.RegisterBrowser();
        // Left alone: a mail link writes no page, so this one must survive.
        Desktop::WriteFile(desktop.PagePath(), "not the opener's");
        desktop.OpenLink(QString::fromLatin1(mail));
        const Launch shell = ExpectOnlyLaunch(desktop, "shell", "browser", QString::fromLatin1(mail));
        EXPECT_EQ(QDir(shell.workingDirectory), QDir(desktop.AppDir()));
        QFile page(desktop.PagePath());
        ASSERT_TRUE(page.open(QIODevice::ReadOnly));
        EXPECT_EQ(page.readAll(), "not the opener's");
    }
}

TEST(FindExecutable, FillsTheProgramPathThenANulAndKeepsTheBlanksOrAnswersAFailureCode)
{
    Desktop desktop;
    const QString htm = desktop.Path("app/page.htm"), HTM = desktop.Path("app/page.HTM");
    Desktop::WriteFile(htm, "x");
    Desktop::WriteFile(HTM, "\"<HTML> <\\HTML>\"\r\n");
    auto find = [&](const QString& file) {
        const QByteArray out = desktop.Probe({QStringLiteral("find"), file});
        const auto newline = out.indexOf('\n');
        EXPECT_GT(newline, 0);
        return std::pair{out.left(newline).toLong(), out.mid(newline + 1).toStdString()};
    };
    // No browser registered yet.
    for (const QString& file : {htm, desktop.Path("app/missing.htm")}) {
        const auto [code, text] = find(file);
        EXPECT_LE(code, 32) << file.toStdString();
        EXPECT_EQ(text, std::string(255, ' ')) << file.toStdString();
    }

    desktop.RegisterBrowser();
    const auto [code, text] = find(HTM);
    EXPECT_GT(code, 32);
    const std::string program = desktop.BrowserPath().toStdString();
    EXPECT_EQ(text, program + '\0' + std::string(255 - program.size() - 1, ' '));
}
