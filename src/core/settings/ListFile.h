// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The folders a list file is looked for in, in this order: the program's own
// folder (a copied program with its own lists keeps working; the build keeps
// them beside the binary), the per-user data folder $XDG_DATA_HOME/vesk-chat,
// then <dir>/vesk-chat for each system data folder in $XDG_DATA_DIRS, where an
// install puts them (share/vesk-chat).
QStringList listFileFolders();
// Tests: look in these folders only; an empty list restores the real ones.
void setListFileFoldersForTesting(const QStringList &folders);

// The path of fileName in the first folder that holds it as a file; when none
// does, its path in the first folder, so that opening it fails as a missing file.
QString findListFile(const QString &fileName, const QStringList &folders);
// findListFile over listFileFolders().
QString listFilePath(const QString &fileName);

class QFile;

// True when the file could be opened for reading (and is now open).
bool FileExistsWithOpen(QFile &file);
// True when the file at path can be opened for reading.
bool FileExistsWithOpen(const QString &path);

// Reads a list file the way the pickers list it: the first line always, then
// further lines only while the line just read is longer than 3 characters and
// the file has more. Lines end at CR LF, LF or CR. nullopt when it cannot be
// opened (FileExistsWithOpen), so a caller opens the file once.
std::optional<QStringList> readListFile(const QString &path);
