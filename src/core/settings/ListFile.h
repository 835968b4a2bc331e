// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The folder the list files are read from: the program's own folder.
QString programDirectory();
void setProgramDirectoryForTesting(const QString &directory);

// True when the file can be opened for reading.
bool FileExistsWithOpen(const QString &path);

// Reads a list file the way the pickers list it: the first line always, then
// further lines only while the line just read is longer than 3 characters and
// the file has more. Lines end at CR LF, LF or CR. nullopt when it cannot be opened.
std::optional<QStringList> readListFile(const QString &path);
