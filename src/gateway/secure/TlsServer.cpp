// SPDX-License-Identifier: MIT
#include "TlsServer.h"

#include <QFile>
#include <QFileInfo>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

namespace {

// Forward secrecy and authenticated encryption only for TLS 1.2; TLS 1.3 has
// only such suites and keeps OpenSSL's default list.
constexpr char kTls12Ciphers[] = "ECDHE+AESGCM:ECDHE+CHACHA20:!aNULL";
// A memory buffer that grew past this for one burst is replaced once it is
// empty, so a connection does not keep its largest burst's memory for life.
constexpr size_t kKeepBufferBytes = 64 * 1024;

// The reason of the most recent OpenSSL error, and the error queue emptied.
QString takeOpenSslError()
{
    unsigned long code = 0;
    unsigned long last = 0;
    while ((code = ERR_get_error()) != 0)
        last = code;
    if (last == 0)
        return QStringLiteral("unknown error");
    const char *reason = ERR_reason_error_string(last);
    return reason ? QString::fromLatin1(reason) : QStringLiteral("error %1").arg(last, 0, 16);
}

// An encrypted key must fail at start, not ask for a passphrase on the terminal.
int noPassphrase(char *, int, int, void *)
{
    return 0;
}

// Why a file cannot be read, or an empty string.
QString unreadable(const QString &path)
{
    if (QFileInfo(path).isDir())
        return QStringLiteral("is a folder");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    if (file.size() == 0)
        return QStringLiteral("is empty");
    return {};
}

EVP_PKEY *readPrivateKey(const QByteArray &path)
{
    BIO *file = BIO_new_file(path.constData(), "r");
    if (!file)
        return nullptr;
    EVP_PKEY *key = PEM_read_bio_PrivateKey(file, nullptr, noPassphrase, nullptr);
    BIO_free(file);
    return key;
}

bio_st *newMemoryBio()
{
    bio_st *bio = BIO_new(BIO_s_mem());
    if (bio)
        BIO_set_mem_eof_return(bio, -1); // empty means "more later", never end of stream
    return bio;
}

size_t bufferCapacity(bio_st *bio)
{
    BUF_MEM *memory = nullptr;
    BIO_get_mem_ptr(bio, &memory);
    return memory ? memory->max : 0;
}

} // namespace

std::unique_ptr<TlsServerContext> TlsServerContext::load(const QString &certFile, const QString &keyFile,
                                                         QString *error)
{
    const auto failWith = [error](const QString &message) {
        if (error)
            *error = message;
        return nullptr;
    };
    if (const QString problem = unreadable(certFile); !problem.isEmpty())
        return failWith(QStringLiteral("TLS certificate %1: %2").arg(certFile, problem));
    if (const QString problem = unreadable(keyFile); !problem.isEmpty())
        return failWith(QStringLiteral("TLS key %1: %2").arg(keyFile, problem));

    ERR_clear_error();
    SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx)
        return failWith(QStringLiteral("TLS: cannot create a context: %1").arg(takeOpenSslError()));
    std::unique_ptr<TlsServerContext> context(new TlsServerContext(ctx));

    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION | SSL_OP_NO_TICKET);
    // Idle connections give their record buffers back; the memory BIOs grow as
    // needed, so every write completes at once.
    SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS);
    // Every login is a fresh handshake: no session cache or tickets to grow.
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_num_tickets(ctx, 0);
    SSL_CTX_set_default_passwd_cb(ctx, noPassphrase);
    if (SSL_CTX_set_cipher_list(ctx, kTls12Ciphers) != 1)
        return failWith(QStringLiteral("TLS: cipher list rejected: %1").arg(takeOpenSslError()));

    const QByteArray certPath = QFile::encodeName(certFile);
    const QByteArray keyPath = QFile::encodeName(keyFile);
    if (SSL_CTX_use_certificate_chain_file(ctx, certPath.constData()) != 1) {
        return failWith(QStringLiteral("TLS certificate %1: not a usable PEM certificate (%2)")
                                .arg(certFile, takeOpenSslError()));
    }
    EVP_PKEY *key = readPrivateKey(keyPath);
    if (!key) {
        return failWith(QStringLiteral("TLS key %1: not a usable PEM private key without a passphrase (%2)")
                                .arg(keyFile, takeOpenSslError()));
    }
    const bool keyTaken = SSL_CTX_use_PrivateKey(ctx, key) == 1;
    EVP_PKEY_free(key);
    if (!keyTaken || SSL_CTX_check_private_key(ctx) != 1) {
        return failWith(QStringLiteral("TLS key %1 does not belong to the certificate %2 (%3)")
                                .arg(keyFile, certFile, takeOpenSslError()));
    }
    return context;
}

