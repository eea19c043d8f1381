// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// A report for the user, as the code that found the trouble words it: the
// text, and the icon and buttons a message box would show it with. Code that
// has something to say returns one; the front end decides how it is shown.
#include <string>

// Style bits, combined: one button set, one icon.
enum MsgBoxStyle : unsigned {
    vbOKOnly = 0,
    vbOKCancel = 1,
    vbYesNo = 4,
    vbCritical = 16,
    vbQuestion = 32,
    vbExclamation = 48,
    vbInformation = 64,
};
constexpr unsigned kMsgBoxButtonsMask = 0x0F;
constexpr unsigned kMsgBoxIconMask = 0x70;

enum MsgBoxResult : int {
    vbOK = 1,
    vbCancel = 2,
    vbYes = 6,
    vbNo = 7,
};

struct Notice {
    std::string text;
    unsigned style = vbOKOnly;
    std::string title;
};
