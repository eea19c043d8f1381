// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The message box and the yield on Qt, for the program with a window.
#include <string>

// Shows a QMessageBox modal to the active window: the icon and buttons from
// the style bits, the title as given (the program's name when empty), and
// answers the button chosen. Closing the box without a choice answers
// Cancel where there is one, No to a question, else OK.
int QtMsgBox(const std::string& prompt, unsigned style, const std::string& title);

// Makes MsgBox show QtMsgBox.
void InstallQtMsgBox();

// Makes DoEvents process the waiting Qt events.
void InstallQtDoEvents();
