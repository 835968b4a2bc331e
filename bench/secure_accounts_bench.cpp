// SPDX-License-Identifier: MIT
// Password checks as the gateway runs them: the time from request to verdict
// for a hashed, a plain and an unknown name (they should match), the memory
// and event-loop stalls of 10 logins at the same moment, and a burst larger
// than the queue. Beside them: the memory the same 10 hashes would take if
// they all ran at once.
#include "Accounts.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using Verdict = PasswordVerifier::Verdict;

long statusKib(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// Lets the next VmHWM reading show the peak from here on.
void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

struct Burst
{
    double totalMs = 0;
    double longestStallMs = 0;
    long peakKib = 0;
    long baseKib = 0;
    int busy = 0;
    std::vector<double> perLoginMs;
};

// Sends `count` checks at once and runs the event loop until all are answered,
// with a 5 ms timer standing in for other users' chat.
Burst burst(PasswordVerifier &verifier, const QList<QPair<QByteArray, QByteArray>> &logins)
{
    Burst result;
    QObject context;
    QEventLoop loop;
    QElapsedTimer clock;
    int answered = 0;
    qint64 lastTick = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        result.longestStallMs = std::max(result.longestStallMs, double(now - lastTick) / 1e6);
        lastTick = now;
    });
    resetPeak();
    result.baseKib = statusKib("VmRSS:");
    clock.start();
    ticker.start();
    for (const auto &[name, password] : logins) {
        verifier.verify(name, password, &context, [&, sent = clock.nsecsElapsed()](Verdict verdict) {
            result.perLoginMs.push_back(double(clock.nsecsElapsed() - sent) / 1e6);
            result.busy += verdict == Verdict::Busy;
            if (++answered == logins.size())
                loop.quit();
        });
    }
    loop.exec();
    result.totalMs = double(clock.nsecsElapsed()) / 1e6;
    result.peakKib = statusKib("VmHWM:");
    return result;
}

void timing(PasswordVerifier &verifier, const char *label, const QByteArray &name, const QByteArray &password)
{
    constexpr int kRuns = 10;
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i)
        times.push_back(burst(verifier, {{name, password}}).perLoginMs.front());
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times)
        sum += t;
    std::printf("  %-34s median %6.1f ms, mean %6.1f, min %6.1f, max %6.1f\n", label, times[kRuns / 2],
                sum / kRuns, times.front(), times.back());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (!PasswordHash::initialise())
        return 1;
    QElapsedTimer hashing;
    hashing.start();
    const QByteArray aliceHash = PasswordHash::hash("correct horse battery");
    const double hashMs = double(hashing.nsecsElapsed()) / 1e6;
    QByteArray file = "alice:" + aliceHash + "\nbob:hunter2\n";
    for (int i = 0; i < 10; ++i)
        file += "user" + QByteArray::number(i) + ':' + PasswordHash::hash("pw" + QByteArray::number(i)) + '\n';
    QString error;
    std::optional<Accounts> accounts = Accounts::parse(file, &error);
    if (!accounts) {
        std::fprintf(stderr, "secure_accounts_bench: %s\n", qPrintable(error));
        return 1;
    }
    PasswordVerifier verifier(*accounts);
    std::printf("argon2id, %llu passes, %zu MiB, one lane: %.1f ms to hash; at most 2 checks at once\n",
                static_cast<unsigned long long>(PasswordHash::kOpsLimit), PasswordHash::kMemLimitBytes >> 20, hashMs);

    std::printf("One check at a time, request to verdict (10 runs each):\n");
    timing(verifier, "hashed name, right password", "alice", "correct horse battery");
    timing(verifier, "hashed name, wrong password", "alice", "correct horse batter");
    timing(verifier, "plain name, right password", "bob", "hunter2");
    timing(verifier, "plain name, wrong password", "bob", "hunter3");
    timing(verifier, "unknown name", "mallory", "hunter2");

    QList<QPair<QByteArray, QByteArray>> ten;
    for (int i = 0; i < 10; ++i)
        ten.append({"user" + QByteArray::number(i), "pw" + QByteArray::number(i)});
    const Burst b = burst(verifier, ten);
    std::printf("10 hashed logins at the same moment: all answered in %.0f ms (last verdict %.0f ms after its "
                "request); event loop stalled at most %.1f ms (5 ms timer); RSS %ld KiB before, peak %ld KiB "
                "(+%.1f MiB)\n",
                b.totalMs, *std::max_element(b.perLoginMs.begin(), b.perLoginMs.end()), b.longestStallMs, b.baseKib,
                b.peakKib, double(b.peakKib - b.baseKib) / 1024);
    std::printf("  baseline: 10 hashes at once would need %zu MiB for argon2 alone\n",
                10 * (PasswordHash::kMemLimitBytes >> 20));

    QList<QPair<QByteArray, QByteArray>> flood;
    for (int i = 0; i < 500; ++i)
        flood.append({"mallory" + QByteArray::number(i), "guess"});
    const Burst f = burst(verifier, flood);
    std::printf("500 logins at once (queue of 64): %d answered busy at once, the rest checked in %.0f ms; "
                "stall at most %.1f ms; peak RSS +%.1f MiB\n",
                f.busy, f.totalMs, f.longestStallMs, double(f.peakKib - f.baseKib) / 1024);
    return 0;
}
