// SPDX-License-Identifier: MIT
#include "log/ChatLog.h"

#include "reception/DisplayText.h"
#include "time/Clock.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
constexpr int kFlushIntervalMs = 1000;
} // namespace

QString safeFolderName(const QString &server)
{
    QString name = server.trimmed();
    for (QChar &c : name) {
        const bool kept = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')
                          || (c >= u'0' && c <= u'9') || c == u'.' || c == u'-' || c == u'_';
        if (!kept)
            c = u'_';
    }
    if (name.isEmpty() || name == u"." || name == u"..")
        name.prepend(u'_');
    return name;
}

ChatLog::ChatLog(QObject *parent)
    : QObject(parent)
{
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(kFlushIntervalMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &ChatLog::flush);
}

ChatLog::~ChatLog()
{
    // Whoever would show a failure may be going away too.
    blockSignals(true);
    writePending();
}

QString ChatLog::defaultFolder()
{
    // AppDataLocation would add the organisation as well; the program's data
    // folder is $XDG_DATA_HOME/VeskChat.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/VeskChat/logs");
}

void ChatLog::setFolder(const QString &folder)
{
    if (folder == m_folder)
        return;
    writePending();
    m_file.close();
    m_folder = folder;
    m_paused = false;
}

void ChatLog::setEnabled(bool enabled)
{
    if (!enabled)
        writePending();
    m_enabled = enabled;
}

void ChatLog::setServer(const QString &server)
{
    writePending();
    m_file.close();
    m_server = server;
    m_paused = false;
}

QString ChatLog::filePath(QDate date) const
{
    return m_folder + u'/' + safeFolderName(m_server) + u'/' + date.toString(Qt::ISODate)
           + QStringLiteral(".log");
}

void ChatLog::append(QStringView line)
{
    if (!m_enabled || m_paused || m_folder.isEmpty())
        return;
    updateStamp();
    if (!m_pending.isEmpty() && m_stampDate != m_pendingDate)
        writePending(); // each file gets only its own day's lines
    m_pendingDate = m_stampDate;
    m_pending += m_stamp;
    // Control characters would act on a terminal that shows the log.
    m_shown.clear();
    appendWithNameRules(m_shown, line);
    const qsizetype at = m_pending.size();
    m_pending.resize(at + m_utf8.requiredSpace(m_shown.size()));
    char *end = m_utf8.appendToBuffer(m_pending.data() + at, m_shown);
    m_pending.resize(end - m_pending.constData());
    m_pending += '\n';
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void ChatLog::updateStamp()
{
    const qint64 seconds = currentEpochSeconds();
    if (seconds == m_stampSeconds)
        return;
    m_stampSeconds = seconds;
    const QDateTime now = QDateTime::fromSecsSinceEpoch(seconds);
    m_stampDate = now.date();
    m_stamp = now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")).toUtf8();
}

void ChatLog::holdWrites(bool hold)
{
    m_held = hold;
    if (!hold)
        flush();
}

void ChatLog::flush()
{
    m_flushTimer.stop();
    if (!m_held)
        writePending();
}

void ChatLog::writePending()
{
    m_flushTimer.stop();
    if (m_pending.isEmpty())
        return;
    const QByteArray bytes = std::exchange(m_pending, {});
    if (m_paused || !openFor(m_pendingDate))
        return;
    if (m_file.write(bytes) != bytes.size() || !m_file.flush())
        fail(m_file.errorString());
}

bool ChatLog::openFor(QDate date)
{
    if (m_file.isOpen() && m_fileDate == date)
        return true;
    m_file.close();
    const QString path = filePath(date);
    if (!QDir().mkpath(QFileInfo(path).path())) {
        fail(QStringLiteral("cannot create the folder %1").arg(QFileInfo(path).path()));
        return false;
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        fail(QStringLiteral("cannot write %1: %2").arg(path, m_file.errorString()));
        return false;
    }
    m_fileDate = date;
    return true;
}

void ChatLog::fail(const QString &reason)
{
    m_file.close();
    m_paused = true;
    m_pending.clear();
    emit failed(QLatin1String(kLogPausedPrefix) + reason);
}

void ChatLog::linesReady(const ShownLines &lines)
{
    if (!m_enabled)
        return;
    for (const ShownLine &line : lines.lines()) {
        if (line.kind != ShownLine::Kind::Replayed) // already in the log
            append(lines.body(line));
    }
}
