// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The window's message box. The window shows its own questions and the run's
// reports through it; tests and programs without a display answer it
// without a person.
#include "Notice.h"

#include <functional>
#include <string>

// Shows the message and returns the button the user chose.
int MsgBox(const std::string& prompt, unsigned style, const std::string& title);

using MsgBoxHandler = std::function<int(const std::string& prompt, unsigned style, const std::string& title)>;

// Replaces the handler; returns the previous one. An empty handler restores
// the default, which writes the message to standard error and answers with
// the safe button: OK, or No to a question.
MsgBoxHandler SetMsgBoxHandler(MsgBoxHandler handler);

// The answer the default handler gives, for a style.
int DefaultMsgBoxAnswer(unsigned style);
