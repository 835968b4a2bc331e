// SPDX-License-Identifier: MIT
#include "settings/PasswordKeyring.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <qt6keychain/keychain.h>

#include <memory>

namespace {

// Bus names of the keyring services QtKeychain speaks to on Linux.
const QStringList kKeyringServices{QStringLiteral("org.freedesktop.secrets"), QStringLiteral("org.kde.kwalletd5"),
                                   QStringLiteral("org.kde.kwalletd6")};

QDBusPendingCall busCall(const QDBusConnection &bus, const char *method)
{
    return bus.asyncCall(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                        QStringLiteral("/org/freedesktop/DBus"),
                                                        QStringLiteral("org.freedesktop.DBus"),
                                                        QLatin1String(method)));
}

template <typename Job>
Job *newJob(QObject *parent, const QString &key)
{
    auto *job = new Job(QLatin1String(PasswordKeyring::kService), parent);
    job->setAutoDelete(true);
    // QtKeychain could otherwise keep the password in a plain settings file.
    job->setInsecureFallback(false);
    job->setKey(key);
    return job;
}

} // namespace

PasswordKeyring::~PasswordKeyring()
{
    // A job the keyring still works on is called back later: it outlives this
    // object, and deletes itself once finished.
    for (QKeychain::Job *job : findChildren<QKeychain::Job *>(Qt::FindDirectChildrenOnly)) {
        job->disconnect(this);
        job->setParent(nullptr);
    }
}

PasswordKeyring::PasswordKeyring(QObject *parent) : QObject(parent)
{
}

QString PasswordKeyring::keyFor(const QString &name, const QString &hostPort)
{
    return name + QLatin1Char('@') + hostPort;
}

void PasswordKeyring::setAvailability(bool available, const QString &reason)
{
    m_availability = available ? Availability::Available : Availability::Unavailable;
    m_reason = available ? QString() : reason;
    emit availabilityKnown(available, m_reason);
}

void PasswordKeyring::checkAvailability()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        // Told from the event loop, like every other answer.
        QMetaObject::invokeMethod(this, [this] {
            setAvailability(false, QStringLiteral("there is no session bus (D-Bus), so no keyring can be reached"));
        }, Qt::QueuedConnection);
        return;
    }
    // Running services, and those the bus starts on demand.
    auto names = std::make_shared<QStringList>();
    auto pending = std::make_shared<int>(2);
    for (const char *method : {"ListNames", "ListActivatableNames"}) {
        auto *watcher = new QDBusPendingCallWatcher(busCall(bus, method), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, names, pending](QDBusPendingCallWatcher *w) {
            w->deleteLater();
            const QDBusPendingReply<QStringList> reply = *w;
            if (!reply.isError())
                *names += reply.value();
            if (--*pending > 0)
                return;
            for (const QString &service : kKeyringServices) {
                if (names->contains(service)) {
                    setAvailability(true, {});
                    return;
                }
            }
            setAvailability(false, QStringLiteral("no keyring service (such as GNOME Keyring or KWallet) is running"));
        });
    }
}

bool PasswordKeyring::reportFailure(const QString &key, int error, const QString &detail)
{
    switch (error) {
    case QKeychain::NoError:
        return false;
    case QKeychain::NoBackendAvailable:
        setAvailability(false, QStringLiteral("no keyring service (such as GNOME Keyring or KWallet) is running"));
        emit failed(key, m_reason);
        return true;
    case QKeychain::AccessDeniedByUser:
        emit failed(key, QStringLiteral("the keyring was not unlocked"));
        return true;
    default:
        emit failed(key, QStringLiteral("the keyring refused: %1").arg(detail));
        return true;
    }
}

void PasswordKeyring::read(const QString &key)
{
    auto *job = newJob<QKeychain::ReadPasswordJob>(this, key);
    connect(job, &QKeychain::Job::finished, this, [this, job, key] {
        if (job->error() == QKeychain::EntryNotFound) {
            emit passwordRead(key, QString(), false);
            return;
        }
        if (!reportFailure(key, job->error(), job->errorString()))
            emit passwordRead(key, job->textData(), true);
    });
    job->start();
}

void PasswordKeyring::write(const QString &key, const QString &password)
{
    auto *job = newJob<QKeychain::WritePasswordJob>(this, key);
    job->setTextData(password);
    connect(job, &QKeychain::Job::finished, this, [this, job, key] {
        if (!reportFailure(key, job->error(), job->errorString()))
            emit passwordWritten(key);
    });
    job->start();
}

void PasswordKeyring::remove(const QString &key)
{
    auto *job = newJob<QKeychain::DeletePasswordJob>(this, key);
    connect(job, &QKeychain::Job::finished, this, [this, job, key] {
        if (job->error() == QKeychain::EntryNotFound || !reportFailure(key, job->error(), job->errorString()))
            emit passwordRemoved(key);
    });
    job->start();
}

RememberBoxState rememberBoxState(PasswordKeyring::Availability availability, const QString &unavailableReason,
                                  bool storedFound)
{
    RememberBoxState state;
    state.text = QLatin1String(kRememberPassword);
    switch (availability) {
    case PasswordKeyring::Availability::Unknown:
        state.toolTip = QStringLiteral("Looking for the system keyring...");
        break;
    case PasswordKeyring::Availability::Unavailable:
        state.text = QStringLiteral("Remember password (no keyring)");
        state.toolTip = QStringLiteral("The password cannot be remembered: %1. It is never kept anywhere else.")
                            .arg(unavailableReason.isEmpty() ? QStringLiteral("no system keyring was found")
                                                             : unavailableReason);
        break;
    case PasswordKeyring::Availability::Available:
        state.enabled = true;
        state.checked = storedFound;
        state.toolTip = QStringLiteral("Keep the password in the system keyring for this name and server.");
        break;
    }
    return state;
}

RememberAction rememberAction(bool keyringAvailable, bool boxChecked, const QString &password)
{
    if (!keyringAvailable)
        return RememberAction::Nothing;
    // Nothing to remember for a name that logs in without a password.
    if (boxChecked && !password.isEmpty())
        return RememberAction::Write;
    return RememberAction::Remove;
}
