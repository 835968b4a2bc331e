// SPDX-License-Identifier: MIT
#pragma once

#include "reception/LineFramer.h"

#include <QString>

#include <deque>

class RosterIndex;

// What the receive path keeps between arrivals: the unfinished line and the
// lines waiting for the next slice. Owned by the main window.
struct ReceiveState {
    LineFramer framer;
    std::deque<QString> backlog;   // decoded lines, each with its final carriage return
    bool sliceQueued = false;      // a continuation of ParseIncoming waits in the event loop
    RosterIndex *roster = nullptr; // a child of Roomlist, which owns it
};
