// SPDX-License-Identifier: MIT
#include "Accounts.h"

#include <QFile>
#include <QRegularExpression>

#include <sodium.h>

#include <cstdio>
#include <string>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr QByteArrayView kHashPrefix = "$argon2";
constexpr size_t kDigestBytes = crypto_generichash_BYTES;

// Without a check from the caller: a name is non-empty printable ASCII
// without spaces, which is what every login name is at least.
QByteArray basicNameProblem(QByteArrayView name)
{
    if (name.isEmpty())
        return "empty name";
    for (const char c : name) {
        if (c <= ' ' || c > '~')
            return "name has a space or a character that is not printable ASCII";
    }
    return {};
}

QByteArray nameProblem(QByteArrayView name, const Accounts::NameCheck &check)
{
    return check ? check(name) : basicNameProblem(name);
}

// The memory (bytes) and passes of an argon2 string, so that the dummy hash
// costs what the file's real hashes cost.
bool hashParameters(const QByteArray &hash, size_t *memLimit, quint64 *opsLimit)
{
    static const QRegularExpression parameters(QStringLiteral("\\$m=(\\d+),t=(\\d+),p=1\\$"));
    const QRegularExpressionMatch match = parameters.match(QString::fromLatin1(hash));
    if (!match.hasMatch())
        return false;
    bool memoryOk = false;
    bool passesOk = false;
    const qulonglong kib = match.captured(1).toULongLong(&memoryOk);
    const qulonglong passes = match.captured(2).toULongLong(&passesOk);
    if (!memoryOk || !passesOk || kib == 0 || passes == 0 || kib > crypto_pwhash_MEMLIMIT_MAX / 1024)
        return false;
    *memLimit = size_t(kib) * 1024;
    *opsLimit = passes;
    return true;
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    randombytes_buf(bytes.data(), size_t(size));
    return bytes;
}

// Hashing threads yield to the event loop's thread: on a busy machine a login
// waits a little longer rather than everyone's chat.
void lowerThreadPriority()
{
    thread_local bool lowered = false;
    if (!lowered) {
        ::setpriority(PRIO_PROCESS, pid_t(::syscall(SYS_gettid)), 10);
        lowered = true;
    }
}

void wipe(QByteArray &secret)
{
    if (!secret.isEmpty() && !secret.isDetached())
        secret = QByteArray(); // someone else holds the bytes; only drop our reference
    else if (!secret.isEmpty())
        sodium_memzero(secret.data(), size_t(secret.size()));
    secret.clear();
}

} // namespace

namespace PasswordHash {

bool initialise()
{
    static const bool ok = sodium_init() >= 0;
    return ok;
}

QByteArray hash(QByteArrayView password, quint64 opsLimit, size_t memLimitBytes)
{
    if (!initialise())
        return {};
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(out, password.data(), quint64(password.size()), opsLimit, memLimitBytes,
                              crypto_pwhash_ALG_ARGON2ID13)
        != 0)
        return {};
    return QByteArray(out);
}

bool isHash(QByteArrayView stored)
{
    return stored.startsWith(kHashPrefix);
}

} // namespace PasswordHash

