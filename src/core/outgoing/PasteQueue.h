// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>

// Pasted text as lines: cut at CR LF, CR or LF; one empty line at the end
// (the line break after the last line) is dropped.
std::deque<QString> splitPastedText(QStringView text);

// True when the input line would run this line itself instead of sending it
// as typed: "/clear", "/reverse", "/quit", "/join", "/j" and what starts with them.
bool isLocalCommandLine(const QString &line);

// Sends the lines of a paste one by one, paced under the server's line rate.
//
// The pace: the gateway lets each user send a burst of 200 lines, then 20
// lines a second. A paste sends its first kPasteBurst lines at once (a short
// paste goes out as quickly as if typed), then one line every 100 ms: 10
// lines a second, half the gateway's rate, so the allowance never runs dry
// and the other half is left for what the user types meanwhile and for the
// idle announcement. A server that is stricter than the gateway still sees a
// steady trickle rather than a flood.
//
// Local commands are refused, never run nor sent: a pasted "/quit" must not
// end the program and "/clear" must not empty the panes because a page of
// text happened to hold them, and sending them to the server as text would
// make it run them as its own commands ("/quit" would log the user off).
// Every other line goes through send() exactly as the input line would send
// it, control characters included.
class PasteQueue : public QObject
{
    Q_OBJECT

public:
    // Sends one line; false when the link is down and nothing was sent.
    using Sender = std::function<bool(const QString &line)>;

    enum class Outcome { Sent, Stopped, LinkLost };
    Q_ENUM(Outcome)

    explicit PasteQueue(Sender send, QObject *parent = nullptr);

    // Lines sent at once when sending starts, and the time between the others.
    void setPace(int burst, int intervalMs);

    // Takes a paste, replacing any that is waiting; refused lines are counted.
    void load(QStringView text);
    // Drops a paste that was loaded but not started, or stops one.
    void clear();

    void start();
    // Stops after the line being sent; what is left is not sent.
    void stop();

    bool isRunning() const { return m_timer.isActive() || m_running; }
    int total() const { return m_total; }
    int sent() const { return m_sent; }
    int left() const { return int(m_lines.size()); }
    int refused() const { return m_refused; }

signals:
    void progress(int sent, int left);
    void finished(PasteQueue::Outcome outcome, int sent, int total);

private:
    void sendNext();
    void finish(Outcome outcome);

    Sender m_send;
    std::deque<QString> m_lines;
    QTimer m_timer;
    int m_burst;
    int m_total = 0;
    int m_sent = 0;
    int m_refused = 0;
    bool m_running = false;
};

inline constexpr int kPasteBurst = 5;
inline constexpr int kPasteIntervalMs = 100;

// The question and the closing message of the paste bar.
QString pasteQuestion(int lines, const QString &target, int refused);
QString pasteOutcomeText(PasteQueue::Outcome outcome, int sent, int total, int refused);
// "12 lines left"
QString pasteLeftText(int left);
