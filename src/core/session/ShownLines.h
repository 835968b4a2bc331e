// SPDX-License-Identifier: MIT
#pragma once

#include "protocol/ChatEvent.h"
#include "text/TextMarks.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

// One line ready to show. Its body lives in the batch's text: the name and
// message as received, so that no display rule can change what a filter sees.
struct ShownLine {
    enum class Pane : quint8 { Chat, Whisper };
    enum class Kind : quint8 {
        Talk,     // someone's talk line, the user's own echo included
        Whisper,  // a whisper received, or the echo of one sent
        Emote,
        Info,     // server information: shown without a timestamp
        Channel,  // "Joining Channel ..."
        Unparsed, // a message line without its fields: shown whole by the name rules
        Notice,   // the program's own word: a link that ended, a line not sent
        Replayed, // a line from the chat log shown on connecting, or its frame: drawn muted, never logged again
    };

    Pane pane = Pane::Chat;
    Kind kind = Kind::Notice;
    bool mentionsUser = false;
    qsizetype start = 0; // the body in ShownLines::text()
    qsizetype length = 0;
    const ChatEvent *event = nullptr; // the received event, while the batch is handed on; none for the program's own lines
};

// The lines of one received slice (or one line the program shows by itself),
// handed to the filters and the window in one go. The text and the line
// records are reused from slice to slice, so a flood costs no allocation per line.
class ShownLines
{
public:
    const std::vector<ShownLine> &lines() const { return m_lines; }
    QStringView body(const ShownLine &line) const { return QStringView(m_text).sliced(line.start, line.length); }
    // The web addresses in a line's body, found when asked.
    QList<TextRange> links(const ShownLine &line) const { return findLinks(body(line)); }
    bool isEmpty() const { return m_lines.empty(); }

    void add(ShownLine::Pane pane, ShownLine::Kind kind, QStringView body, const ChatEvent *event = nullptr,
             bool mentionsUser = false)
    {
        write(pane, kind, [body](QString &out) { out.append(body); }, event, mentionsUser);
    }
    // writeBody(QString &out) appends the body in place.
    template <typename WriteBody>
    void write(ShownLine::Pane pane, ShownLine::Kind kind, WriteBody &&writeBody, const ChatEvent *event = nullptr,
               bool mentionsUser = false)
    {
        const qsizetype start = m_text.size();
        writeBody(m_text);
        m_lines.push_back({pane, kind, mentionsUser, start, m_text.size() - start, event});
    }
    // Forgets the lines but keeps the room they took.
    void clear()
    {
        m_text.resize(0);
        m_lines.clear();
    }

private:
    QString m_text;
    std::vector<ShownLine> m_lines;
};

// Something that every shown line passes before the window shows it: the
// chat log, the mention marks, the alerts. A session calls linesReady for
// each batch, then lets the window show it, then calls batchShown.
class ShownLineFilter
{
public:
    virtual ~ShownLineFilter() = default;
    virtual void linesReady(const ShownLines &lines) = 0;
    virtual void batchShown() {}
    // A new connection to server starts.
    virtual void sessionStarted(const QString &server) { Q_UNUSED(server); }
    // While the session reads the chat log for its earlier lines, a filter
    // that writes the log keeps its lines back, so none is read as earlier.
    virtual void holdWrites(bool hold) { Q_UNUSED(hold); }
};

// What a desktop alert says about a line: a whisper received, or a line that mentions the user.
struct LineAlert {
    enum class Kind { Whisper, Mention };
    Kind kind = Kind::Whisper;
    QString summary;
    QString body;
};
// The alert a received line calls for, if any.
std::optional<LineAlert> alertFor(const ShownLine &line);

// True when a received message from sender mentions the user: text holds the
// user's name as a word and the sender is someone else.
bool isMentionOf(const QString &userName, QStringView sender, QStringView text);
