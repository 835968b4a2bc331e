// SPDX-License-Identifier: MIT
#include "session/ServerTrust.h"

#include <QCryptographicHash>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

namespace {

// One DER element: where its contents start and how long they are.
struct DerElement {
    quint8 tag = 0;
    qsizetype start = 0;   // first byte of the element (its tag)
    qsizetype content = 0; // first byte of its contents
    qsizetype end = 0;     // one past its last byte
};

bool readElement(QByteArrayView der, qsizetype at, qsizetype limit, DerElement *out)
{
    if (at + 2 > limit)
        return false;
    out->tag = static_cast<quint8>(der[at]);
    out->start = at;
    qsizetype length = static_cast<quint8>(der[at + 1]);
    qsizetype pos = at + 2;
    if (length & 0x80) {
        const int octets = length & 0x7f;
        if (octets == 0 || octets > 4 || pos + octets > limit)
            return false; // indefinite lengths are not DER; four octets are plenty
        length = 0;
        for (int i = 0; i < octets; ++i)
            length = (length << 8) | static_cast<quint8>(der[pos++]);
    }
    if (length > limit - pos)
        return false;
    out->content = pos;
    out->end = pos + length;
    return true;
}

constexpr quint8 kSequence = 0x30;
constexpr quint8 kInteger = 0x02;
constexpr quint8 kVersionTag = 0xa0; // [0] EXPLICIT

// Errors that a pinned key does not excuse.
bool isHardError(QSslError::SslError error)
{
    switch (error) {
    case QSslError::NoPeerCertificate:
    case QSslError::CertificateRevoked:
    case QSslError::CertificateBlacklisted:
    case QSslError::NoSslSupport:
    case QSslError::UnspecifiedError:
    case QSslError::CertificateStatusUnknown:
    case QSslError::OcspNoResponseFound:
    case QSslError::OcspMalformedRequest:
    case QSslError::OcspMalformedResponse:
    case QSslError::OcspInternalError:
    case QSslError::OcspTryLater:
    case QSslError::OcspSigRequred:
    case QSslError::OcspUnauthorized:
    case QSslError::OcspResponseCannotBeTrusted:
    case QSslError::OcspResponseCertIdUnknown:
    case QSslError::OcspResponseExpired:
    case QSslError::OcspStatusUnknown:
        return true;
    default:
        return false;
    }
}

QString dayOf(const QDateTime &when)
{
    return when.toUTC().toString(QStringLiteral("yyyy-MM-dd"));
}

// The names a certificate is made out to: its alternative names, else its common name.
QStringList certificateNames(const QSslCertificate &certificate)
{
    QStringList names;
    const auto alternatives = certificate.subjectAlternativeNames();
    for (auto it = alternatives.cbegin(); it != alternatives.cend(); ++it) {
        if (it.key() == QSsl::DnsEntry || it.key() == QSsl::IpAddressEntry)
            names << it.value();
    }
    if (names.isEmpty())
        names = certificate.subjectInfo(QSslCertificate::CommonName);
    names.removeDuplicates();
    return names;
}

void addReason(QStringList &reasons, const QString &reason)
{
    if (!reasons.contains(reason))
        reasons << reason;
}

} // namespace

QByteArray subjectPublicKeyInfo(QByteArrayView der)
{
    DerElement certificate, tbs, field;
    if (!readElement(der, 0, der.size(), &certificate) || certificate.tag != kSequence)
        return {};
    if (!readElement(der, certificate.content, certificate.end, &tbs) || tbs.tag != kSequence)
        return {};
    // version (optional), serialNumber, signature, issuer, validity, subject, subjectPublicKeyInfo
    qsizetype at = tbs.content;
    if (!readElement(der, at, tbs.end, &field))
        return {};
    if (field.tag == kVersionTag) {
        at = field.end;
        if (!readElement(der, at, tbs.end, &field))
            return {};
    }
    if (field.tag != kInteger)
        return {};
    for (int i = 0; i < 5; ++i) {
        at = field.end;
        if (!readElement(der, at, tbs.end, &field) || field.tag != kSequence)
            return {};
    }
    return der.sliced(field.start, field.end - field.start).toByteArray();
}

QByteArray keyFingerprint(const QSslCertificate &certificate)
{
    if (certificate.isNull())
        return {};
    QByteArray key = subjectPublicKeyInfo(certificate.toDer());
    if (key.isEmpty())
        key = certificate.publicKey().toDer();
    if (key.isEmpty())
        return {};
    return QCryptographicHash::hash(key, QCryptographicHash::Sha256);
}

