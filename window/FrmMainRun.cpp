// SPDX-License-Identifier: GPL-2.0-or-later
// The window's side of the build run: the request read from its controls,
// its questions asked in message boxes and the compression dialog, and its
// reports shown in the status line, the bar and the picture control.
#include "FrmMain.h"

#include "BitmapFile.h"
#include "DoEvents.h"
#include "FileError.h"
#include "MsgBox.h"
#include "QtText.h"
#include "Shell.h"
#include "mdFile.h"

#include <QImageReader>

#include <algorithm>
#include <cmath>

namespace {

const QString kCancel = QStringLiteral("Cancel");

} // namespace

void FrmMain::CmdCreate_Click()
{
    // While a movie is written the button reads "Cancel": a press asks the
    // run to stop after the frame in hand.
    if (CmdCreate->text() == kCancel) {
        CancelRequested = true;
        return;
    }
    CmdCreate->setText(kCancel);
    BuildRequest request;
    request.directory = TxtDir->text().toStdString();
    request.output = TxtOut->text().toStdString();
    request.widthText = TxtW->text().toStdString();
    request.heightText = TxtH->text().toStdString();
    request.fpsText = txtFps->text().toStdString();
    // Grayed counts as forced too.
    request.force = ChkF->checkState() != Qt::Unchecked;
    BuildMovie(request, *this, *this, *this, SharedFrameImage());
    CmdCreate->setText(QString::fromUtf8(kCreateCaption));
}

std::string FrmMain::FormatPercent(double percent) const
{
    return ::FormatPercent(percent).toStdString();
}

bool FrmMain::ConfirmOverwrite(const std::string& path)
{
    return MsgBox(path + " already exists.\r\nOverwrite it?", vbQuestion | vbYesNo, "Overwrite?") == vbYes;
}

void FrmMain::OfferToWatch(const std::string& path)
{
    if (MsgBox("Movie's Creation Completed!\r\nDo you want to watch it?", vbQuestion | vbYesNo, "Open Avi File?") ==
        vbYes)
        ShellExecuteA(static_cast<QWidget*>(this), "OPEN", path.c_str(), nullptr, appDirectory_.c_str(),
                      SW_SHOWNORMAL);
}

void FrmMain::ShowMessage(const Notice& notice)
{
    MsgBox(notice.text, notice.style, notice.title);
}

bool FrmMain::ChooseCompressor(PAVISTREAM stream, AVICOMPRESSOPTIONS& options)
{
    AVICOMPRESSOPTIONS* list[1] = {&options};
    return AVISaveOptions(static_cast<QWidget*>(this), ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, 1, &stream,
                          list) == 1;
}

bool FrmMain::Yield()
{
    DoEvents();
    return closeRequested_;
}

void FrmMain::SetStatus(const std::string& caption)
{
    SetStatus(FromStd(caption));
}

std::string FrmMain::ShowFrame(const std::string& bitmap)
{
    return loadPic(bitmap, false, false, true);
}

std::string FrmMain::loadPic(const std::string& sFile, bool showIm, bool clearImFirst, bool SaveBMP)
{
    static_cast<void>(showIm);
    static_cast<void>(clearImFirst);
    // The run's own bitmaps go straight into the picture's rows; anything
    // else is left to Qt's decoders.
    QImage& next = imL->Next();
    const bool direct = ReadBMPRows(sFile, [&](std::int32_t width, std::int32_t height, std::size_t stride) {
        if (next.width() != width || next.height() != height || next.format() != QImage::Format_BGR888)
            next = QImage(width, height, QImage::Format_BGR888);
        return !next.isNull() && static_cast<std::size_t>(next.bytesPerLine()) == stride ? next.bits() : nullptr;
    });
    if (direct) {
        imL->ShowNext();
    } else {
        QImageReader reader(FromStd(sFile));
        QImage picture = reader.read();
        if (picture.isNull())
            throw FileError(sFile, "Cannot load the picture (" + reader.errorString().toStdString() + ")");
        imL->SetPicture(std::move(picture));
    }
    if (SaveBMP && GetExtension(sFile) == "bmp")
        return sFile;
    return {};
}


void FrmMain::ShowProgress(float percent)
{
    const float width = static_cast<float>(PB->width()) / 100.0f * percent;
    const long pixels = std::isfinite(width) ? std::lround(width) : 0;
    Barra->resize(static_cast<int>(std::max(0L, std::min(pixels, 1L << 20))), PB->height());
    if (percent == 0.0f)
        Barra->hide();
    else if (Barra->isHidden())
        Barra->show();
}
