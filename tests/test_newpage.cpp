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

} // namespace

TEST(OpenLink, WebLinkStartsTheRegisteredBrowserWithTheAddressAsItsOneArgument)
{
    Desktop desktop;
    desktop.RegisterBrowser();
    // A page of that name left behind is replaced and then removed too.
    Desktop::WriteFile(desktop.PagePath(), "left behind");

    const QString link = QStringLiteral("https://reelcast.example.org/get it?page=1 2");
    desktop.OpenLink(link);

    const auto browser = desktop.WaitForLaunch("browser");
    ASSERT_TRUE(browser.has_value());
    EXPECT_EQ(browser->arguments, QStringList{link});
    EXPECT_FALSE(browser->pageExisted) << "the page is deleted before the browser starts";
    EXPECT_FALSE(desktop.Launched("shell"));
    EXPECT_FALSE(QFileInfo::exists(desktop.PagePath()));
}

TEST(OpenLink, WithoutARegisteredBrowserTheShellOpensTheAddress)
{
    Desktop desktop;
    desktop.OpenLink(QStringLiteral("https://reelcast.example.org"));

    const auto shell = desktop.WaitForLaunch("shell");
    ASSERT_TRUE(shell.has_value());
    EXPECT_EQ(shell->arguments, QStringList{"https://reelcast.example.org"});
    EXPECT_EQ(QDir(shell->workingDirectory), QDir(desktop.AppDir()));
    EXPECT_FALSE(shell->pageExisted);
    EXPECT_FALSE(QFileInfo::exists(desktop.PagePath()));
}

TEST(OpenLink, BrowserThatNeedsMoreThanTheAddressIsLeftToTheShell)
{
    Desktop desktop;
    desktop.RegisterBrowser(QStringLiteral("--new-window %u"));
    desktop.OpenLink(QStringLiteral("https://reelcast.example.org"));

    const auto shell = desktop.WaitForLaunch("shell");
    ASSERT_TRUE(shell.has_value());
    EXPECT_EQ(shell->arguments, QStringList{"https://reelcast.example.org"});
    EXPECT_FALSE(desktop.Launched("browser"));
}

TEST(OpenLink, LinkShorterThanAMailPrefixIsAWebLink)
{
    Desktop desktop;
    desktop.RegisterBrowser();
    desktop.OpenLink(QStringLiteral("mailto"));

    const auto browser = desktop.WaitForLaunch("browser");
    ASSERT_TRUE(browser.has_value());
    EXPECT_EQ(browser->arguments, QStringList{"mailto"});
    EXPECT_FALSE(desktop.Launched("shell"));
}

TEST(OpenLink, PageThatCannotBeWrittenLeavesTheAddressToTheShell)
{
    Desktop desktop;
    desktop.RegisterBrowser();
    // A folder where the page should go: the page cannot be written, and the
    // folder is not the opener's to remove.
    ASSERT_TRUE(QDir().mkpath(desktop.PagePath()));
    Desktop::WriteFile(desktop.PagePath() + "/keep.txt", "mine");

    desktop.OpenLink(QStringLiteral("https://reelcast.example.org"));

    const auto shell = desktop.WaitForLaunch("shell");
    ASSERT_TRUE(shell.has_value());
    EXPECT_EQ(shell->arguments, QStringList{"https://reelcast.example.org"});
    EXPECT_FALSE(desktop.Launched("browser"));
    EXPECT_TRUE(QFileInfo::exists(desktop.PagePath() + "/keep.txt"));
}

TEST(OpenLink, MissingApplicationDirectoryStillOpensTheAddress)
{
    Desktop desktop;
    desktop.Probe({QStringLiteral("open"), desktop.Path("gone"), QStringLiteral("https://reelcast.example.org")});
    const auto shell = desktop.WaitForLaunch("shell");
    ASSERT_TRUE(shell.has_value());
    EXPECT_EQ(shell->arguments, QStringList{"https://reelcast.example.org"});
}

class MailLink : public ::testing::TestWithParam<const char*> {};

TEST_P(MailLink, GoesStraightToTheShellWithoutAPage)
{
    Desktop desktop;
    desktop.RegisterBrowser();
    // Left alone: a mail link writes no page, so this one must survive.
    Desktop::WriteFile(desktop.PagePath(), "not the opener's");

    const QString link = QString::fromLatin1(GetParam());
    desktop.OpenLink(link);

    const auto shell = desktop.WaitForLaunch("shell");
    ASSERT_TRUE(shell.has_value());
    EXPECT_EQ(shell->arguments, QStringList{link});
    EXPECT_EQ(QDir(shell->workingDirectory), QDir(desktop.AppDir()));
    EXPECT_FALSE(desktop.Launched("browser"));
    QFile page(desktop.PagePath());
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    EXPECT_EQ(page.readAll(), "not the opener's");
}

INSTANTIATE_TEST_SUITE_P(AnyLetterCase, MailLink,
                         ::testing::Values("mailto:support@reelcast.example.org", "MAILTO:support@reelcast.example.org",
                                           "MaIlTo:someone@example.org"));

TEST(FindExecutable, FillsTheProgramPathThenANulAndKeepsTheBlanks)
{
    Desktop desktop;
    desktop.RegisterBrowser();
    const QString page = desktop.Path("app/page.HTM");
    Desktop::WriteFile(page, "\"<HTML> <\\HTML>\"\r\n");

    const QByteArray out = desktop.Probe({QStringLiteral("find"), page});
    const auto newline = out.indexOf('\n');
    ASSERT_GT(newline, 0);
    EXPECT_GT(out.left(newline).toLong(), 32);
    const std::string result = out.mid(newline + 1).toStdString();
    const std::string program = desktop.BrowserPath().toStdString();
    ASSERT_EQ(result.size(), 255u);
    EXPECT_EQ(result.substr(0, program.size()), program);
    EXPECT_EQ(result[program.size()], '\0');
    EXPECT_EQ(result.find_first_not_of(' ', program.size() + 1), std::string::npos);
}

TEST(FindExecutable, AnswersAFailureCodeAndLeavesTheTextAlone)
{
    Desktop desktop;
    const QString page = desktop.Path("app/page.htm");
    Desktop::WriteFile(page, "x");

    for (const QString& file : {page, desktop.Path("app/missing.htm")}) {
        const QByteArray out = desktop.Probe({QStringLiteral("find"), file});
        const auto newline = out.indexOf('\n');
        ASSERT_GT(newline, 0);
        EXPECT_LE(out.left(newline).toLong(), 32) << file.toStdString();
        EXPECT_EQ(out.mid(newline + 1), QByteArray(255, ' '));
    }
}
