// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TorvalMain;

// Asks for the user name and password; a valid login sends the handshake
// through the main window before the dialog closes.
class FrmLogin : public QDialog
{
    Q_OBJECT

public:
    explicit FrmLogin(TorvalMain *mainWindow);

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private slots:
    void Login_Click();
    void Quit_Click();

private:
    void Form_Load();
    // "Remember password": its state from the keyring, and the stored password filled in.
    void prepareRemember();
    void showRememberState();
    void readStoredPassword();
    QString keyringKey() const;

    TorvalMain *mainWindow;
    QPushButton *Login = nullptr;
    QLineEdit *PassWordt = nullptr;
    QLineEdit *UserNamet = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Label4 = nullptr;
    QPushButton *Quit = nullptr;
    QLabel *LoginLabel = nullptr;
    QCheckBox *RememberPassword = nullptr;
    QString m_readingKey;      // the keyring entry being read
    bool m_storedFound = false; // a password is stored for the name and server shown
};