TlsServerContext::~TlsServerContext()
{
    SSL_CTX_free(m_ctx);
}

TlsSession::TlsSession(const TlsServerContext &context)
{
    ERR_clear_error();
    m_ssl = SSL_new(context.handle());
    m_in = newMemoryBio();
    m_out = newMemoryBio();
    if (!m_ssl || !m_in || !m_out) {
        BIO_free(m_in);
        BIO_free(m_out);
        m_in = m_out = nullptr;
        m_failed = true;
        m_error = QStringLiteral("cannot create a TLS session: %1").arg(takeOpenSslError());
        return;
    }
    SSL_set_bio(m_ssl, m_in, m_out); // the session owns both from here on
    SSL_set_accept_state(m_ssl);
}

TlsSession::~TlsSession()
{
    SSL_free(m_ssl);
}

TlsSession::Status TlsSession::feed(QByteArrayView ciphertext, QByteArray *plaintext)
{
    if (m_failed)
        return Status::Failed;
    if (!ciphertext.isEmpty()) {
        size_t written = 0;
        if (BIO_write_ex(m_in, ciphertext.data(), size_t(ciphertext.size()), &written) != 1
            || written != size_t(ciphertext.size())) {
            m_failed = true;
            m_error = QStringLiteral("out of memory for TLS input");
            return Status::Failed;
        }
    }
    const Status result = pump(plaintext);
    if (!m_failed && BIO_ctrl_pending(m_in) == 0 && bufferCapacity(m_in) > kKeepBufferBytes) {
        m_in = newMemoryBio();
        if (!m_in) {
            m_failed = true;
            m_error = QStringLiteral("out of memory for TLS input");
            return Status::Failed;
        }
        SSL_set0_rbio(m_ssl, m_in);
    }
    return result;
}

TlsSession::Status TlsSession::pump(QByteArray *plaintext)
{
    if (!m_handshakeDone) {
        ERR_clear_error();
        const int result = SSL_do_handshake(m_ssl);
        if (result != 1) {
            const int error = SSL_get_error(m_ssl, result);
            if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
                return Status::Ok;
            return fail(error);
        }
        m_handshakeDone = true;
        if (!m_early.isEmpty()) {
            const QByteArray early = std::exchange(m_early, QByteArray());
            if (encrypt(early) == Status::Failed)
                return Status::Failed;
        }
    }
    // Read until OpenSSL wants more input: every complete record, and what is
    // left of one decrypted record in its own buffer, comes out now.
    char buffer[16 * 1024];
    while (!m_peerClosed) {
        size_t got = 0;
        ERR_clear_error();
        const int result = SSL_read_ex(m_ssl, buffer, sizeof buffer, &got);
        if (result == 1) {
            plaintext->append(buffer, qsizetype(got));
            continue;
        }
        const int error = SSL_get_error(m_ssl, result);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
            break;
        if (error == SSL_ERROR_ZERO_RETURN) {
            m_peerClosed = true;
            shutdown();
            break;
        }
        return fail(error);
    }
    return status();
}

