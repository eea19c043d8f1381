#include "DoEvents.h"
#include "MsgBox.h"
#include "QtMsgBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

struct SeenBox {
    bool shown = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

// Answers the next message box by pressing Press (or closing it from its
// title bar when Press is NoButton) and reports what it showed.
SeenBox Answer(QMessageBox::StandardButton press, const std::function<void()>& show)
{
    SeenBox seen;
    std::function<void()> poll;
    poll = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(10, poll);
            return;
        }
        seen.shown = true;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        if (press == QMessageBox::NoButton)
            box->close();
        else
            box->button(press)->click();
    };
    QTimer::singleShot(0, poll);
    show();
    return seen;
}

} // namespace

TEST(QtMsgBox, StylesShowTheirIconAndButtonsAndAnswerTheButtonPressed)
{
    const struct {
        unsigned style;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton press; // NoButton: closed from the title bar
        int answer;
    } cases[] = {
        {vbOKOnly, QMessageBox::NoIcon, QMessageBox::Ok, QMessageBox::Ok, vbOK},
        {vbOKOnly | vbCritical, QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok, vbOK},
        {vbOKOnly | vbExclamation, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok, vbOK},
        {vbOKOnly | vbInformation, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok, vbOK},
        {vbYesNo | vbQuestion, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, vbYes},
        {vbYesNo | vbQuestion, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No, vbNo},
        {vbYesNo | vbExclamation, QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton,
         vbNo},
        {vbOKCancel | vbInformation, QMessageBox::Information, QMessageBox::Ok | QMessageBox::Cancel,
         QMessageBox::Cancel, vbCancel},
        {vbOKCancel, QMessageBox::NoIcon, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::NoButton, vbCancel},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "style " << c.style << " answers " << c.answer);
        int answer = 0;
        const SeenBox seen = Answer(c.press, [&] { answer = QtMsgBox("Delete it?", c.style, "Reelcast"); });
        ASSERT_TRUE(seen.shown);
        EXPECT_EQ(seen.icon, c.icon);
        EXPECT_EQ(seen.buttons, c.buttons);
        EXPECT_EQ(seen.title, "Reelcast");
        EXPECT_EQ(seen.text, "Delete it?");
        EXPECT_EQ(answer, c.answer);
    }
}

TEST(QtMsgBox, TextIsShownAsWrittenAndAnEmptyTitleAsTheProgramName)
{
    const SeenBox seen = Answer(QMessageBox::Ok, [] { QtMsgBox("<b>D:\\frames</b> & more", vbOKOnly, ""); });
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.text, "<b>D:\\frames</b> & more");
    EXPECT_EQ(seen.title, "Reelcast");
}
TEST(QtMsgBox, InstalledHandlerAnswersMsgBox)
{
    InstallQtMsgBox();
    int answer = 0;
    const SeenBox seen =
        Answer(QMessageBox::Yes, [&] { answer = MsgBox("Open the movie?", vbYesNo | vbQuestion, "Reelcast"); });
    SetMsgBoxHandler({});
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.text, "Open the movie?");
    EXPECT_EQ(answer, vbYes);
}

TEST(QtDoEvents, InstalledYieldRunsWaitingEvents)
{
    InstallQtDoEvents();
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    DoEvents();
    SetDoEventsHandler({});
    EXPECT_TRUE(ran);

    // The default yield pumps nothing.
    bool ranWithout = false;
    QTimer::singleShot(0, [&] { ranWithout = true; });
    DoEvents();
    EXPECT_FALSE(ranWithout);
    QApplication::processEvents();
    EXPECT_TRUE(ranWithout);
}
