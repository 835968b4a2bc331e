// SPDX-License-Identifier: MIT
// Time to read the last 50 lines of a 1 GB chat log: a sparse file of 1 GB
// whose last megabytes are real log lines, in a temporary folder.
#include "log/LogTail.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString server = QStringLiteral("chat.example.net");
    QDir(dir.path()).mkpath(server);
    QFile file(dir.filePath(server + QStringLiteral("/2026-03-14.log")));
    constexpr qint64 kSize = 1024LL * 1024 * 1024;
    QByteArray lines;
    for (int i = 0; lines.size() < 4 * 1024 * 1024; ++i)
        lines += "2026-03-14 12:34:56 <anna> line " + QByteArray::number(i)
                 + " of an ordinary chat with some words in it\n";
    if (!file.open(QIODevice::WriteOnly) || !file.resize(kSize - lines.size()) || !file.seek(kSize - lines.size())
        || file.write(lines) != lines.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        return 1;
    }
    file.close();

    std::vector<double> ms;
    for (int run = 0; run < 50; ++run) {
        QElapsedTimer timer;
        timer.start();
        const LogTail tail = readServerLogTail(dir.path(), server, 50);
        ms.push_back(timer.nsecsElapsed() / 1e6);
        if (tail.lines.size() != 50) {
            std::fprintf(stderr, "read %zu lines, not 50\n", tail.lines.size());
            return 1;
        }
    }
    const double first = ms.front();
    std::sort(ms.begin(), ms.end());
    std::printf("log tail: last 50 lines of a %lld MB log: first %.3f ms, median %.3f ms, worst %.3f ms"
                " (target: under 50 ms)\n",
                kSize / (1024 * 1024), first, ms[ms.size() / 2], ms.back());
    return 0;
}
