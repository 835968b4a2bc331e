// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <optional>

// What a line typed into the input line means when it is sent. The local
// commands are recognised by their first characters, case-sensitively, in a
// fixed order: "/join" must be tried before "/j", and every command before "/".
struct TypedLine {
    enum class Action {
        Clear,   // "/clear": empty both panes and the input line; nothing is sent
        Reverse, // "/reverse": send the rest of the line reversed, echoed as the user's own line
        Quit,    // "/quit": end the program; nothing is sent
        Join,    // "/join" or "/j": hand a "/channel" line to SendCommand
        Command, // any other "/" line: sent as typed, no echo
        Chat,    // anything else, the empty line included: sent and echoed
    };

    Action action = Action::Chat;
    // Reverse: the reversed text. Join: the "/channel" line. Command, Chat: the line as typed.
    QString text;

    bool isEchoed() const { return action == Action::Reverse || action == Action::Chat; }
    bool operator==(const TypedLine &) const = default;
};

TypedLine interpretTypedLine(const QString &typed);

// The text in reverse order. A character outside the Basic Multilingual Plane
// (a surrogate pair) stays whole.
QString reversedText(const QString &text);

// The whisper-pane echo of a whisper typed as "/whisper name text" (or with
// "/w ", "/msg ", "/m "): "<TO: name> text". Nothing for any other line, nor
// when the name or the space after it is missing.
std::optional<QString> typedWhisperEcho(const QString &typed);
