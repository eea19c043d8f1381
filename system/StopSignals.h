// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Requests from outside the program to stop: Ctrl-C, a closed terminal
// (SIGHUP), a logout or `kill` (SIGTERM), SIGQUIT. A run that is asked to stop
// this way ends as a cancelled one, with its movie closed and indexed, instead
// of dying with the movie half written.

// Writes beyond the process's file-size limit fail with EFBIG, to be reported
// as a full disk, rather than killing the process with SIGXFSZ.
void IgnoreFileSizeSignal();

// Notes the stop signals from now on, until the object goes away, when the
// handlers before it come back. One at a time.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Whether a stop signal arrived since the last Clear().
    static bool Requested();
    static void Clear();
    // Readable once a stop signal has arrived (a self-pipe), for an event
    // loop to watch; Clear() empties it.
    static int Descriptor();
};
