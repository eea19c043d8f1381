// SPDX-License-Identifier: GPL-2.0-or-later
#include "AviSaveOptionsDialog.h"
#include "DoEvents.h"
#include "FileCommonDialog.h"
#include "MsgBox.h"
#include "QtMsgBox.h"
#include "Shell.h"
#include "mdAVI.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <tuple>

using namespace std::string_literals;

namespace {

template <class D>
void OnNextModal(const std::function<void(D&)>& act)
{
    QTimer::singleShot(10, [act] {
        if (auto* d = qobject_cast<D*>(QApplication::activeModalWidget()))
            return act(*d);
        OnNextModal<D>(act);
    });
}

using B = QMessageBox;
using Seen = std::tuple<QString, QString, Qt::TextFormat, B::Icon, B::StandardButtons, B::StandardButton>;

// Notes what the next message box shows and presses `press` on it (NoButton: closes it from its title bar).
void PressOnNextBox(B::StandardButton press, Seen& seen)
{
    OnNextModal<B>([press, &seen](B& box) {
        seen = {box.windowTitle(), box.text(), box.textFormat(), box.icon(), box.standardButtons(),
                box.standardButton(box.defaultButton())};
        press == B::NoButton ? void(box.close()) : box.button(press)->click();
    });
}

// The compression dialog's state, last which of its five controls can be changed (1) or not (0).
auto Controls(const QWidget& d)
{
    const auto* key = d.findChild<QCheckBox*>("keyFrameCheck");
    const auto* rate = d.findChild<QCheckBox*>("dataRateCheck");
    std::string enabled;
    for (const char* name : {"keyFrameCheck", "keyFrames", "dataRateCheck", "dataRate", "quality"})
        enabled += d.findChild<QWidget*>(name)->isEnabled() ? '1' : '0';
    return std::tuple(d.findChild<QListWidget*>("compressors")->currentItem()->data(Qt::UserRole).toUInt(),
                      d.findChild<QSlider*>("quality")->value(), d.findChild<QSpinBox*>("keyFrames")->value(),
                      d.findChild<QSpinBox*>("dataRate")->value(), key->isChecked(), rate->isChecked(), key->isHidden(),
                      rate->isHidden(), enabled);
}

bool Put(const QString& path, const QByteArray& text = {}, bool executable = false)
{
    QFile file(path);
    const auto exe = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) && file.write(text) == text.size() &&
           (!executable || file.setPermissions(exe));
}

} // namespace

TEST(QtMsgBox, StylesShowTheirIconAndButtonsAndAnswerTheButtonPressedAlsoThroughTheInstalledHandlers)
{
    const std::tuple<unsigned, const char*, B::StandardButton, int, B::Icon, B::StandardButtons> cases[] = {
        {vbOKOnly, "", B::Ok, vbOK, B::NoIcon, B::Ok}, // an empty title shows the program's name
        {vbCritical, "Error", B::NoButton, vbOK, B::Critical, B::Ok},
        {vbYesNo | vbQuestion, "Open Avi File?", B::Yes, vbYes, B::Question, B::Yes | B::No},
        {vbYesNo | vbExclamation, "Reelcast", B::NoButton, vbNo, B::Warning, B::Yes | B::No},
        {vbOKCancel | vbInformation, "Reelcast", B::Cancel, vbCancel, B::Information, B::Ok | B::Cancel}};
    const QString text = "<b>D:\\frames</b> & more"; // a path, never markup
    Seen seen;
    for (const auto& [style, title, press, answer, icon, buttons] : cases) {
        PressOnNextBox(press, seen);
        EXPECT_EQ(QtMsgBox(text.toStdString(), style, title), answer) << style;
        EXPECT_EQ(seen, Seen(*title ? title : "Reelcast", text, Qt::PlainText, icon, buttons,
                             buttons.testFlag(B::Yes) ? B::Yes : B::Ok))
            << style << ": the first button is the default";
    }
    InstallQtMsgBox();
    InstallQtDoEvents();
    bool ran = false;
    PressOnNextBox(B::Yes, seen);
    EXPECT_EQ(MsgBox("Open the movie?", vbYesNo | vbQuestion, "Reelcast"), vbYes);
    QTimer::singleShot(0, [&] { ran = true; });
    DoEvents();
    EXPECT_TRUE(ran && std::get<1>(seen) == "Open the movie?");
    SetMsgBoxHandler({});
    // With no window to ask, the question goes to standard error and the answer is the one that changes nothing.
    testing::internal::CaptureStderr();
    const int answers[] = {MsgBox("a", vbYesNo, "T"), MsgBox("b", vbOKCancel, "T"), MsgBox("c", vbCritical, "T")};
    EXPECT_EQ(std::vector(answers, answers + 3), (std::vector<int>{vbNo, vbCancel, vbOK}));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "T: a\nT: b\nT: c\n");
}

