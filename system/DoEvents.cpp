// SPDX-License-Identifier: GPL-2.0-or-later
#include "DoEvents.h"

#include <utility>

namespace {
std::function<void()>& Handler()
{
    static std::function<void()> handler = [] {};
    return handler;
}
} // namespace

void DoEvents()
{
    Handler()();
}

std::function<void()> SetDoEventsHandler(std::function<void()> handler)
{
    if (!handler)
        handler = [] {};
    return std::exchange(Handler(), std::move(handler));
}