QString tlsErrorReason(const QSslError &error, const QString &host)
{
    const QSslCertificate certificate = error.certificate();
    switch (error.error()) {
    case QSslError::SelfSignedCertificate:
        return QStringLiteral("the server's certificate is signed by itself, not by an authority this computer trusts");
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::UnableToVerifyFirstCertificate:
        return QStringLiteral("the server's certificate was issued by an authority this computer does not know");
    case QSslError::HostNameMismatch: {
        const QStringList names = certificateNames(certificate);
        if (names.isEmpty())
            return QStringLiteral("the certificate is not made out to %1").arg(host);
        return QStringLiteral("the certificate is made out to %1, not to %2").arg(names.join(QLatin1String(", ")), host);
    }
    case QSslError::CertificateExpired:
        if (certificate.isNull())
            return QStringLiteral("the certificate has expired");
        return QStringLiteral("the certificate expired on %1").arg(dayOf(certificate.expiryDate()));
    case QSslError::CertificateNotYetValid:
        if (certificate.isNull())
            return QStringLiteral("the certificate is not valid yet");
        return QStringLiteral("the certificate is not valid before %1").arg(dayOf(certificate.effectiveDate()));
    case QSslError::InvalidNotBeforeField:
    case QSslError::InvalidNotAfterField:
        return QStringLiteral("the certificate's dates cannot be read");
    case QSslError::CertificateSignatureFailed:
    case QSslError::UnableToDecryptCertificateSignature:
    case QSslError::UnableToDecodeIssuerPublicKey:
        return QStringLiteral("the signature on the server's certificate does not check out");
    case QSslError::NoPeerCertificate:
        return QStringLiteral("the server sent no certificate");
    case QSslError::CertificateRevoked:
        return QStringLiteral("the server's certificate has been revoked by its issuer");
    case QSslError::CertificateBlacklisted:
        return QStringLiteral("the server's certificate is known to be compromised");
    case QSslError::CertificateUntrusted:
    case QSslError::CertificateRejected:
    case QSslError::InvalidCaCertificate:
    case QSslError::PathLengthExceeded:
    case QSslError::InvalidPurpose:
    case QSslError::SubjectIssuerMismatch:
    case QSslError::AuthorityIssuerSerialNumberMismatch:
        return QStringLiteral("the server's chain of certificates is not valid (%1)").arg(error.errorString());
    default:
        return error.errorString();
    }
}

TrustDecision decideTrust(const QList<QSslError> &errors, const QString &host, const QByteArray &fingerprint,
                          const PinLookup &pin)
{
    TrustDecision decision;
    decision.fingerprint = fingerprint;
    if (fingerprint.isEmpty()) {
        decision.kind = TrustDecision::Refuse;
        decision.reasons << QStringLiteral("the server sent no certificate");
        return decision;
    }
    for (const QSslError &error : errors) {
        if (isHardError(error.error()))
            addReason(decision.reasons, tlsErrorReason(error, host));
    }
    if (!decision.reasons.isEmpty()) {
        decision.kind = TrustDecision::Refuse;
        return decision;
    }
    if (pin.verdict == PinVerdict::Changed) {
        decision.kind = TrustDecision::RefuseChanged;
        decision.pinned = pin.pinned;
        decision.reasons << QStringLiteral("the server's key is not the one you chose to trust for it before");
        return decision;
    }
    if (errors.isEmpty() || pin.verdict == PinVerdict::Trusted) {
        decision.kind = TrustDecision::Accept;
        return decision;
    }
    decision.kind = TrustDecision::AskTrust;
    for (const QSslError &error : errors)
        addReason(decision.reasons, tlsErrorReason(error, host));
    return decision;
}

QString tlsProtocolName(QSsl::SslProtocol protocol)
{
    switch (protocol) {
    case QSsl::TlsV1_2:
        return QStringLiteral("TLS 1.2");
    case QSsl::TlsV1_3:
        return QStringLiteral("TLS 1.3");
    case QSsl::DtlsV1_2:
        return QStringLiteral("DTLS 1.2");
    default:
        return {};
    }
}

QString connectionSecurityNotice(const QString &hostPort, bool secure, QSsl::SslProtocol protocol)
{
    if (!secure)
        return QStringLiteral("Connected to %1 without encryption").arg(hostPort);
    const QString name = tlsProtocolName(protocol);
    return name.isEmpty() ? QStringLiteral("Connected securely to %1").arg(hostPort)
                          : QStringLiteral("Connected securely to %1 (%2)").arg(hostPort, name);
}

