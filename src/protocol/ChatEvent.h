// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QString>

#include <optional>

// One received event line, cut into what the window shows. The link hands
// them to the window in the order they arrived, one batch per slice. The
// event-code table that makes them is cutEvent's (EventCutter.cpp).
struct ChatEvent {
    enum class Kind {
        Talk,        // "1005": name said text
        Whisper,     // "1004": name whispered text
        Emote,       // "1023": name did text
        Info,        // "1018": text from the server
        Channel,     // "1007": the user is now in channel name
        UserPresent, // "1001": name is the list entry of someone already in the channel
        UserJoined,  // "1002": name is the list entry of someone who came in
        UserLeft,    // "1003": name is the key of someone who left
        Unparseable, // a talk, whisper or emote line without its fields: text is the raw line
    };

    Kind kind = Kind::Info;
    QString name;
    QString text;
    Kind unparsedAs = Kind::Talk; // Unparseable only: the kind of message the line claimed to be

    bool operator==(const ChatEvent &) const = default;
};

using ChatEvents = QList<ChatEvent>;

// Runs a received line (event code first, ending in one carriage return)
// through the event-code table. Nothing for a code that is unknown, one that
// needs nothing done ("1019", "2000", "2010"), and roster or channel lines
// whose fields cannot be cut.
std::optional<ChatEvent> cutEvent(const QString &line);
