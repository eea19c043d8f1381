// SPDX-License-Identifier: GPL-2.0-or-later
#include "QtMsgBox.h"

#include "DoEvents.h"
#include "MsgBox.h"

#include <QApplication>
#include <QMessageBox>

namespace {

QMessageBox::Icon IconFor(unsigned style)
{
    switch (style & kMsgBoxIconMask) {
    case vbCritical:
        return QMessageBox::Critical;
    case vbQuestion:
        return QMessageBox::Question;
    case vbExclamation:
        return QMessageBox::Warning;
    case vbInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

int QtMsgBox(const std::string& prompt, unsigned style, const std::string& title)
{
    QMessageBox box(IconFor(style), title.empty() ? QStringLiteral("Reelcast") : QString::fromStdString(title),
                    QString::fromStdString(prompt), QMessageBox::NoButton, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);

    // The first button is the default, as the style bits promise when they
    // name no other.
    switch (style & kMsgBoxButtonsMask) {
    case vbOKCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case vbYesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    }

    box.exec();
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok:
        return vbOK;
    case QMessageBox::Cancel:
        return vbCancel;
    case QMessageBox::Yes:
        return vbYes;
    case QMessageBox::No:
        return vbNo;
    default:
        return DefaultMsgBoxAnswer(style);
    }
}

void InstallQtMsgBox()
{
    SetMsgBoxHandler(QtMsgBox);
}

void InstallQtDoEvents()
{
    SetDoEventsHandler([] { QCoreApplication::processEvents(); });
}
