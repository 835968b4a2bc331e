// SPDX-License-Identifier: MIT
// The gateway's TLS sessions in-process, over memory buffers: handshakes per
// second (server side and both sides), the memory an idle session keeps, and
// bytes and chat lines per second through a session. Beside them: a plain
// memcpy of the same bytes, what a connection without TLS costs at least.
#include "TlsServer.h"
#include "support/TestCerts.h"
#include "support/TlsMemoryClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

namespace {

using TlsTest::MemoryClient;
constexpr qint64 kRunNs = 1'000'000'000; // per measurement

long residentKib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// One handshake with the server side timed apart.
bool handshake(SSL_CTX *clientContext, const TlsServerContext &server, qint64 *serverNs)
{
    MemoryClient client(clientContext);
    TlsSession session(server);
    QElapsedTimer timer;
    for (int round = 0; round < 10; ++round) {
        if (client.handshakeStep() < 0)
            return false;
        const QByteArray toServer = client.output();
        QByteArray plain;
        timer.start();
        const TlsSession::Status status = session.feed(toServer, &plain);
        const QByteArray toClient = session.takeOutput();
        *serverNs += timer.nsecsElapsed();
        if (status == TlsSession::Status::Failed)
            return false;
        client.input(toClient);
        if (session.handshakeDone() && toClient.isEmpty() && client.handshakeStep() == 1)
            return true;
    }
    return false;
}

void handshakes(const char *label, const TlsServerContext &server, int maxVersion)
{
    SSL_CTX *clientContext = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_verify(clientContext, SSL_VERIFY_NONE, nullptr);
    if (maxVersion)
        SSL_CTX_set_max_proto_version(clientContext, maxVersion);
    QElapsedTimer wall;
    wall.start();
    qint64 serverNs = 0;
    int count = 0;
    while (wall.nsecsElapsed() < kRunNs) {
        if (!handshake(clientContext, server, &serverNs)) {
            std::printf("  %s: handshake failed\n", label);
            break;
        }
        ++count;
    }
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    std::printf("  %-8s %7.0f handshakes/s on one core for both sides; server side alone %7.0f/s "
                "(%.0f us each); 1,000 logins need %.2f s of one server core\n",
                label, count / seconds, count / (double(serverNs) / 1e9), double(serverNs) / count / 1e3,
                double(serverNs) / count / 1e6);
    SSL_CTX_free(clientContext);
}

void idleMemory(const TlsServerContext &server)
{
    constexpr int kSessions = 1000;
    SSL_CTX *clientContext = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_verify(clientContext, SSL_VERIFY_NONE, nullptr);
    const long before = residentKib();
    std::vector<std::unique_ptr<TlsSession>> finished;
    std::vector<std::unique_ptr<TlsSession>> unfinished;
    for (int i = 0; i < kSessions; ++i) {
        auto session = std::make_unique<TlsSession>(server);
        MemoryClient client(clientContext);
        TlsTest::handshake(client, *session);
        finished.push_back(std::move(session));
    }
    const long afterFinished = residentKib();
    for (int i = 0; i < kSessions; ++i) {
        // A client that sent its hello and then went quiet.
        auto session = std::make_unique<TlsSession>(server);
        MemoryClient client(clientContext);
        client.handshakeStep();
        QByteArray plain;
        session->feed(client.output(), &plain);
        session->takeOutput();
        unfinished.push_back(std::move(session));
    }
    const long afterUnfinished = residentKib();
    std::printf("  memory: %.1f KiB per idle logged-in session, %.1f KiB per handshake left hanging "
                "(RSS, %d of each)\n",
                double(afterFinished - before) / kSessions, double(afterUnfinished - afterFinished) / kSessions,
                kSessions);
    SSL_CTX_free(clientContext);
}

// The gateway encrypts what a flush takes from a connection's queue in one
// write; the baseline encrypts every line alone, the floor is a memcpy.
void throughput(const TlsServerContext &server, int maxVersion, const char *label)
{
    MemoryClient client(maxVersion);
    TlsSession session(server);
    if (!TlsTest::handshake(client, session)) {
        std::printf("  handshake failed\n");
        return;
    }
    const QByteArray line = "1005 TALK someone 0010 \"a chat line of an ordinary length, say sixty\"\r\n";
    QByteArray batch;
    std::deque<QByteArray> queue;
    while (batch.size() + line.size() <= TlsSession::kRecordBytes) {
        batch += line;
        queue.push_back(line);
    }
    const qint64 linesPerBatch = batch.size() / line.size();

    QElapsedTimer timer;
    qint64 bytes = 0;
    qint64 sealed = 0;
    QByteArray lastOutput;
    timer.start();
    while (timer.nsecsElapsed() < kRunNs) {
        bytes += session.writeQueued(queue, 0);
        lastOutput = session.takeOutput();
        sealed += lastOutput.size();
    }
    const double batchSeconds = double(timer.nsecsElapsed()) / 1e9;

    qint64 lines = 0;
    timer.start();
    while (timer.nsecsElapsed() < kRunNs / 2) {
        for (int i = 0; i < 100; ++i)
            session.write(line);
        session.takeOutput();
        lines += 100;
    }
    const double lineSeconds = double(timer.nsecsElapsed()) / 1e9;

    // Decrypting: the client sends 16 KiB records, the session reads them.
    qint64 readBytes = 0;
    timer.start();
    QByteArray plain;
    while (timer.nsecsElapsed() < kRunNs / 2) {
        const QByteArray ciphertext = client.encrypt(batch);
        plain.clear();
        session.feed(ciphertext, &plain);
        readBytes += plain.size();
    }
    const double readSeconds = double(timer.nsecsElapsed()) / 1e9;

    QByteArray copy(batch.size(), Qt::Uninitialized);
    qint64 copied = 0;
    timer.start();
    while (timer.nsecsElapsed() < kRunNs / 4) {
        std::memcpy(copy.data(), batch.constData(), size_t(batch.size()));
        copied += batch.size();
    }
    const double copySeconds = double(timer.nsecsElapsed()) / 1e9;

    std::printf("  %s (%s):\n", label, qPrintable(session.cipherName()));
    std::printf("    encrypt a queue of lines, 16 KiB records: %7.0f MB/s = %5.2f M lines/s of %lld bytes (+%.1f%% on the wire)\n",
                bytes / batchSeconds / 1e6, bytes / batchSeconds / line.size() / 1e6, qint64(line.size()),
                100.0 * double(sealed - bytes) / double(bytes));
    std::printf("    encrypt one record per line (baseline): %5.2f M lines/s\n", lines / lineSeconds / 1e6);
    std::printf("    decrypt, 16 KiB records:   %7.0f MB/s\n", readBytes / readSeconds / 1e6);
    std::printf("    memcpy floor:            %9.0f MB/s (%lld lines per 16 KiB write)\n",
                copied / copySeconds / 1e6, linesPerBatch);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QString certFile;
    QString keyFile;
    if (!dir.isValid() || !TestCerts::makeCertificate(dir.path(), &certFile, &keyFile)) {
        std::fprintf(stderr, "secure_tls_bench: cannot make a test certificate (scripts/make-cert.sh)\n");
        return 1;
    }
    QString error;
    const std::unique_ptr<TlsServerContext> server = TlsServerContext::load(certFile, keyFile, &error);
    if (!server) {
        std::fprintf(stderr, "secure_tls_bench: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("TLS sessions over memory buffers, P-256 certificate from scripts/make-cert.sh, %s\n",
                OpenSSL_version(OPENSSL_VERSION));
    std::printf("Handshakes (fresh session each, no resumption):\n");
    handshakes("TLS 1.3", *server, 0);
    handshakes("TLS 1.2", *server, TLS1_2_VERSION);
    idleMemory(*server);
    std::printf("Throughput of one session:\n");
    throughput(*server, 0, "TLS 1.3");
    throughput(*server, TLS1_2_VERSION, "TLS 1.2");
    return 0;
}