// One test, in order, because the dialog remembers the last accepted choice for as long as the program runs.
TEST(AviSaveOptionsDialog, ChoosesRemembersAndCancels)
{
    InstallAviSaveOptionsDialog();
    QWidget owner;
    const auto& compressors = AviCompressors();
    auto ask = [&](bool ok, const std::function<void(QDialog&)>& user) {
        OnNextModal<QDialog>([&](QDialog& d) {
            EXPECT_EQ(d.parentWidget(), &owner);
            user(d);
            d.findChild<QDialogButtonBox*>()->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
        });
        AVICOMPRESSOPTIONS options{};
        AVICOMPRESSOPTIONS* array[1] = {&options};
        const int answer = AVISaveOptions(&owner, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, 1, nullptr, array);
        EXPECT_EQ(std::tuple(answer, AviSaveOptionsPending()), std::tuple(ok ? 1 : 0, ok ? 1 : 0));
        AVISaveOptionsFree(answer, array);
        return options;
    };
    // One with every setting, and the first (full frames) with none.
    const auto full = std::find_if(compressors.begin(), compressors.end(),
                                   [](const auto& c) { return c.hasKeyFrames && c.hasDataRate && c.hasQuality; });
    ASSERT_NE(full, compressors.end());
    ASSERT_FALSE(compressors[0].hasKeyFrames || compressors[0].hasDataRate || compressors[0].hasQuality);
    const int fullRow = static_cast<int>(full - compressors.begin());
    AVICOMPRESSOPTIONS chosen = ask(true, [&](QDialog& d) {
        EXPECT_EQ(Controls(d), std::tuple(mmioStringToFOURCC("DIB ", 0), 75, 15, 1000, false, false, false, false, "00000"))
            << "the first opening: quality 75, a key frame every 15, 1000 KB/sec, none chosen";
        auto* list = d.findChild<QListWidget*>("compressors");
        list->setCurrentRow(fullRow);
        EXPECT_EQ(std::get<8>(Controls(d)), "10101");
        d.findChild<QCheckBox*>("keyFrameCheck")->setChecked(true);
        d.findChild<QSpinBox*>("keyFrames")->setValue(10);
        d.findChild<QSlider*>("quality")->setValue(55);
        d.findChild<QCheckBox*>("dataRateCheck")->setChecked(true);
        d.findChild<QSpinBox*>("dataRate")->setValue(300);
        EXPECT_EQ(std::get<8>(Controls(d)), "11110") << "a data rate overrules the quality";
        list->setCurrentRow(0);
        EXPECT_EQ(std::get<8>(Controls(d)), "00000") << "checked, but the compressor has no such settings";
        EXPECT_EQ(d.findChild<QLabel*>("advice")->text().toStdString(), compressors[0].advice);
        list->setCurrentRow(fullRow);
    });
    EXPECT_EQ(std::tuple(chosen.fccHandler, chosen.dwKeyFrameEvery, chosen.dwBytesPerSecond, chosen.dwQuality,
                         chosen.dwFlags & (AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_DATARATE)),
              std::tuple(full->fccHandler, 10u, 300u * 1024, 5500u, AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_DATARATE));
    // Cancel fills nothing, and the next opening still shows the last accepted choice.
    chosen = ask(false, [&](QDialog& d) {
        EXPECT_EQ(std::get<0>(Controls(d)), full->fccHandler);
        d.findChild<QListWidget*>("compressors")->setCurrentRow(0);
    });
    EXPECT_EQ(chosen.fccHandler, 0u);

    // Opened on a record that names a compressor, its values shown within the controls' ranges; rows not asked for hidden.
    AVICOMPRESSOPTIONS initial{0, full->fccHandler, 20000, 12345, 2048, AVICOMPRESSF_VALID, nullptr, 0, nullptr, 0, 0};
    AviSaveOptionsDialog shown(&owner, ICMF_CHOOSE_KEYFRAME, initial);
    EXPECT_EQ(Controls(shown), std::tuple(full->fccHandler, 100, 9999, 2, true, true, false, true, "11110"));
    // Its grid: each control's row, column and spans, the rows not asked for out of sight; the chosen one's advice.
    const auto* grid = shown.findChild<QGridLayout*>();
    QStringList cells;
    for (int i = 0, row, column, rows, columns; i < grid->count(); ++i) {
        const QWidget* w = (grid->getItemPosition(i, &row, &column, &rows, &columns), grid->itemAt(i)->widget());
        cells << QStringLiteral("%1 %2%3%4%5%6").arg(w->objectName().isEmpty() ? w->property("text").toString()
            : w->objectName()).arg(row).arg(column).arg(rows).arg(columns).arg(w->isHidden() ? " hidden" : "");
    }
    EXPECT_EQ(cells.join(", "), "Compressor: 0013, compressors 1013, advice 2013, Quality: 100 3011, quality 3112, "
              "keyFrameCheck 4011, keyFrames 4111, frames 4211, dataRateCheck 5011 hidden, dataRate 5111 hidden, "
              "KB/sec 5211 hidden");
    EXPECT_EQ(shown.findChild<QLabel*>("advice")->text().toStdString(), full->advice);
    const AVICOMPRESSOPTIONS o = shown.Options();
    EXPECT_EQ(std::tuple(o.fccType, o.fccHandler, o.dwKeyFrameEvery, o.dwBytesPerSecond, o.dwQuality, o.dwFlags),
              std::tuple(mmioStringToFOURCC("vids", 0), full->fccHandler, 9999u, 2048u, 10000u,
                         AVICOMPRESSF_VALID | AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_DATARATE));
}

