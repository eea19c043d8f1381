#include "DoEvents.h"
#include "MsgBox.h"
#include "QtMsgBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

namespace {

using B = QMessageBox;
using Seen = std::tuple<QString, QString, Qt::TextFormat, B::Icon, B::StandardButtons, B::StandardButton>;

// Notes the title, text, text format, icon, buttons and default button of
// the next message box, and presses `press` on it (NoButton: closes it from
// its title bar).
void PressOnNextBox(B::StandardButton press, Seen& seen)
{
    auto* box = qobject_cast<B*>(QApplication::activeModalWidget());
    if (!box)
        return QTimer::singleShot(10, [press, &seen] { PressOnNextBox(press, seen); });
    seen = {box->windowTitle(), box->text(), box->textFormat(), box->icon(), box->standardButtons(),
            box->standardButton(box->defaultButton())};
    press == B::NoButton ? void(box->close()) : box->button(press)->click();
}

} // namespace

TEST(QtMsgBox, StylesShowTheirIconAndButtonsAndAnswerTheButtonPressed)
{
    const std::tuple<unsigned, const char*, B::StandardButton, int, B::Icon, B::StandardButtons> cases[] = {
        {vbOKOnly, "", B::Ok, vbOK, B::NoIcon, B::Ok}, // an empty title shows the program's name
        {vbCritical, "Error", B::NoButton, vbOK, B::Critical, B::Ok},
        {vbExclamation, "Reelcast", B::Ok, vbOK, B::Warning, B::Ok},
        {vbInformation, "Reelcast", B::Ok, vbOK, B::Information, B::Ok},
        {vbYesNo | vbQuestion, "Open Avi File?", B::Yes, vbYes, B::Question, B::Yes | B::No},
        {vbYesNo | vbQuestion, "Reelcast", B::No, vbNo, B::Question, B::Yes | B::No},
        {vbYesNo | vbExclamation, "Reelcast", B::NoButton, vbNo, B::Warning, B::Yes | B::No},
        {vbOKCancel | vbInformation, "Reelcast", B::Cancel, vbCancel, B::Information, B::Ok | B::Cancel},
        {vbOKCancel, "Reelcast", B::NoButton, vbCancel, B::NoIcon, B::Ok | B::Cancel}};
    const QString text = "<b>D:\\frames</b> & more"; // a path, never markup
    for (const auto& [style, title, press, answer, icon, buttons] : cases) {
        Seen seen;
        QTimer::singleShot(0, [press = press, &seen] { PressOnNextBox(press, seen); });
        EXPECT_EQ(QtMsgBox(text.toStdString(), style, title), answer) << style;
        EXPECT_EQ(seen, Seen(*title ? title : "Reelcast", text, Qt::PlainText, icon, buttons,
                             buttons.testFlag(B::Yes) ? B::Yes : B::Ok))
            << style << ": the first button is the default";
    }
}

TEST(QtMsgBox, InstalledHandlersShowTheBoxAndPumpTheEvents)
{
    InstallQtMsgBox();
    InstallQtDoEvents();
    Seen seen;
    bool ran = false;
    QTimer::singleShot(0, [&seen] { PressOnNextBox(B::Yes, seen); });
    EXPECT_EQ(MsgBox("Open the movie?", vbYesNo | vbQuestion, "Reelcast"), vbYes);
    QTimer::singleShot(0, [&] { ran = true; });
    DoEvents();
    EXPECT_TRUE(ran && std::get<1>(seen) == "Open the movie?");
    SetMsgBoxHandler({});
    SetDoEventsHandler({});
}
