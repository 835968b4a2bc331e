// SPDX-License-Identifier: MIT
#include "settings/ListFile.h"

#include "reception/TextCodec.h"

#include <QCoreApplication>
#include <QFile>

namespace {
QString &directoryOverride()
{
    static QString directory;
    return directory;
}

// List files are small; anything past this is not a list of servers or channels.
constexpr qint64 kMaxListFileBytes = 1 << 20;
} // namespace

QString programDirectory()
{
    const QString &directory = directoryOverride();
    return directory.isEmpty() ? QCoreApplication::applicationDirPath() : directory;
}

void setProgramDirectoryForTesting(const QString &directory)
{
    directoryOverride() = directory;
}

bool FileExistsWithOpen(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly);
}

std::optional<QStringList> readListFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(kMaxListFileBytes);

    QStringList entries;
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        qsizetype end = pos;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        const QString line = decodeLine(QByteArrayView(bytes).sliced(pos, end - pos));
        entries.append(line);
        if (end < bytes.size() && bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n')
            ++end;
        pos = end + 1;
        if (line.size() <= 3)
            break;
    }
    return entries;
}
