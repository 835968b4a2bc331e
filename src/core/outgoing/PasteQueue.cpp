// SPDX-License-Identifier: MIT
#include "outgoing/PasteQueue.h"

#include "outgoing/TypedLine.h"

std::deque<QString> splitPastedText(QStringView text)
{
    std::deque<QString> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'\n' && c != u'\r')
            continue;
        lines.emplace_back(text.sliced(start, i - start).toString());
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.emplace_back(text.sliced(start).toString());
    return lines;
}

bool isLocalCommandLine(const QString &line)
{
    switch (interpretTypedLine(line).action) {
    case TypedLine::Action::Clear:
    case TypedLine::Action::Reverse:
    case TypedLine::Action::Quit:
    case TypedLine::Action::Join:
        return true;
    case TypedLine::Action::Command:
    case TypedLine::Action::Chat:
        return false;
    }
    return true;
}

PasteQueue::PasteQueue(Sender send, QObject *parent)
    : QObject(parent)
    , m_send(std::move(send))
    , m_burst(kPasteBurst)
{
    m_timer.setInterval(kPasteIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &PasteQueue::sendNext);
}

void PasteQueue::setPace(int burst, int intervalMs)
{
    m_burst = qMax(1, burst);
    // An interval of 0 would send the whole paste in one go.
    m_timer.setInterval(qMax(1, intervalMs));
}

void PasteQueue::load(QStringView text)
{
    clear();
    m_lines = splitPastedText(text);
    // Refused lines are dropped in place; no line is copied.
    std::erase_if(m_lines, [this](const QString &line) {
        const bool local = isLocalCommandLine(line);
        m_refused += local;
        return local;
    });
    m_total = int(m_lines.size());
}

void PasteQueue::clear()
{
    m_timer.stop();
    m_running = false;
    m_lines.clear();
    m_total = m_sent = m_refused = 0;
}

void PasteQueue::start()
{
    if (isRunning())
        return;
    if (m_lines.empty()) {
        finish(Outcome::Sent);
        return;
    }
    m_running = true;
    for (int i = 0; i < m_burst && m_running && !m_lines.empty(); ++i)
        sendNext();
    if (m_running && !m_lines.empty())
        m_timer.start();
}

void PasteQueue::stop()
{
    if (!isRunning())
        return;
    finish(Outcome::Stopped);
}

void PasteQueue::sendNext()
{
    if (m_lines.empty())
        return;
    // A line counts as sent only once send() took it; a link that is down
    // took nothing, so nothing is lost and nothing is sent twice.
    const QString line = std::move(m_lines.front());
    m_lines.pop_front();
    // Counted before send() returns, so that a stop from inside it (a
    // handler of its own) reports this line among those sent.
    ++m_sent;
    if (!m_send(line)) {
        --m_sent;
        if (m_running)
            finish(Outcome::LinkLost);
        return;
    }
    if (!m_running)
        return;
    emit progress(m_sent, left());
    // A handler of progress may have stopped it too.
    if (m_running && m_lines.empty())
        finish(Outcome::Sent);
}

void PasteQueue::finish(Outcome outcome)
{
    m_timer.stop();
    m_running = false;
    m_lines.clear();
    emit finished(outcome, m_sent, m_total);
}

namespace {
QString linesText(int n)
{
    return n == 1 ? QStringLiteral("1 line") : QStringLiteral("%1 lines").arg(n);
}

QString refusedText(int refused, bool done)
{
    if (refused == 0)
        return {};
    if (refused == 1)
        return done ? QStringLiteral(" 1 local command in it was not sent.")
                    : QStringLiteral(" 1 local command in it is not sent.");
    return (done ? QStringLiteral(" %1 local commands in it were not sent.")
                 : QStringLiteral(" %1 local commands in it are not sent."))
        .arg(refused);
}
} // namespace

QString pasteQuestion(int lines, const QString &target, int refused)
{
    const QString where = target.isEmpty() ? QString() : QStringLiteral(" to ") + target;
    return QStringLiteral("Send %1%2?").arg(linesText(lines), where) + refusedText(refused, false);
}

QString pasteOutcomeText(PasteQueue::Outcome outcome, int sent, int total, int refused)
{
    QString text;
    switch (outcome) {
    case PasteQueue::Outcome::Sent:
        text = QStringLiteral("Sent %1.").arg(linesText(sent));
        break;
    case PasteQueue::Outcome::Stopped:
        text = QStringLiteral("Stopped: sent %1 of %2.").arg(sent).arg(linesText(total));
        break;
    case PasteQueue::Outcome::LinkLost:
        text = QStringLiteral("Sent %1 of %2: the connection was lost.").arg(sent).arg(linesText(total));
        break;
    }
    return text + refusedText(refused, true);
}

QString pasteLeftText(int left)
{
    return QStringLiteral("%1 left").arg(linesText(left));
}
