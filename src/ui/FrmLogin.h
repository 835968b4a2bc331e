// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>

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

    TorvalMain *mainWindow;
    QPushButton *Login = nullptr;
    QLineEdit *PassWordt = nullptr;
    QLineEdit *UserNamet = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Label4 = nullptr;
    QPushButton *Quit = nullptr;
    QLabel *LoginLabel = nullptr;
};
