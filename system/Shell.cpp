// SPDX-License-Identifier: GPL-2.0-or-later
#include "Shell.h"

// Before Qt, whose "signals" keyword would rewrite a field name of GIO.
#include <gio/gio.h>

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <system_error>

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool IsOpenVerb(const char* verb)
{
    return verb == nullptr || *verb == '\0' || Lower(verb) == "open";
}

bool OpenDocument(const QString& file, const QString& directory)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return QProcess::startDetached(QStringLiteral("xdg-open"), {file}, directory);
#else
    const QUrl url = QUrl::fromUserInput(file, directory, QUrl::AssumeLocalFile);
    return QDesktopServices::openUrl(url);
#endif
}

struct GFreeDeleter {
    void operator()(gchar* p) const { g_free(p); }
};
struct GStrvDeleter {
    void operator()(gchar** p) const { g_strfreev(p); }
};
struct GObjectDeleter {
    void operator()(gpointer p) const { g_object_unref(p); }
};
using GString_ = std::unique_ptr<gchar, GFreeDeleter>;

// The MIME type of a document, by its name first: a page called *.HTM is
// text/html even where the desktop's type database is missing.
std::string ContentTypeOf(const std::string& path)
{
    const auto dot = path.rfind('.');
    const auto slash = path.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        const std::string ext = Lower(path.substr(dot + 1));
        if (ext == "htm" || ext == "html")
            return "text/html";
    }
    gboolean uncertain = FALSE;
    GString_ guessed(g_content_type_guess(path.c_str(), nullptr, 0, &uncertain));
    if (!guessed)
        return {};
    GString_ mime(g_content_type_get_mime_type(guessed.get()));
    return mime ? std::string(mime.get()) : std::string();
}

// The program of a command line that takes the document as its only
// argument ("browser %u"), or empty when the command line needs more.
std::string SoleProgram(const char* commandLine)
{
    if (commandLine == nullptr)
        return {};
    gchar** argv = nullptr;
    if (!g_shell_parse_argv(commandLine, nullptr, &argv, nullptr))
        return {};
    std::unique_ptr<gchar*, GStrvDeleter> owned(argv);
    std::string program;
    int words = 0;
    for (gchar** arg = argv; *arg != nullptr; ++arg) {
        const std::string word(*arg);
        const bool fieldCode = word.size() == 2 && word[0] == '%';
        if (fieldCode)
            continue;
        if (++words == 1)
            program = word;
    }
    return words == 1 ? program : std::string();
}

} // namespace

ShellResult ShellExecuteA(void* Owner, const char* Verb, const char* File, const char* Parameters,
                          const char* Directory, int Show)
{
    static_cast<void>(Owner);
    static_cast<void>(Show);
    if (File == nullptr || *File == '\0')
        return SE_ERR_FNF;
    if (!IsOpenVerb(Verb))
        return SE_ERR_NOASSOC;

    const QString file = QString::fromStdString(File);
    // A working directory that is not there would stop the start; the
    // program's own directory is only a courtesy to the opened program.
    QString directory = Directory != nullptr ? QString::fromStdString(Directory) : QString();
    if (!directory.isEmpty() && !QFileInfo(directory).isDir())
        directory.clear();
    QFileInfo info(file);
    if (!directory.isEmpty() && info.isRelative())
        info = QFileInfo(directory + QLatin1Char('/') + file);

    if (info.isFile() && info.isExecutable()) {
        QStringList arguments;
        if (Parameters != nullptr && *Parameters != '\0')
            arguments << QString::fromStdString(Parameters);
        return QProcess::startDetached(info.absoluteFilePath(), arguments, directory) ? kShellSuccess
                                                                                       : SE_ERR_ACCESSDENIED;
    }
    return OpenDocument(file, directory) ? kShellSuccess : SE_ERR_NOASSOC;
}

ShellResult FindExecutableA(const char* File, const char* Directory, std::string& Result)
{
    if (File == nullptr || *File == '\0')
        return SE_ERR_FNF;
    std::filesystem::path document(File);
    if (Directory != nullptr && *Directory != '\0' && document.is_relative())
        document = std::filesystem::path(Directory) / document;
    std::error_code error;
    if (!std::filesystem::exists(document, error))
        return SE_ERR_FNF;

    const std::string type =
        std::filesystem::is_directory(document, error) ? "inode/directory" : ContentTypeOf(document.string());
    if (type.empty())
        return SE_ERR_NOASSOC;
    std::unique_ptr<GAppInfo, GObjectDeleter> app(g_app_info_get_default_for_type(type.c_str(), FALSE));
    if (!app)
        return SE_ERR_NOASSOC;

    std::string program = SoleProgram(g_app_info_get_commandline(app.get()));
    if (program.empty())
        return SE_ERR_NOASSOC;
    if (!std::filesystem::path(program).is_absolute()) {
        GString_ found(g_find_program_in_path(program.c_str()));
        if (!found)
            return SE_ERR_NOASSOC;
        program = found.get();
    }

    // The path and its NUL must fit; a cut path would start something else.
    if (program.size() + 1 > Result.size() || program.size() + 1 > kExecutablePathSize)
        return SE_ERR_NOASSOC;
    Result.replace(0, program.size(), program);
    Result[program.size()] = '\0';
    return kShellSuccess;
}
