// SPDX-License-Identifier: MIT
#include "log/LogTail.h"

#include "log/ChatLog.h"
#include "reception/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QPromise>
#include <QThreadPool>

#include <algorithm>
#include <memory>
#include <optional>

namespace {
// Reading starts with one block from the end; each further block is twice as
// big, so a log of long lines costs few reads and few copies.
constexpr qint64 kFirstBlock = 64 * 1024;
constexpr int kStampLength = 20; // "yyyy-MM-dd HH:mm:ss "
constexpr char16_t kReplacement = u'\uFFFD';
constexpr char16_t kCutMark = u'\u2026';

bool isSeparator(char c)
{
    return c == '\n' || c == '\r';
}

int digits(const char *p, int n)
{
    int value = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return -1;
        value = value * 10 + (p[i] - '0');
    }
    return value;
}

std::optional<QDateTime> stampOf(QByteArrayView line)
{
    if (line.size() < kStampLength)
        return std::nullopt;
    const char *p = line.data();
    if (p[4] != '-' || p[7] != '-' || p[10] != ' ' || p[13] != ':' || p[16] != ':' || p[19] != ' ')
        return std::nullopt;
    const QDate date(digits(p, 4), digits(p + 5, 2), digits(p + 8, 2));
    const QTime time(digits(p + 11, 2), digits(p + 14, 2), digits(p + 17, 2));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time);
}

// The text of a line after its stamp, cut at a character boundary.
QString textOf(QByteArrayView rest)
{
    bool cut = false;
    if (rest.size() > kTailLineCut) {
        qsizetype end = kTailLineCut;
        while (end > 0 && (static_cast<unsigned char>(rest.at(end)) & 0xC0) == 0x80)
            --end; // not inside a UTF-8 sequence
        rest = rest.first(end);
        cut = true;
    }
    QString text = decodeLine(rest);
    for (QChar &c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QChar(kReplacement);
    }
    if (cut)
        text += QChar(kCutMark);
    return text;
}

// An unterminated last line may be one that another instance of the program
// is writing right now; a character cut in half at its end is left out.
QByteArrayView withoutCutCharacter(QByteArrayView line)
{
    for (qsizetype back = 1; back <= 3 && back <= line.size(); ++back) {
        const auto byte = static_cast<unsigned char>(line.at(line.size() - back));
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte: look further back for the lead
        const qsizetype needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return needed > back ? line.first(line.size() - back) : line;
    }
    return line;
}

struct Parsed {
    std::vector<ReplayLine> newestFirst;
    int damaged = 0;
};

// Adds the lines of bytes (whole lines, oldest first) to parsed, newest
// first, until it holds count; older lines, damaged or not, are not looked at.
void parseLines(QByteArrayView bytes, int count, Parsed &parsed)
{
    if (!bytes.isEmpty() && !isSeparator(bytes.back()))
        bytes = withoutCutCharacter(bytes);
    qsizetype end = bytes.size();
    while (end > 0 && qsizetype(parsed.newestFirst.size()) < count) {
        qsizetype start = end;
        while (start > 0 && !isSeparator(bytes.at(start - 1)))
            --start;
        const QByteArrayView line = bytes.sliced(start, end - start);
        end = start - 1;
        if (line.isEmpty())
            continue; // the LF of a CR LF, or a blank line
        const std::optional<QDateTime> when = stampOf(line);
        if (!when || line.contains('\0')) {
            ++parsed.damaged;
            continue;
        }
        parsed.newestFirst.push_back({*when, textOf(line.sliced(kStampLength))});
    }
}

QString damagedReason(int damaged)
{
    return damaged == 1 ? QStringLiteral("One damaged line of the chat log was left out.")
                        : QStringLiteral("%1 damaged lines of the chat log were left out.").arg(damaged);
}

QString cappedReason()
{
    return QStringLiteral("Only the last %1 MB of the chat log were read.").arg(kTailByteCap / (1024 * 1024));
}
} // namespace