std::optional<Accounts> Accounts::parse(QByteArrayView content, QString *error, const NameCheck &nameCheck)
{
    const auto failAt = [error](qsizetype index, const QString &why) {
        if (error)
            *error = QStringLiteral("line %1: %2").arg(index + 1).arg(why);
        return std::nullopt;
    };
    PasswordHash::initialise();
    Accounts accounts;
    QHash<QByteArray, qsizetype> lineOf;
    const QList<QByteArray> lines = content.toByteArray().split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            return failAt(i, QStringLiteral("expected name:password or name:hash"));
        const QByteArray name = line.left(colon);
        if (const QByteArray problem = nameProblem(name, nameCheck); !problem.isEmpty())
            return failAt(i, QStringLiteral("unusable name: %1").arg(QString::fromUtf8(problem)));
        if (const auto earlier = lineOf.constFind(name); earlier != lineOf.constEnd())
            return failAt(i, QStringLiteral("the name is already on line %1").arg(*earlier + 1));
        Entry entry{line.mid(colon + 1), false};
        if (entry.secret.isEmpty())
            return failAt(i, QStringLiteral("empty password"));
        entry.hashed = PasswordHash::isHash(entry.secret);
        if (entry.hashed && crypto_pwhash_str_needs_rehash(entry.secret.constData(), PasswordHash::kOpsLimit,
                                                           PasswordHash::kMemLimitBytes)
                        < 0) {
            return failAt(i, QStringLiteral("not a hash this gateway can read"));
        }
        size_t memLimit = 0;
        quint64 opsLimit = 0;
        if (entry.hashed && hashParameters(entry.secret, &memLimit, &opsLimit)
            && memLimit > PasswordHash::kMaxMemLimitBytes) {
            return failAt(i, QStringLiteral("the hash needs %1 MiB per login, more than the %2 MiB allowed")
                                     .arg(memLimit >> 20)
                                     .arg(PasswordHash::kMaxMemLimitBytes >> 20));
        }
        if (!entry.hashed)
            accounts.m_plainNames << name;
        lineOf.insert(name, i);
        accounts.m_entries.insert(name, entry);
    }
    return accounts;
}

std::optional<Accounts> Accounts::load(const QString &path, QString *error, const NameCheck &nameCheck)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QString why;
    std::optional<Accounts> accounts = parse(file.readAll(), &why, nameCheck);
    if (!accounts && error)
        *error = QStringLiteral("%1: %2").arg(path, why);
    return accounts;
}

QString Accounts::plainWarning(QByteArrayView name)
{
    return QStringLiteral("account %1 has its password in clear; replace its line with the output of "
                          "\"vesk-gateway --hash-password %1\"")
            .arg(QString::fromUtf8(name));
}

const Accounts::Entry *Accounts::find(QByteArrayView name) const
{
    const auto it = m_entries.constFind(name.toByteArray());
    return it == m_entries.constEnd() ? nullptr : &*it;
}

std::optional<QByteArray> hashPasswordLine(QByteArrayView name, QByteArrayView password, QString *error,
                                           const Accounts::NameCheck &nameCheck)
{
    const auto failWith = [error](const QString &why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (const QByteArray problem = nameProblem(name, nameCheck); !problem.isEmpty())
        return failWith(QStringLiteral("unusable name: %1").arg(QString::fromUtf8(problem)));
    if (name.contains(':'))
        return failWith(QStringLiteral("unusable name: it contains ':'"));
    if (password.isEmpty())
        return failWith(QStringLiteral("empty password"));
    const QByteArray hashed = PasswordHash::hash(password);
    if (hashed.isEmpty())
        return failWith(QStringLiteral("hashing failed (out of memory?)"));
    return name.toByteArray() + ':' + hashed;
}

int printHashedPasswordLine(QByteArrayView name, const Accounts::NameCheck &nameCheck)
{
    QByteArray password = readPasswordFromStdin();
    QString error;
    const std::optional<QByteArray> line = hashPasswordLine(name, password, &error, nameCheck);
    wipe(password);
    if (!line) {
        std::fprintf(stderr, "vesk-gateway: %s\n", qPrintable(error));
        return 2;
    }
    std::printf("%s\n", line->constData());
    return 0;
}

QByteArray firstLine(QByteArrayView input)
{
    qsizetype end = input.indexOf('\n');
    if (end < 0)
        end = input.size();
    if (end > 0 && input[end - 1] == '\r')
        --end;
    return input.first(end).toByteArray();
}

QByteArray readPasswordFromStdin()
{
    termios saved{};
    const bool terminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::fputs("Password: ", stderr);
    }
    std::string line;
    for (int c; (c = std::getchar()) != EOF && c != '\n';)
        line.push_back(char(c));
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    QByteArray password = firstLine(QByteArrayView(line.data(), qsizetype(line.size())));
    sodium_memzero(line.data(), line.size());
    return password;
}

