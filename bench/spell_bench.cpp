// SPDX-License-Identifier: MIT
// Time to check a 400-character input line with the en_US dictionary: the
// first check of a line whose words were never seen, and the recheck after
// an edit (most words already looked up).
#include "text/SpellChecker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
const char *const kWords[] = {"the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog", "while",
                              "everyone", "chatting", "about", "yesterday's", "meeting", "and", "tomorrow",
                              "teh", "recieve", "definately", "seperate", "occured", "https://example.org/x",
                              "alice:", "42", "v2", "wierd"};

// A line of about 400 characters; salt makes some of its words new.
QString line(int salt)
{
    QString text;
    for (int i = 0; text.size() < 400; ++i) {
        text += QLatin1String(kWords[(i * 7 + salt) % std::size(kWords)]);
        if (i % 9 == 0) { // a word not seen before
            text += u' ';
            for (int n = salt * 64 + i, k = 0; k < 6; ++k, n /= 26)
                text += QChar(u'a' + n % 26);
        }
        text += u' ';
    }
    text.truncate(400);
    return text;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
    QCoreApplication app(argc, argv);
    SpellChecker checker;
    QElapsedTimer loading;
    loading.start();
    if (!checker.load(QStringLiteral("en_US"), {QStringLiteral("/usr/share/hunspell")})) {
        std::printf("spell check: skipped, %s\n", qPrintable(checker.notice()));
        return 0;
    }
    const double loadMs = loading.nsecsElapsed() / 1e6;
    checker.setIgnoredNames({QStringLiteral("alice")});

    std::vector<double> first, again;
    qsizetype marked = 0;
    for (int salt = 0; salt < 200; ++salt) {
        const QString text = line(salt);
        QElapsedTimer timer;
        timer.start();
        marked += checker.misspelled(text).size();
        first.push_back(timer.nsecsElapsed() / 1e6);
        timer.restart();
        checker.misspelled(text + QLatin1String("x"));
        again.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::vector<double> sorted = first;
    std::sort(sorted.begin(), sorted.end());
    std::printf("spell check: first checks, 99th percentile %.3f ms\n", sorted[sorted.size() * 99 / 100]);
    std::printf("spell check: dictionary loaded in %.1f ms; a 400-character line: first check median %.3f ms"
                " (worst %.3f ms, the very first %.3f ms), recheck after an edit median %.3f ms (target: under 5 ms); %lld words marked\n",
                loadMs, median(first), *std::max_element(first.begin(), first.end()), first.front(), median(again),
                static_cast<long long>(marked));
    return 0;
}
