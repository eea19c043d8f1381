// SPDX-License-Identifier: GPL-2.0-or-later
#include "FileCommonDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QStringList>

FileDialogAnswer ShowQtFileDialog(const FileDialogRequest& request)
{
    QFileDialog dialog(request.owner);
    if (request.title)
        dialog.setWindowTitle(QString::fromStdString(*request.title));
    if (request.initialDirectory)
        dialog.setDirectory(QString::fromStdString(*request.initialDirectory));

    QStringList names;
    for (const auto& name : QtNameFilters(request.filters))
        names << QString::fromStdString(name);
    if (!names.isEmpty()) {
        dialog.setNameFilters(names);
        dialog.selectNameFilter(names.value(static_cast<qsizetype>(request.filterIndex), names.front()));
    }
    if (request.defaultExtension)
        dialog.setDefaultSuffix(QString::fromStdString(DefaultSuffix(*request.defaultExtension)));

    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // The Open dialog does not insist that a single name exists; only a
    // multiple selection has to be made of existing files.
    dialog.setFileMode(request.multiselect ? QFileDialog::ExistingFiles : QFileDialog::AnyFile);
    // The build asks before it replaces a movie; a second question here
    // would only repeat it.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);

    FileDialogAnswer answer;
    answer.filterIndex = request.filterIndex;
    if (dialog.exec() != QDialog::Accepted)
        return answer;
    answer.accepted = true;
    for (const auto& path : dialog.selectedFiles())
        answer.paths.push_back(QDir::toNativeSeparators(path).toStdString());
    const auto chosen = names.indexOf(dialog.selectedNameFilter());
    if (chosen >= 0)
        answer.filterIndex = static_cast<std::size_t>(chosen);
    return answer;
}

FileCommonDialog::FileCommonDialog() : presenter_(ShowQtFileDialog) {}

void FileCommonDialog::SetDefaultExtension(const std::string& Extention)
{
    record_.lpstrDefExt = Extention;
}

std::string FileCommonDialog::DefaultExtension() const
{
    return record_.lpstrDefExt.value_or(std::string());
}

void FileCommonDialog::SetObjectOwner(QWidget* Objet)
{
    record_.hwndOwner = Objet;
}

void FileCommonDialog::SetFilter(const std::string& CustomFilter)
{
    record_.lpstrFilter = ConvertFilter(CustomFilter);
}

void FileCommonDialog::SetWindowTitle(const std::string& Title)
{
    record_.lpstrTitle = Title;
}

std::string FileCommonDialog::WindowTitle() const
{
    return record_.lpstrTitle.value_or(std::string());
}

void FileCommonDialog::SetInitialDirectory(const std::string& InitDir)
{
    record_.lpstrInitialDir = InitDir;
}

std::string FileCommonDialog::InitialDirectory() const
{
    return record_.lpstrInitialDir.value_or(std::string());
}

std::string FileCommonDialog::GetFileOpenName(bool Multiselect)
{
    const std::uint32_t flags = Multiselect ? OFN_EXPLORER | OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY
                                            : OFN_EXPLORER | OFN_HIDEREADONLY;
    return Run(false, Multiselect, flags);
}

std::string FileCommonDialog::GetFileSaveName()
{
    return Run(true, false, OFN_EXPLORER | OFN_HIDEREADONLY);
}

std::int16_t FileCommonDialog::Count() const
{
    return CountFiles(record_.lpstrFile);
}

std::string FileCommonDialog::GetMultiFilename(std::int16_t FileNumber) const
{
    return MultiFilename(record_.lpstrFile, FileNumber);
}

void FileCommonDialog::SetPresenter(FileDialogPresenter presenter)
{
    presenter_ = presenter ? std::move(presenter) : FileDialogPresenter(ShowQtFileDialog);
}

std::string FileCommonDialog::Run(bool save, bool multiselect, std::uint32_t flags)
{
    // NOTE: there is no module instance handle on this platform; the field
    // stays for the record's sake.
    record_.hInstance = nullptr;
    record_.lpstrFile = PreparedFileBuffer();
    record_.nMaxFile = static_cast<std::uint32_t>(kFileBufferSize);
    record_.Flags = flags;
    record_.lStructSize = kOpenFileNameSize;

    FileDialogRequest request;
    request.save = save;
    request.multiselect = multiselect;
    request.flags = record_.Flags;
    request.owner = static_cast<QWidget*>(record_.hwndOwner);
    request.title = record_.lpstrTitle;
    request.initialDirectory = record_.lpstrInitialDir;
    request.defaultExtension = record_.lpstrDefExt;
    if (record_.lpstrFilter)
        request.filters = SplitFilter(*record_.lpstrFilter);
    if (record_.nFilterIndex >= 1 && record_.nFilterIndex <= request.filters.size())
        request.filterIndex = record_.nFilterIndex - 1;

    const FileDialogAnswer answer = presenter_(request);
    if (!answer.accepted || !WriteFileBuffer(record_.lpstrFile, answer.paths, multiselect))
        return record_.lpstrFile;

    if (!request.filters.empty() && answer.filterIndex < request.filters.size())
        record_.nFilterIndex = static_cast<std::uint32_t>(answer.filterIndex + 1);

    const std::string& first = answer.paths.front();
    const auto slash = first.rfind('/');
    if (answer.paths.size() > 1) {
        record_.nFileOffset = static_cast<std::uint16_t>(record_.lpstrFile.find('\0') + 1);
        record_.nFileExtension = 0;
    } else {
        const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
        const auto dot = first.rfind('.');
        record_.nFileOffset = static_cast<std::uint16_t>(nameStart);
        record_.nFileExtension =
            static_cast<std::uint16_t>(dot == std::string::npos || dot < nameStart ? 0 : dot + 1);
    }
    return record_.lpstrFile;
}
