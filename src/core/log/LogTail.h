// SPDX-License-Identifier: MIT
#pragma once

#include <QDateTime>
#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QStringList>

#include <vector>

// The last lines of a server's chat log, read from the end of its newest day
// files, for showing what was said before this connection. Reading costs the
// same whatever the size of the file, and never more than kTailByteCap bytes
// per server, so a damaged or huge log cannot freeze or swell the program.

// A line of the log: the local date and time it was written and its text.
struct ReplayLine {
    QDateTime when;
    QString text;
    bool operator==(const ReplayLine &) const = default;
};

struct LogTail {
    std::vector<ReplayLine> lines; // oldest first
    // Empty, or one line for the chat pane saying why less than asked was read.
    QString why;
};

// The most bytes read from one server's log files together.
inline constexpr qint64 kTailByteCap = 4 * 1024 * 1024;
// A longer line keeps its first kTailLineCut bytes.
inline constexpr int kTailLineCut = 8 * 1024;
// Day files looked at before giving up (a year of days without a word).
inline constexpr int kTailFileCap = 366;

// The last count lines of one log file. Lines end at LF, CR LF or CR; empty
// lines are skipped; a line without the "yyyy-MM-dd HH:mm:ss " prefix or
// with a NUL byte is damaged and left out (why counts them). byteBudget
// caps the bytes read and is lowered by what was read.
LogTail readLogTail(const QString &path, int count, qint64 *byteBudget = nullptr);

// The [Logs] Replay setting as a number of lines: 0 (none) to kReplayMax;
// what is not a number reads as the default.
inline constexpr int kReplayDefault = 50;
inline constexpr int kReplayMax = 1000;
int replayLineCount(const QString &setting);

// The day files of a server, newest first: <folder>/<server>/<YYYY-MM-DD>.log.
QStringList serverLogFiles(const QString &folder, const QString &server);

// The last count lines of a server's log, walking back to earlier days when
// the newest file holds fewer.
LogTail readServerLogTail(const QString &folder, const QString &server, int count);

// Reads a server's log tail on a pool thread and hands it back through
// finished() in this object's thread. A new start() drops the result of the
// one before; destroying the object drops it too.
class LogReplay : public QObject
{
    Q_OBJECT

public:
    explicit LogReplay(QObject *parent = nullptr);
    ~LogReplay() override;

    void start(const QString &folder, const QString &server, int count);
    bool isRunning() const { return m_running; }

signals:
    void finished(const LogTail &tail);

private:
    void onReady();

    QFutureWatcher<LogTail> *m_watcher = nullptr;
    bool m_running = false;
};

Q_DECLARE_METATYPE(LogTail)