PasswordVerifier::PasswordVerifier(Accounts accounts, int maxParallel, int maxQueued, QObject *parent)
    : QObject(parent),
      m_accounts(std::move(accounts)),
      m_maxParallel(qMax(1, maxParallel)),
      m_maxQueued(qMax(0, maxQueued))
{
    PasswordHash::initialise();
    m_pool.setMaxThreadCount(m_maxParallel);
    m_digestKey = randomBytes(crypto_generichash_KEYBYTES);

    // The dummy costs what the file's hashes cost; without hashes in the file,
    // what a new hash would cost.
    size_t memLimit = PasswordHash::kMemLimitBytes;
    quint64 opsLimit = PasswordHash::kOpsLimit;
    const auto &entries = m_accounts.entries();
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
        if (it->hashed && hashParameters(it->secret, &memLimit, &opsLimit))
            break;
    }
    m_dummyHash = PasswordHash::hash(randomBytes(32).toHex(), opsLimit, memLimit);
}

PasswordVerifier::~PasswordVerifier()
{
    m_queue.clear();
    m_pool.waitForDone(); // the verdicts they post die with this object
}

void PasswordVerifier::verify(const QByteArray &name, const QByteArray &password, QObject *context,
                              Callback callback)
{
    if (qsizetype(m_queue.size()) >= m_maxQueued && m_running >= m_maxParallel) {
        QMetaObject::invokeMethod(
                this, [context = QPointer<QObject>(context), callback = std::move(callback)] {
                    if (context)
                        callback(Verdict::Busy);
                },
                Qt::QueuedConnection);
        return;
    }
    m_queue.push_back(Job{m_accounts.find(name), password, context, std::move(callback)});
    startJobs();
}

void PasswordVerifier::startJobs()
{
    while (m_running < m_maxParallel && !m_queue.empty()) {
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        if (!job.context) {
            wipe(job.password);
            continue; // the connection went away while it waited
        }
        ++m_running;
        const quint64 id = ++m_lastId;
        // The worker gets only immutable data; the callback and its context
        // stay on this thread.
        m_pool.start([this, id, entry = job.entry, password = job.password, dummy = m_dummyHash,
                      key = m_digestKey]() mutable {
            lowerThreadPriority();
            const bool accepted = check(entry, password, dummy, key);
            wipe(password);
            QMetaObject::invokeMethod(this, [this, id, accepted] { finished(id, accepted); },
                                      Qt::QueuedConnection);
        });
        wipe(job.password);
        m_started.emplace(id, std::move(job));
    }
}

void PasswordVerifier::finished(quint64 id, bool accepted)
{
    --m_running;
    const auto it = m_started.find(id);
    if (it != m_started.end()) {
        const Job job = std::move(it->second);
        m_started.erase(it);
        if (job.context)
            job.callback(accepted ? Verdict::Accepted : Verdict::Refused);
    }
    startJobs();
}

bool PasswordVerifier::check(const Accounts::Entry *entry, const QByteArray &password,
                             const QByteArray &dummyHash, const QByteArray &digestKey)
{
    const quint64 length = quint64(password.size());
    if (entry && entry->hashed)
        return crypto_pwhash_str_verify(entry->secret.constData(), password.constData(), length) == 0;
    // Same cost as a real hash; the result means nothing.
    const bool dummyMatched =
            crypto_pwhash_str_verify(dummyHash.constData(), password.constData(), length) == 0;
    if (!entry || dummyMatched)
        return false;
    // Equal-length keyed digests, compared without an early exit.
    unsigned char given[kDigestBytes];
    unsigned char stored[kDigestBytes];
    const auto *key = reinterpret_cast<const unsigned char *>(digestKey.constData());
    crypto_generichash(given, sizeof given, reinterpret_cast<const unsigned char *>(password.constData()),
                       length, key, size_t(digestKey.size()));
    crypto_generichash(stored, sizeof stored, reinterpret_cast<const unsigned char *>(entry->secret.constData()),
                       quint64(entry->secret.size()), key, size_t(digestKey.size()));
    return sodium_memcmp(given, stored, sizeof given) == 0;
}
