// SPDX-License-Identifier: MIT
// The session's earlier lines from the chat log, shown when a login
// completes, and the lines of a paste sent one by one.
#include "session/ChatSession.h"

#include "session/ChatLink.h"

namespace {
constexpr char16_t kReplayStart[] = u"\u2014 earlier, from the chat log \u2014";
constexpr char16_t kReplayEnd[] = u"\u2014 now \u2014";
} // namespace

void ChatSession::setReplay(const QString &logFolder, int lines)
{
    m_replayFolder = logFolder;
    m_replayCount = std::max(0, lines);
}

void ChatSession::startReplay()
{
    if (m_replayCount <= 0 || m_replayFolder.isEmpty() || m_replayedServers.contains(m_server))
        return;
    m_replayedServers.insert(m_server);
    if (!m_replay) {
        m_replay = new LogReplay(this);
        connect(m_replay, &LogReplay::finished, this, &ChatSession::onReplayRead);
    }
    // Read before this session logs a line for the server: the log holds
    // its lines back until the read is done.
    for (ShownLineFilter *filter : m_filters)
        filter->holdWrites(true);
    m_replayTail.reset();
    m_replayDue = false;
    m_replayWaiting = true;
    m_replay->start(m_replayFolder, m_server, m_replayCount);
}

void ChatSession::replayOnLogin()
{
    if (!m_replayWaiting)
        return;
    if (!m_replayTail) {
        m_replayDue = true; // shown as soon as it is read
        return;
    }
    m_replayWaiting = false;
    showReplay(*std::exchange(m_replayTail, std::nullopt));
}

void ChatSession::onReplayRead(const LogTail &tail)
{
    for (ShownLineFilter *filter : m_filters)
        filter->holdWrites(false);
    if (!m_replayWaiting)
        return;
    if (!m_replayDue) {
        m_replayTail = tail;
        return;
    }
    m_replayWaiting = false;
    m_replayDue = false;
    showReplay(tail);
}

void ChatSession::showReplay(const LogTail &tail)
{
    ShownLines &into = m_emitting ? m_late : m_lines;
    const auto pane = ShownLine::Pane::Chat;
    const auto kind = ShownLine::Kind::Replayed;
    bool started = false;
    for (const ReplayLine &line : tail.lines) {
        if (!std::exchange(started, true))
            into.add(pane, kind, kReplayStart);
        into.write(pane, kind, [&line](QString &out) {
            out += QLatin1Char('[');
            out += line.when.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
            out += QLatin1String("] ");
            out += line.text;
        });
    }
    if (!tail.why.isEmpty())
        into.add(pane, kind, tail.why);
    if (started)
        into.add(pane, kind, kReplayEnd);
    if (!m_inSlice && !m_emitting && !into.isEmpty())
        emitLines();
}

bool ChatSession::sendPasted(const QString &line)
{
    if (!m_link->canSend())
        return false;
    return sendTyped(line) == TypedResult::Sent;
}
