// SPDX-License-Identifier: GPL-2.0-or-later
#include "MsgBox.h"

#include <cstdio>
#include <utility>

namespace {

int StandardErrorMsgBox(const std::string& prompt, unsigned style, const std::string& title)
{
    std::fprintf(stderr, "%s: %s\n", title.c_str(), prompt.c_str());
    return DefaultMsgBoxAnswer(style);
}

MsgBoxHandler& Handler()
{
    static MsgBoxHandler handler = StandardErrorMsgBox;
    return handler;
}

} // namespace

int DefaultMsgBoxAnswer(unsigned style)
{
    switch (style & kMsgBoxButtonsMask) {
    case vbYesNo:
        return vbNo;
    case vbOKCancel:
        return vbCancel;
    default:
        return vbOK;
    }
}

int MsgBox(const std::string& prompt, unsigned style, const std::string& title)
{
    return Handler()(prompt, style, title);
}

MsgBoxHandler SetMsgBoxHandler(MsgBoxHandler handler)
{
    if (!handler)
        handler = StandardErrorMsgBox;
    return std::exchange(Handler(), std::move(handler));
}
