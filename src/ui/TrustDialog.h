// SPDX-License-Identifier: MIT
#pragma once

#include "session/ServerTrust.h"

#include <QDialog>

class QPushButton;

// Asks the user about a secure server that could not be verified, once the
// connection has been closed: the server, the reasons in plain words and the
// fingerprint of its key, with "Trust this server" and "Cancel".
//
// For a key that differs from the one pinned, trusting is not offered: the
// window shows both fingerprints and offers "Forget the old key". Forgetting
// trusts nothing by itself; the next connection to the server is then a first
// contact, which asks again, with the new key's fingerprint, whether to trust it.
// Two separate decisions, each with the facts in front of the user.
class TrustDialog : public QDialog
{
    Q_OBJECT

public:
    enum Choice { Cancelled, TrustServer, ForgetOldKey };

    TrustDialog(const QString &hostPort, const TrustDecision &decision, QWidget *parent = nullptr);
    Choice choice() const { return m_choice; }

    // Shows the window modally and returns what the user chose.
    static Choice ask(QWidget *parent, const QString &hostPort, const TrustDecision &decision);

private:
    QPushButton *addButton(const char *objectName, const QString &text, Choice choice);

    Choice m_choice = Cancelled;
};

// A fingerprint as the window shows it: colon-separated hex, 16 bytes to a line.
QString fingerprintLines(const QByteArray &fingerprint);