LogTail readLogTail(const QString &path, int count, qint64 *byteBudget)
{
    LogTail result;
    if (count <= 0)
        return result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.why = QStringLiteral("Could not read the chat log %1: %2.").arg(path, file.errorString());
        return result;
    }
    qint64 localBudget = kTailByteCap;
    qint64 &budget = byteBudget ? *byteBudget : localBudget;
    Parsed parsed;
    QByteArray partial; // the bytes before the lines parsed so far: a line's end, or nothing
    qint64 pos = file.size();
    qint64 block = kFirstBlock;
    bool capped = false;
    while (qsizetype(parsed.newestFirst.size()) < count && pos > 0) {
        if (budget <= 0) {
            capped = true;
            break;
        }
        const qint64 n = std::min({block, pos, budget});
        pos -= n;
        QByteArray chunk;
        if (!file.seek(pos) || (chunk = file.read(n)).size() != n) {
            result.why = QStringLiteral("Could not read the chat log %1: %2.").arg(path, file.errorString());
            break;
        }
        budget -= n;
        block *= 2;
        partial.prepend(chunk);
        // Only lines whose start has been read are whole.
        qsizetype start = 0;
        if (pos > 0) {
            const auto first = std::find_if(partial.cbegin(), partial.cend(), isSeparator);
            if (first == partial.cend())
                continue;
            start = first - partial.cbegin() + 1;
        }
        parseLines(QByteArrayView(partial).sliced(start), count, parsed);
        partial.truncate(start);
    }
    const qsizetype kept = std::min<qsizetype>(count, parsed.newestFirst.size());
    result.lines.assign(std::make_move_iterator(parsed.newestFirst.rend() - kept),
                        std::make_move_iterator(parsed.newestFirst.rend()));
    if (!result.why.isEmpty())
        return result;
    if (parsed.damaged > 0)
        result.why = damagedReason(parsed.damaged);
    else if (capped || (pos > 0 && budget <= 0 && kept < count))
        result.why = cappedReason();
    return result;
}

int replayLineCount(const QString &setting)
{
    bool ok = false;
    const int count = setting.trimmed().toInt(&ok);
    if (!ok)
        return kReplayDefault;
    return std::clamp(count, 0, kReplayMax);
}

QStringList serverLogFiles(const QString &folder, const QString &server)
{
    const QDir dir(folder + u'/' + safeFolderName(server));
    QStringList files;
    const QStringList names = dir.entryList({QStringLiteral("\?\?\?\?-\?\?-\?\?.log")}, QDir::Files,
                                            QDir::Name | QDir::Reversed);
    for (const QString &name : names) {
        if (QDate::fromString(name.left(10), Qt::ISODate).isValid())
            files.append(dir.filePath(name));
    }
    return files;
}

LogTail readServerLogTail(const QString &folder, const QString &server, int count)
{
    LogTail result;
    if (count <= 0)
        return result;
    const QStringList files = serverLogFiles(folder, server);
    qint64 budget = kTailByteCap;
    std::vector<ReplayLine> newestFirst;
    for (qsizetype i = 0; i < files.size() && i < kTailFileCap; ++i) {
        if (qsizetype(newestFirst.size()) >= count)
            break;
        LogTail day = readLogTail(files.at(i), count - int(newestFirst.size()), &budget);
        std::move(day.lines.rbegin(), day.lines.rend(), std::back_inserter(newestFirst));
        if (result.why.isEmpty())
            result.why = day.why;
        if (budget <= 0)
            break;
    }
    result.lines.assign(std::make_move_iterator(newestFirst.rbegin()),
                        std::make_move_iterator(newestFirst.rend()));
    return result;
}

LogReplay::LogReplay(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<LogTail>();
}

LogReplay::~LogReplay() = default;

void LogReplay::start(const QString &folder, const QString &server, int count)
{
    if (m_watcher) {
        // The pool job finishes on its own; its result goes nowhere.
        m_watcher->disconnect(this);
        m_watcher->deleteLater();
    }
    m_watcher = new QFutureWatcher<LogTail>(this);
    connect(m_watcher, &QFutureWatcher<LogTail>::finished, this, &LogReplay::onReady);
    auto promise = std::make_shared<QPromise<LogTail>>();
    m_watcher->setFuture(promise->future());
    m_running = true;
    QThreadPool::globalInstance()->start([promise, folder, server, count] {
        promise->start();
        promise->addResult(readServerLogTail(folder, server, count));
        promise->finish();
    });
}

void LogReplay::onReady()
{
    m_running = false;
    const QFuture<LogTail> future = m_watcher->future();
    const LogTail tail = future.resultCount() > 0 ? future.result() : LogTail{};
    m_watcher->deleteLater();
    m_watcher = nullptr;
    emit finished(tail);
}