// The window only saves; the object also opens, and its record carries the settings and the chosen filter from one
// dialog to the next.
TEST(FileCommonDialog, HandsItsRecordToEachDialogAndWritesTheNamesBackIntoItsBuffer)
{
    FileCommonDialog dialog;
    QWidget owner;
    std::vector<FileDialogRequest> asked;
    FileDialogAnswer answer;
    dialog.SetPresenter([&](const FileDialogRequest& r) { return asked.push_back(r), answer; });
    dialog.SetFilter("Targa (*.tga)|*.tga|All Files|*");
    dialog.SetWindowTitle("Pick");
    dialog.SetDefaultExtension(".tga");
    dialog.SetInitialDirectory("/home/u");
    dialog.SetObjectOwner(&owner);
    EXPECT_EQ(dialog.Record().lpstrFilter, "Targa (*.tga)\0*.tga\0All Files\0*\0"s);
    const OpenFileNameRecord& r = dialog.Record();
    // The offsets of the name and its extension (0 when it has none; a name all extension has one).
    const std::tuple<const char*, int, int> single[] = {{"/home/u/clip.v2.avi", 8, 16}, {"/home/u.d/clip", 10, 0},
                                                        {"clip.avi", 0, 5}, {"/home/u/.avi", 8, 9}, {".avi", 0, 1}};
    for (const auto& [path, nameAt, extensionAt] : single) {
        answer = {true, {path}, 1};
        EXPECT_EQ(NameBeforeNul(dialog.GetFileOpenName(false)), path);
        EXPECT_EQ(std::tuple(r.lStructSize, r.nMaxFile, r.Flags, r.nFilterIndex, r.nFileOffset, r.nFileExtension),
                  std::tuple(76u, 260u, 0x80004u, 2u, nameAt, extensionAt)) << path;
    }
    ASSERT_EQ(asked.size(), 5u);
    const FileDialogRequest& first = asked[0];
    EXPECT_EQ(std::tuple(first.save, first.multiselect, first.flags, first.owner, first.title, first.initialDirectory,
                         first.defaultExtension, first.filters.size(), first.filters[1].pattern, first.filterIndex,
                         asked[1].filterIndex),
              std::tuple(false, false, 0x80004u, &owner, "Pick", "/home/u", ".tga", 2u, "*", 0u, 1u))
        << "the next dialog starts with the filter chosen last";
    answer = {true, {"/home/u/x"}, 7}; // a filter past the list keeps the one chosen last
    EXPECT_EQ(std::tuple(NameBeforeNul(dialog.GetFileOpenName(false)), r.nFilterIndex), std::tuple("/home/u/x", 2u));
    const std::string prepared = PreparedFileBuffer(), longest = std::string("/").append(258, 'n');
    EXPECT_EQ(prepared, "\0"s + std::string(259, ' '));
    answer = {};
    EXPECT_EQ(dialog.GetFileSaveName(), prepared) << "cancelled";
    EXPECT_TRUE(asked.back().save);
    // Several names of one folder: the folder, each name, a closing NUL; counted and read back, the root's too.
    std::string many = prepared, root = prepared;
    ASSERT_TRUE(WriteFileBuffer(many, {"/a/x", "/a/yy", "/a/z"}, true) && WriteFileBuffer(root, {"/x", "/y"}, true));
    EXPECT_EQ(std::tuple(many.substr(0, 11), CountFiles(many), MultiFilename(many, 1), MultiFilename(many, 3),
                         MultiFilename(many, 4), root.substr(0, 7), CountFiles(root), MultiFilename(root, 2)),
              std::tuple("/a\0x\0yy\0z\0\0"s, 3, "/a/x", "/a/z", "", "/\0x\0y\0\0"s, 2, "/y"));
    // The buffer takes a name that fills it; one too long, several in one or none leave it as prepared.
    std::string buffer = prepared;
    EXPECT_TRUE(WriteFileBuffer(buffer, {longest}, false));
    EXPECT_EQ(std::tuple(buffer, NameBeforeNul(buffer)), std::tuple(longest + "\0"s, longest)) << "the whole buffer";
    const std::tuple<const char*, std::vector<std::string>, bool> refused[] = {
        {"name too long", {longest + "n"}, false}, {"several in one", {"/a/x", "/a/y"}, false}, {"none", {}, false}};
    for (const auto& [what, names, multiselect] : refused) {
        std::string buffer = prepared;
        EXPECT_FALSE(WriteFileBuffer(buffer, names, multiselect)) << what;
        EXPECT_EQ(buffer, prepared) << what;
    }
}

