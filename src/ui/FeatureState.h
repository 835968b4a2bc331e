// SPDX-License-Identifier: MIT
#pragma once

#include "outgoing/InputHistory.h"
#include "outgoing/NameCompletion.h"
#include "log/ChatLog.h"
#include "session/Reconnect.h"

#include <memory>

class FindBar;
class PaneMarks;
class DesktopNotifier;

// What the main window keeps for the features it has beyond the design:
// the input line's history and name completion, the find bar, and the marks
// on the panes, the chat log, the alerts and reconnecting. Each switch is read from the settings when the window is made.
struct FeatureState {
    bool historyOn = true;
    bool completionOn = true;
    InputHistory history;
    NameCompleter completer;
    FindBar *findBar = nullptr;
    PaneMarks *chatMarks = nullptr;
    PaneMarks *whisperMarks = nullptr;
    bool mentionsOn = true;
    bool alertsOn = true;
    int alertSeconds = 5;
    DesktopNotifier *notifier = nullptr; // made at the first alert: it opens the session bus
    ChatLog log;
    bool autoReconnect = false;
    Reconnector reconnect;
};
