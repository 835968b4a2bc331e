// SPDX-License-Identifier: MIT
#pragma once

#include "session/ShownLines.h"

#include <QDate>
#include <QFile>
#include <QObject>
#include <QString>
#include <QStringEncoder>
#include <QTimer>

// The chat log on disk: one UTF-8 text file per server and per day,
// <folder>/<server>/<YYYY-MM-DD>.log, each line prefixed with the local date
// and time to the second. Lines are gathered in memory and written when the
// owner calls flush() (at the end of each received slice) and at least once
// a second. A write that fails pauses the log and reports it once through
// failed(); nothing here ever blocks or ends the program.
class ChatLog : public QObject, public ShownLineFilter
{
    Q_OBJECT

public:
    explicit ChatLog(QObject *parent = nullptr);
    ~ChatLog() override;

    // The folder that holds one folder per server.
    void setFolder(const QString &folder);
    QString folder() const { return m_folder; }
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }
    // Starts logging for a server (a new connection); a paused log resumes.
    void setServer(const QString &server);
    bool isPaused() const { return m_paused; }

    // One line as it is shown (without the pane's own short timestamp), but
    // never cut; control characters and line breaks are written as U+FFFD.
    void append(QStringView line);
    void flush();

    // As a session's filter: every shown line is logged, and written out when its batch was shown.
    void linesReady(const ShownLines &lines) override;
    void batchShown() override { flush(); }
    void sessionStarted(const QString &server) override { setServer(server); }
    // Held, flush() keeps the lines in memory; released, they are written.
    void holdWrites(bool hold) override;

    // The file that a line logged on this date goes to.
    QString filePath(QDate date) const;

    // The per-user default: the logs folder under the program's data folder.
    static QString defaultFolder();

signals:
    // Writing failed and the log is paused; message is one line for the chat pane.
    void failed(const QString &message);

private:
    bool openFor(QDate date);
    // Brings m_stamp up to the current second.
    void updateStamp();
    void fail(const QString &reason);
    // Writes what is gathered, held or not.
    void writePending();

    QString m_folder;
    QString m_server;
    bool m_enabled = true;
    bool m_paused = false;
    bool m_held = false;
    QFile m_file;
    QDate m_fileDate;
    QDate m_pendingDate;  // the date of the lines in m_pending
    QByteArray m_pending; // UTF-8, each line ending in a line feed
    QTimer m_flushTimer;
    // The local date and time are worked out once a second, not for every line.
    qint64 m_stampSeconds = -1;
    QDate m_stampDate;
    QByteArray m_stamp; // "yyyy-MM-dd HH:mm:ss "
    QStringEncoder m_utf8{QStringEncoder::Utf8};
    QString m_shown; // a line with its control characters replaced
};

// A server name (host or address) as a folder name: letters, digits, '.',
// '-' and '_' are kept, anything else becomes '_'; never empty, "." or "..".
QString safeFolderName(const QString &server);

// "Chat log paused: " + what went wrong.
inline constexpr char kLogPausedPrefix[] = "Chat log paused: ";