TlsSession::Status TlsSession::write(QByteArrayView plaintext)
{
    if (m_failed || m_peerClosed || m_shutdownSent || plaintext.isEmpty())
        return status();
    if (!m_handshakeDone) {
        if (m_early.size() + plaintext.size() > kMaxEarlyBytes) {
            m_failed = true;
            m_error = QStringLiteral("more than %1 bytes to send before the TLS handshake finished")
                              .arg(kMaxEarlyBytes);
            return Status::Failed;
        }
        m_early.append(plaintext);
        return Status::Ok;
    }
    return encrypt(plaintext);
}

qsizetype TlsSession::writeQueued(const std::deque<QByteArray> &queue, qsizetype frontOffset, qsizetype maxBytes)
{
    if (m_failed || m_peerClosed || m_shutdownSent)
        return 0;
    // One buffer per thread, not per connection: idle connections keep nothing.
    thread_local QByteArray gather;
    gather.resize(0); // keeps the capacity
    qsizetype offset = frontOffset;
    for (auto it = queue.cbegin(); it != queue.cend() && gather.size() < maxBytes; ++it) {
        const qsizetype take = qMin(it->size() - offset, maxBytes - gather.size());
        gather.append(it->constData() + offset, take);
        offset = 0;
    }
    if (gather.isEmpty() || write(gather) == Status::Failed)
        return 0;
    return gather.size();
}

TlsSession::Status TlsSession::encrypt(QByteArrayView plaintext)
{
    size_t written = 0;
    ERR_clear_error();
    // The memory BIO takes everything, so the write is never partial.
    const int result = SSL_write_ex(m_ssl, plaintext.data(), size_t(plaintext.size()), &written);
    if (result != 1)
        return fail(SSL_get_error(m_ssl, result));
    return status();
}

void TlsSession::shutdown()
{
    if (m_failed || !m_handshakeDone || m_shutdownSent)
        return;
    m_shutdownSent = true;
    ERR_clear_error();
    SSL_shutdown(m_ssl); // writes close-notify; the peer's answer is not awaited
    ERR_clear_error();
}

QByteArray TlsSession::takeOutput()
{
    if (!m_out)
        return {};
    const size_t pending = BIO_ctrl_pending(m_out);
    QByteArray output;
    if (pending > 0) {
        output.resize(qsizetype(pending));
        size_t got = 0;
        BIO_read_ex(m_out, output.data(), pending, &got);
        output.truncate(qsizetype(got));
    }
    if (bufferCapacity(m_out) > kKeepBufferBytes && BIO_ctrl_pending(m_out) == 0) {
        if (bio_st *fresh = newMemoryBio()) {
            m_out = fresh;
            SSL_set0_wbio(m_ssl, m_out);
        }
    }
    return output;
}

qsizetype TlsSession::pendingOutput() const
{
    return m_out ? qsizetype(BIO_ctrl_pending(m_out)) : 0;
}

QString TlsSession::protocolName() const
{
    return m_handshakeDone ? QString::fromLatin1(SSL_get_version(m_ssl)) : QString();
}

QString TlsSession::cipherName() const
{
    return m_handshakeDone ? QString::fromLatin1(SSL_get_cipher_name(m_ssl)) : QString();
}

TlsSession::Status TlsSession::fail(int sslError)
{
    m_failed = true;
    switch (sslError) {
    case SSL_ERROR_SSL:
        m_error = takeOpenSslError();
        break;
    case SSL_ERROR_SYSCALL:
        m_error = QStringLiteral("TLS stream ended unexpectedly");
        ERR_clear_error();
        break;
    default:
        m_error = QStringLiteral("TLS error %1").arg(sslError);
        ERR_clear_error();
        break;
    }
    if (!m_handshakeDone)
        m_error = QStringLiteral("TLS handshake failed: ") + m_error;
    return Status::Failed;
}

TlsSession::Status TlsSession::status() const
{
    if (m_failed)
        return Status::Failed;
    return m_peerClosed ? Status::Closed : Status::Ok;
}
