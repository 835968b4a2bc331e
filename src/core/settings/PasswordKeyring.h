// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>

// Passwords kept in the system keyring (the Secret Service: GNOME Keyring,
// KeePassXC...; or KWallet) through QtKeychain, under the service "VeskChat",
// one entry per user name and server. Nothing is ever written anywhere else:
// without a keyring the password is simply not remembered.
//
// Every operation is asynchronous (a keyring may have to be unlocked first)
// and answers with exactly one signal.
class PasswordKeyring : public QObject
{
    Q_OBJECT

public:
    static constexpr char kService[] = "VeskChat";

    explicit PasswordKeyring(QObject *parent = nullptr);
    ~PasswordKeyring() override;

    // The entry's name: "name@host:port" (hostPort as ServerEntry::hostPort() writes it).
    static QString keyFor(const QString &name, const QString &hostPort);

    enum class Availability { Unknown, Available, Unavailable };
    Availability availability() const { return m_availability; }
    // Why there is no keyring, in plain words; empty while there may be one.
    QString unavailableReason() const { return m_reason; }
    // Looks on the session bus for a keyring service; answers with availabilityKnown.
    void checkAvailability();

    void read(const QString &key);
    void write(const QString &key, const QString &password);
    void remove(const QString &key);

signals:
    void availabilityKnown(bool available, const QString &reason);
    // found is false when nothing is stored under key.
    void passwordRead(const QString &key, const QString &password, bool found);
    void passwordWritten(const QString &key);
    // Also when nothing was stored.
    void passwordRemoved(const QString &key);
    void failed(const QString &key, const QString &reason);

private:
    void setAvailability(bool available, const QString &reason);
    // Handles a job's failure; true when there was one.
    bool reportFailure(const QString &key, int error, const QString &detail);

    Availability m_availability = Availability::Unknown;
    QString m_reason;
};

// What the login dialog's "Remember password" box shows.
struct RememberBoxState {
    bool enabled = false;
    bool checked = false;
    QString text;    // the box's caption
    QString toolTip; // why it is disabled, when it is
};

inline constexpr char kRememberPassword[] = "Remember password";

// storedFound: a password for this name and server was found in the keyring.
RememberBoxState rememberBoxState(PasswordKeyring::Availability availability, const QString &unavailableReason,
                                  bool storedFound);

// What a login does to the keyring: remember the password typed, forget the
// one stored (the box was turned off), or nothing.
enum class RememberAction { Nothing, Write, Remove };
RememberAction rememberAction(bool keyringAvailable, bool boxChecked, const QString &password);
