// SPDX-License-Identifier: MIT
#include "settings/ListFile.h"

#include "reception/TextCodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace {
QStringList &foldersOverride()
{
    static QStringList folders;
    return folders;
}

// The folder under each data folder, named after the program as installed
// (share/vesk-chat), not after the application name that Qt would append.
constexpr char kDataSubfolder[] = "/vesk-chat";

// List files are small; anything past this is not a list of servers or
// channels. It holds 100,000 entries of 80 characters.
constexpr qint64 kMaxListFileBytes = 8 << 20;
} // namespace

QStringList listFileFolders()
{
    if (!foldersOverride().isEmpty())
        return foldersOverride();
    QStringList folders{QCoreApplication::applicationDirPath()};
    // The per-user data folder first, then the system ones.
    for (const QString &data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        folders.append(data + QLatin1String(kDataSubfolder));
    return folders;
}

void setListFileFoldersForTesting(const QStringList &folders)
{
    foldersOverride() = folders;
}

QString findListFile(const QString &fileName, const QStringList &folders)
{
    for (const QString &folder : folders) {
        const QString path = QDir(folder).filePath(fileName);
        if (QFileInfo(path).isFile())
            return path;
    }
    return folders.isEmpty() ? fileName : QDir(folders.first()).filePath(fileName);
}

QString listFilePath(const QString &fileName)
{
    return findListFile(fileName, listFileFolders());
}

bool FileExistsWithOpen(QFile &file)
{
    return file.open(QIODevice::ReadOnly);
}

bool FileExistsWithOpen(const QString &path)
{
    QFile file(path);
    return FileExistsWithOpen(file);
}

std::optional<QStringList> readListFile(const QString &path)
{
    QFile file(path);
    if (!FileExistsWithOpen(file))
        return std::nullopt;
    QByteArray bytes = file.read(kMaxListFileBytes);
    if (!file.atEnd()) // the last line read is cut short: leave it out
        bytes.truncate(std::max(bytes.lastIndexOf('\n'), bytes.lastIndexOf('\r')) + 1);

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