bool looksLikeTls(QByteArrayView bytes)
{
    // A record header: content type (alert 21, handshake 22), major version 3, minor 0 to 4.
    return bytes.size() >= 3 && (bytes[0] == 21 || bytes[0] == 22) && bytes[1] == 3 && bytes[2] >= 0 && bytes[2] <= 4;
}

ServerTrustCheck::ServerTrustCheck(QSslSocket *socket, KnownHosts *knownHosts, const QString &host,
                                   const QString &hostPort, QObject *parent)
    : QObject(parent), m_socket(socket), m_knownHosts(knownHosts), m_host(host), m_hostPort(hostPort)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &ServerTrustCheck::onTimeout);
    connect(socket, &QSslSocket::connected, this, &ServerTrustCheck::onConnected);
    connect(socket, &QSslSocket::sslErrors, this, &ServerTrustCheck::onSslErrors);
    connect(socket, &QSslSocket::encrypted, this, &ServerTrustCheck::onEncrypted);
    connect(socket, &QSslSocket::errorOccurred, this, &ServerTrustCheck::onError);
    connect(socket, &QSslSocket::disconnected, this, [this] {
        if (m_deadline.isActive() || m_decided)
            finish();
    });
}

void ServerTrustCheck::onConnected()
{
    m_decided = false;
    m_reported = false;
    m_failure.clear();
    m_decision = {};
    m_deadline.start(m_timeoutMs);
}

TrustDecision ServerTrustCheck::decideFor(const QList<QSslError> &errors)
{
    const QByteArray fingerprint = keyFingerprint(m_socket->peerCertificate());
    const PinLookup pin = fingerprint.isEmpty() ? PinLookup{} : m_knownHosts->lookup(m_hostPort, fingerprint);
    return decideTrust(errors, m_host, fingerprint, pin);
}

void ServerTrustCheck::onSslErrors(const QList<QSslError> &errors)
{
    m_decision = decideFor(errors);
    if (m_decision.kind == TrustDecision::Accept) {
        // The exact failures of a key pinned for this server, nothing more.
        m_socket->ignoreSslErrors(errors);
        return;
    }
    // Not ignored: the socket ends the handshake and closes; finish() reports.
    m_decided = true;
}

void ServerTrustCheck::onEncrypted()
{
    if (m_reported)
        return;
    const bool checkedAlready = m_decision.kind == TrustDecision::Accept && !m_decision.fingerprint.isEmpty();
    if (!checkedAlready)
        m_decision = decideFor({});
    if (m_decision.kind != TrustDecision::Accept) {
        m_decided = true;
        // At once: nothing already written to the socket may follow the
        // handshake out to a server that is not trusted.
        m_socket->abort();
        finish();
        return;
    }
    m_deadline.stop();
    m_reported = true;
    emit trusted();
}

void ServerTrustCheck::onError()
{
    if (m_reported || !m_deadline.isActive())
        return; // not connected yet (the session reports that), or past the handshake
    if (!m_decided) {
        const auto error = m_socket->error();
        const QString detail = m_socket->errorString();
        if (error == QAbstractSocket::SslHandshakeFailedError)
            m_failure = QStringLiteral("the server at %1 did not complete a secure handshake (%2); it may not offer "
                                       "secure connections on this port")
                            .arg(m_hostPort, detail);
        else if (error == QAbstractSocket::RemoteHostClosedError)
            m_failure = QStringLiteral("the server at %1 closed the connection during the secure handshake; it may "
                                       "not offer secure connections on this port")
                            .arg(m_hostPort);
        else
            m_failure = QStringLiteral("the secure handshake with %1 failed: %2").arg(m_hostPort, detail);
    }
    finish();
}

void ServerTrustCheck::onTimeout()
{
    if (m_reported)
        return;
    m_failure = QStringLiteral("the server at %1 did not complete a secure handshake within %2 seconds; it may be a "
                               "plain chat server (those take entries without tls://)")
                    .arg(m_hostPort)
                    .arg(m_timeoutMs / 1000.0);
    m_decided = false;
    finish();
}

void ServerTrustCheck::finish()
{
    if (m_reported)
        return;
    m_reported = true;
    m_deadline.stop();
    // Reported from the event loop, outside the socket's callbacks, after the socket is closed.
    QTimer::singleShot(0, this, [this] {
        if (m_socket && m_socket->state() != QAbstractSocket::UnconnectedState)
            m_socket->abort();
        if (m_decided)
            emit untrusted(m_decision);
        else
            emit handshakeFailed(m_failure.isEmpty() ? QStringLiteral("the server at %1 closed the connection during "
                                                                      "the secure handshake")
                                                           .arg(m_hostPort)
                                                     : m_failure);
    });
}