// The build asks before it replaces a movie; the dialog must not ask too.
TEST(ShowQtFileDialog, SaveDialogShowsTheSettingsAddsTheSuffixAndReplacesWithoutAsking)
{
    QTemporaryDir dir;
    ASSERT_TRUE(Put(dir.filePath("Demo000.avi")));
    const FileDialogRequest request{true, false, 0, nullptr, "Select Output Avi File...", dir.path().toStdString(),
                                    "*.avi", {{"Avi Files (*.avi)", "*.avi"}, {"All Files", "*"}}, 1};
    QStringList shown;
    // The name box takes a name given from outside only while it has no focus. While the folder is still being read
    // the name may not be taken yet and the dialog stays open: then the user presses again.
    std::function<void(QFileDialog&)> user = [&](QFileDialog& d) {
        if (shown.isEmpty())
            shown << d.windowTitle() << QDir(d.directory()).canonicalPath() << d.selectedNameFilter();
        if (QWidget* typing = d.focusWidget())
            typing->clearFocus();
        d.selectFile("Demo000");
        d.testOption(QFileDialog::DontConfirmOverwrite) ? static_cast<QDialog&>(d).accept() : d.reject();
        if (d.isVisible())
            OnNextModal<QFileDialog>(user);
    };
    OnNextModal<QFileDialog>(user);
    const FileDialogAnswer answer = ShowQtFileDialog(request);
    EXPECT_EQ(shown, (QStringList{"Select Output Avi File...", QDir(dir.path()).canonicalPath(), "All Files (*)"}));
    EXPECT_EQ(std::tuple(answer.accepted, answer.filterIndex, answer.paths),
              std::tuple(true, 1u, std::vector<std::string>{dir.filePath("Demo000.avi").toStdString()}));
}

