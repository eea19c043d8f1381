// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The program's one window: the frame directory, the output file, the
// options, the "Create !" button, the status line and the progress bar.
#include "Controls.h"
#include "FileCommonDialog.h"
#include "FileListBox.h"
#include "Folders.h"
#include "MovieBuild.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The font family the window's texts are set in: Tahoma when the system has
// it, else the Tahoma-compatible font shipped with Wine when it is
// installed, else the system's sans-serif family.
QString WindowFontFamily();

// The window is the build run's front end: its controls make the run's
// request, it answers the run's questions and shows its reports, and it keeps
// the run's state between presses.
class FrmMain : public QWidget, public BuildState, private BuildQuestions, private BuildSink {
    Q_OBJECT

public:
    // AppDirectory is where the program lives; empty means the
    // executable's directory. BuildDirectory is where the build put it:
    // only a program that runs from there keeps OutPut beside itself and
    // starts on its own directory (see ChooseFolders).
    explicit FrmMain(const std::string& AppDirectory = {},
                     const std::string& BuildDirectory = ProgramBuildDirectory(), QWidget* parent = nullptr);
    ~FrmMain() override;

    // The controls, under the names the rest of the program knows them by.
    QGroupBox* Frame2 = nullptr;
    WrappedLabel* Label6 = nullptr;
    QGroupBox* FrameFile = nullptr;
    QLabel* Label1 = nullptr;
    PathBox* TxtDir = nullptr;
    QPushButton* CmdBrowse = nullptr;
    QLabel* Label2 = nullptr;
    PathBox* TxtOut = nullptr;
    QPushButton* CmdBrowse2 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* txtFps = nullptr;
    QCheckBox* ChkF = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* TxtW = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* TxtH = nullptr;
    QPushButton* CmdCreate = nullptr;
    QLabel* Status = nullptr;
    QFrame* PB = nullptr;
    QWidget* Barra = nullptr;
    PictureBox* imL = nullptr;
    LinkLabel* lblSite = nullptr;
    LinkLabel* lblMail = nullptr;

    // The output picker's Save dialog, kept for the window's life. The build
    // run's state (Fle, CancelRequested, OutputPath, FirstFramePath,
    // FrameDib, FrameIndex) comes with BuildState.
    FileCommonDialog cDialog;

    // The build run, started and cancelled by CmdCreate, whose caption
    // reads this while no movie is being written.
    static constexpr const char* kCreateCaption = "Create !";
    void CmdCreate_Click();

    // The folder and output pickers behind the two "..." buttons.
    void CmdBrowse_Click();
    void CmdBrowse2_Click();

    // Loads sFile into imL and answers the bitmap to hand to cDIB: sFile
    // itself when SaveBMP is set and it is a .bmp file, else empty. showIm
    // and clearImFirst are not consulted. Throws FileError, naming the file,
    // when it cannot be read or decoded; imL then keeps its picture.
    std::string loadPic(const std::string& sFile, bool showIm, bool clearImFirst, bool SaveBMP);
    bool FileExist(const std::string& path) const;

    // Sets the bar to percent of the track; 0 hides it, anything else shows it.
    void ShowProgress(float percent) override;
    void SetStatus(const QString& caption);
    void SetStatus(const std::string& caption) override;

    // Shows the end of both path boxes, caret after the last character and
    // nothing selected; with moveFocus the focus goes to the progress track.
    void ShowPathEnds(bool moveFocus);

    const std::string& AppDirectory() const { return appDirectory_; }
    // The output folder: OutPut beside a program run from its build tree,
    // else Reelcast in the user's videos folder.
    std::string OutputFolder() const { return folders_.output; }
    // A folder, or a file inside one, sets the frame directory.
    void DropPath(const std::string& path);

    // Start-up troubles (output folder not made, setting not read) that the
    // user is told about once the window is first shown.
    const std::vector<std::string>& StartupProblems() const { return startupProblems_; }

    // Whether the window has been closed; a run in progress stops at its
    // next yield when this turns true.
    bool CloseRequested() const { return closeRequested_; }

    // The folder browser behind CmdBrowse: given the owner and the title,
    // answers the chosen directory, or empty on cancel. Tests replace it.
    using FolderBrowser = std::function<std::string(QWidget* owner, const QString& title)>;
    void SetFolderBrowser(FolderBrowser browser);
    static std::string ShowQtFolderBrowser(QWidget* owner, const QString& title);

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Called on close after the setting is written and the events have been
    // processed once; a running build ends itself properly here.
    virtual void OnClosing();

private:
    // The build run's questions and reports, answered by the window.
    bool ConfirmOverwrite(const std::string& path) override;
    bool ChooseCompressor(PAVISTREAM stream, AVICOMPRESSOPTIONS& options) override;
    void OfferToWatch(const std::string& path) override;
    bool Yield() override;
    std::string FormatPercent(double percent) const override;
    void ShowMessage(const Notice& notice) override;
    std::string ShowFrame(const std::string& bitmap) override;

    void CreateControls();
    void LayOut();
    void SetFonts();
    void SetTabOrder();
    void Connect();
    void StartUp();
    std::string ProposeOutputName() const;
    void FirstActivation();
    void WriteSetting();

    std::string appDirectory_;
    WindowFolders folders_;
    std::vector<std::string> startupProblems_;
    FolderBrowser folderBrowser_;
    bool activated_ = false;
    bool closeRequested_ = false;
};

// Closes the window when a stop signal arrives (see StopSignals), as the
// user closing it would: a run in progress stops at its next yield with its
// movie closed, and the program ends. A StopSignals object must be alive.
void CloseOnStopSignal(QWidget& window);
