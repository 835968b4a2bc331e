// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>

#include <deque>
#include <functional>
#include <optional>
#include <unordered_map>

// Password hashes: argon2id through libsodium's crypto_pwhash_str.
//
// Parameters: OWASP's first argon2id choice, 19 MiB of memory and 2 passes,
// one lane. It costs roughly 30-60 ms of one core per login here, so a
// guesser gets at most a few dozen tries per second out of the whole server
// (and the login throttle cuts that down per name), while a real login feels
// instant. With at most two verifications at once the hashes never hold more
// than about 40 MiB, which keeps the gateway far below 100 MB under a login
// burst. libsodium's "interactive" preset (64 MiB) would triple that.
namespace PasswordHash {

inline constexpr quint64 kOpsLimit = 2;
inline constexpr size_t kMemLimitBytes = 19 * 1024 * 1024;
// A hash in the accounts file may ask for more, but not for more than this:
// every login to it allocates that much.
inline constexpr size_t kMaxMemLimitBytes = 256 * 1024 * 1024;

// Initialises libsodium once; false when it cannot run here.
bool initialise();
// An argon2id string for the password, or an empty array when hashing failed.
QByteArray hash(QByteArrayView password, quint64 opsLimit = kOpsLimit, size_t memLimitBytes = kMemLimitBytes);
bool isHash(QByteArrayView stored);

} // namespace PasswordHash

// The accounts file: one "name:secret" per line, where the secret is an
// argon2id string ("$argon2id$...") or, in files written before hashes
// existed, the password itself. Blank lines and lines starting with '#' are
// skipped.
class Accounts
{
public:
    // Why a name cannot be an account name, or an empty array when it can.
    using NameCheck = std::function<QByteArray(QByteArrayView)>;

    struct Entry
    {
        QByteArray secret;
        bool hashed = false;
    };

    // Nullopt and "line N: ..." in *error at the first malformed line: no
    // colon, an unusable name, a name given twice, an empty password, a hash
    // libsodium cannot read, or one that needs more than kMaxMemLimitBytes.
    static std::optional<Accounts> parse(QByteArrayView content, QString *error = nullptr,
                                         const NameCheck &nameCheck = {});

    // parse() on a file; errors start with the file's name.
    static std::optional<Accounts> load(const QString &path, QString *error = nullptr,
                                        const NameCheck &nameCheck = {});
    // The start-up warning for one name of plainNames().
    static QString plainWarning(QByteArrayView name);

    const Entry *find(QByteArrayView name) const;
    qsizetype size() const { return m_entries.size(); }
    // Names whose password is stored in clear, in file order, to be named in
    // one warning each at start.
    QByteArrayList plainNames() const { return m_plainNames; }
    const QHash<QByteArray, Entry> &entries() const { return m_entries; }

private:
    QHash<QByteArray, Entry> m_entries;
    QByteArrayList m_plainNames;
};

// "name:$argon2id$..." for the accounts file, or nullopt and *error when the
// name is unusable, the password is empty or hashing failed.
std::optional<QByteArray> hashPasswordLine(QByteArrayView name, QByteArrayView password, QString *error = nullptr,
                                           const Accounts::NameCheck &nameCheck = {});

// `vesk-gateway --hash-password NAME`: reads the password from standard
// input, prints "NAME:$argon2id$..." on standard output and returns 0, or
// prints why not on standard error and returns 2. The name is an argument and
// the password never is, so it cannot show up in the process list or the
// shell history.
int printHashedPasswordLine(QByteArrayView name, const Accounts::NameCheck &nameCheck = {});

// The password given on standard input: its first line without the line end.
// When the input is a terminal, typing is not echoed.
QByteArray readPasswordFromStdin();
QByteArray firstLine(QByteArrayView input);

// Checks passwords off the event loop. At most maxParallel argon2id
// verifications run at once on worker threads, at most maxQueued wait behind
// them; the verdict comes back on this object's thread, always later than the
// verify() call.
//
// Every check costs exactly one argon2id verification, whatever the name: an
// unknown name is verified against a dummy hash made at start, a plain entry
// verifies the dummy and then compares digests of both passwords in constant
// time. So neither the time nor the memory of a refusal tells whether the
// name exists or how its password is stored.
class PasswordVerifier : public QObject
{
    Q_OBJECT

public:
    enum class Verdict { Accepted, Refused, Busy };
    using Callback = std::function<void(Verdict)>;

    explicit PasswordVerifier(Accounts accounts, int maxParallel = 2, int maxQueued = 64,
                              QObject *parent = nullptr);
    // Waits for the hashes that are running; queued checks are dropped unanswered.
    ~PasswordVerifier() override;

    // Queues a check. The callback runs on this object's thread unless context
    // is destroyed first. When the queue is full the answer is Busy (still
    // delivered later, never from inside this call).
    void verify(const QByteArray &name, const QByteArray &password, QObject *context, Callback callback);

    const Accounts &accounts() const { return m_accounts; }
    int running() const { return m_running; }
    qsizetype queued() const { return qsizetype(m_queue.size()); }
    // Hashes started so far; checks whose connection closed while they waited are not run.
    quint64 checksStarted() const { return m_lastId; }

private:
    struct Job
    {
        const Accounts::Entry *entry = nullptr; // null: unknown name
        QByteArray password;
        QPointer<QObject> context;
        Callback callback;
    };

    void startJobs();
    void finished(quint64 id, bool accepted);
    static bool check(const Accounts::Entry *entry, const QByteArray &password, const QByteArray &dummyHash,
                      const QByteArray &digestKey);

    const Accounts m_accounts;
    QByteArray m_dummyHash;
    QByteArray m_digestKey;
    QThreadPool m_pool;
    std::deque<Job> m_queue;
    std::unordered_map<quint64, Job> m_started;
    quint64 m_lastId = 0;
    int m_running = 0;
    const int m_maxParallel;
    const qsizetype m_maxQueued;
};
