// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringView>

// What the window shows of text from the network. Control characters would
// hide the rest of a line from screen readers (a NUL ends it for most of
// them), and bidirectional overrides, embeddings and isolates in a name would
// reverse or hide the text beside it; both are shown as U+FFFD. Very long
// lines and names are cut where they are shown, with a marker that says how
// much was left out; whoever keeps the text (a log) still gets all of it.

// Longest pane line, in UTF-16 code units, before the marker.
inline constexpr qsizetype kDisplayLineCut = 4096;
// Longest name, channel or user-list entry as shown, before the marker.
inline constexpr qsizetype kDisplayNameCut = 256;

// Every C0 and C1 control character, DEL included (line breaks too: they
// never show as line breaks inside one line).
constexpr bool isHiddenControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// U+202A-202E and U+2066-2069: they change the direction of the text after them.
constexpr bool isBidiControl(char16_t c)
{
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// Pane lines show every control character as U+FFFD (DisplayPane.h).
// Appends text with control and bidirectional control characters, and the
// line and paragraph separators, made U+FFFD: the name rules.
void appendWithNameRules(QString &out, QStringView text);
// Appends a name by the name rules, cut at kDisplayNameCut.
void appendDisplayName(QString &out, QStringView name);

// " … [N more characters]": what stands for the cut part of a line.
QString cutMarker(qsizetype omittedCharacters);
// Cuts out[from..] to at most limit code units (never inside a surrogate
// pair) and appends the marker counting the characters left out; nothing
// changes when that part is no longer than limit.
void cutForDisplay(QString &out, qsizetype from, qsizetype limit);

// The same as a string: a channel or a user-list entry as shown.
QString displayName(QStringView name);

// The bodies of display lines: "<name> text" (talk, and the user's own
// lines), "<FROM: name> text" (whispers) and "<name text> " (emotes). Names
// are shown by the name rules above. The writers append the body to
// out, so that a pane line is built once, in place.
void writeTalkBody(QString &out, QStringView name, QStringView text);
void writeWhisperBody(QString &out, QStringView name, QStringView text);
void writeEmoteBody(QString &out, QStringView name, QStringView text);
QString talkBody(const QString &name, const QString &text);
QString whisperBody(const QString &name, const QString &text);
QString emoteBody(const QString &name, const QString &text);
// "Joining Channel " + the channel by the name rules + ".".
QString channelAnnouncement(const QString &channel);
// The channel's name by the name rules, then "  (" + entries + ")".
QString channelCaption(const QString &channel, int entries);
