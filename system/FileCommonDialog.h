// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The reusable Open/Save dialog object. Its settings and the last result
// live in one request record, so they carry over from one dialog to the next
// on the same object.
#include "FileDialogBuffer.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QWidget;

// What a dialog is asked to show, taken from the record.
struct FileDialogRequest {
    bool save = false;
    bool multiselect = false;
    std::uint32_t flags = 0;
    QWidget* owner = nullptr;
    std::optional<std::string> title;
    std::optional<std::string> initialDirectory;
    std::optional<std::string> defaultExtension;
    std::vector<FilterEntry> filters;
    std::size_t filterIndex = 0; // 0-based entry to start with
};

// What the user did: the chosen full paths (none on cancel) and the 0-based
// filter entry selected when the dialog closed.
struct FileDialogAnswer {
    bool accepted = false;
    std::vector<std::string> paths;
    std::size_t filterIndex = 0;
};

// Shows a dialog and waits for the user. Tests replace it.
using FileDialogPresenter = std::function<FileDialogAnswer(const FileDialogRequest&)>;

// The presenter on QFileDialog (Qt's own widgets, so that it looks and
// behaves the same everywhere).
FileDialogAnswer ShowQtFileDialog(const FileDialogRequest& request);

class FileCommonDialog {
public:
    FileCommonDialog();

    void SetDefaultExtension(const std::string& Extention);
    std::string DefaultExtension() const;
    // Dialogs opened from now on are modal to Objet.
    void SetObjectOwner(QWidget* Objet);
    void SetFilter(const std::string& CustomFilter);
    void SetWindowTitle(const std::string& Title);
    std::string WindowTitle() const;
    void SetInitialDirectory(const std::string& InitDir);
    std::string InitialDirectory() const;

    // Both return the whole 260-character buffer, NUL and blanks included.
    std::string GetFileOpenName(bool Multiselect);
    std::string GetFileSaveName();

    std::int16_t Count() const;
    std::string GetMultiFilename(std::int16_t FileNumber) const;

    // The record as the last dialog left it.
    const OpenFileNameRecord& Record() const { return record_; }

    // Replaces the dialog; an empty presenter restores ShowQtFileDialog.
    void SetPresenter(FileDialogPresenter presenter);

private:
    std::string Run(bool save, bool multiselect, std::uint32_t flags);

    OpenFileNameRecord record_;
    FileDialogPresenter presenter_;
};
