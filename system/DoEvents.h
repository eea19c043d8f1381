// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Yield to waiting window events. Long work calls this between steps so that
// the window stays responsive; the window installs the toolkit's event pump.
#include <functional>

void DoEvents();

// Replaces the event pump; returns the previous one. An empty function
// restores the default, which does nothing (no window, nothing to pump).
std::function<void()> SetDoEventsHandler(std::function<void()> handler);