// A registered program is found only when its path fits; one named is started whatever the case of "open".
TEST(Shell, StartsProgramsAndFindsOnlyThoseWhosePathFits)
{
    QTemporaryDir root;
    const QString home = root.path(), apps = home + "/XDG_DATA_HOME/applications";
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS"})
        qputenv(name, (home + "/" + name).toUtf8());
    qunsetenv("XDG_CURRENT_DESKTOP");
    // A page's program whose path and NUL fill all but one character of the result.
    const QString path = home + "/p/" + QString(254 - home.size() - 3, QChar('x'));
    const std::string program = path.toStdString(), dir = home.toStdString(), stuck = dir + "/p/stuck";
    ASSERT_TRUE(Put(path, "#!/bin/sh\necho \"$PWD $*\" > \"$0.ran\"\n", true) &&
                Put(apps + "/page.desktop", "[Desktop Entry]\nType=Application\nName=P\nExec=" + path.toUtf8() +
                                                " %f\nMimeType=text/html;\n") &&
                Put(home + "/XDG_CONFIG_HOME/mimeapps.list", "[Default Applications]\ntext/html=page.desktop\n"));
    // The last one exists and may be executed, but its interpreter is not there.
    ASSERT_TRUE(Put(home + "/page.html") && Put(home + "/x.html/page") && Put(home + "/PAGE.HTM") &&
                Put(home + "/p/stuck", "#!/no/such/sh\n", true));
    std::string result(kExecutablePathSize, ' '), tooSmall(254, ' ');
    EXPECT_GT(FindExecutableA("page.html", dir.c_str(), result), 32);
    EXPECT_EQ(result, program + '\0');
    EXPECT_EQ(FindExecutableA("page.html", dir.c_str(), tooSmall), SE_ERR_NOASSOC);
    EXPECT_EQ(tooSmall, std::string(254, ' '));
    // A page is known by its name in any letter case; a dot in a folder's name is no extension.
    result.assign(kExecutablePathSize, ' ');
    EXPECT_EQ(FindExecutableA((dir + "/PAGE.HTM").c_str(), "/nowhere", result), kShellSuccess);
    EXPECT_EQ(NameBeforeNul(result), program);
    const std::tuple<ShellResult, ShellResult, const char*> refused[] = {
        {FindExecutableA("x.html/page", dir.c_str(), result), SE_ERR_NOASSOC, "no extension"},
        {FindExecutableA("gone.html", dir.c_str(), result), SE_ERR_FNF, "no such file"},
        {FindExecutableA("", dir.c_str(), result), SE_ERR_FNF, "no name"},
        {FindExecutableA(nullptr, dir.c_str(), result), SE_ERR_FNF, "no name"},
        {ShellExecuteA(nullptr, "open", stuck.c_str(), nullptr, nullptr, SW_SHOWNORMAL), SE_ERR_ACCESSDENIED, "stuck"}};
    for (const auto& [answer, expected, what] : refused)
        EXPECT_EQ(answer, expected) << what;

    // Any letter case of "open"; no argument when none is given, and a working directory that is not there is none.
    EXPECT_EQ(ShellExecuteA(nullptr, "OPEN", program.c_str(), "", "/nowhere", SW_SHOWNORMAL), kShellSuccess);
    QFile note(QString::fromStdString(program) + ".ran"); // what the program wrote, once it has
    for (int i = 0; i < 500 && !(note.exists() && note.size() > 0); ++i)
        QThread::msleep(20);
    ASSERT_TRUE(note.open(QIODevice::ReadOnly));
    EXPECT_EQ(note.readAll().toStdString(), QDir::currentPath().toStdString() + " \n");
}
