// SPDX-License-Identifier: MIT
#pragma once

#include "Accounts.h"
#include "LoginThrottle.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>

#include <functional>

// The account check of one login, as the gateway's login flow runs it:
// the throttle first (a throttled attempt costs no hash), then the password
// on a worker thread, then the throttle learns the verdict. The answer always
// comes later, from the event loop, on this object's thread.
class LoginGate : public QObject
{
    Q_OBJECT

public:
    // What the client is told, each sent as an INFO line before the close.
    static constexpr QByteArrayView kIncorrect = "Incorrect user name or password.";
    static constexpr QByteArrayView kBusy = "The server is busy. Please try again later.";
    // %1: whole seconds, at least 1.
    static constexpr QByteArrayView kThrottled = "Too many failed logins. Please try again in %1 s.";

    enum class Result { Accepted, Refused, Throttled, Busy };
    struct Verdict
    {
        Result result = Result::Refused;
        QByteArray message; // for the client; empty when accepted
        QString logReason;  // for the gateway's log, which may say more than the client is told
    };
    using Done = std::function<void(const Verdict &)>;
    using Clock = std::function<qint64()>; // milliseconds, monotonic

    struct Options
    {
        LoginThrottle::Policy throttle;
        int maxParallelChecks = 2;
        int maxQueuedChecks = 64;
    };

    LoginGate(Accounts accounts, const Options &options, Clock clock = {}, QObject *parent = nullptr);

    // done runs unless context is destroyed first.
    void check(QObject *context, const QHostAddress &address, const QByteArray &name, const QByteArray &password,
               Done done);

    const Accounts &accounts() const { return m_verifier.accounts(); }
    const LoginThrottle &throttle() const { return m_throttle; }

private:
    qint64 now() const { return m_clock ? m_clock() : m_elapsed.elapsed(); }
    void answerLater(QObject *context, Done done, Verdict verdict);

    PasswordVerifier m_verifier;
    LoginThrottle m_throttle;
    Clock m_clock;
    QElapsedTimer m_elapsed;
};
