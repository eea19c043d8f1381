#pragma once
// The one message-box function of the program. Every report to the user goes
// through it, so that the window can show a real dialog, while tests and the
// batch front end answer it without a person.
#include <functional>
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

// Shows the message and returns the button the user chose.
int MsgBox(const std::string& prompt, unsigned style, const std::string& title);

using MsgBoxHandler = std::function<int(const std::string& prompt, unsigned style, const std::string& title)>;

// Replaces the handler; returns the previous one. An empty handler restores
// the default, which writes the message to standard error and answers with
// the safe button: OK, or No to a question.
MsgBoxHandler SetMsgBoxHandler(MsgBoxHandler handler);

// The answer the default handler gives, for a style.
int DefaultMsgBoxAnswer(unsigned style);
