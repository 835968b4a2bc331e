// SPDX-License-Identifier: MIT
#include "ui/FrmLogin.h"

#include "session/ChatSession.h"
#include "session/LoginRules.h"
#include "settings/PasswordKeyring.h"
#include "settings/Settings.h"
#include "ui/DesignStyle.h"
#include "ui/Dialogs.h"
#include "ui/TorvalMain.h"
#include "ui/Images.h"
#include "ui/Twips.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

namespace {
constexpr char kMissingName[] = "Must Enter a Username to Login";
constexpr char kMissingPassword[] = "Must Enter a Password to Login";
} // namespace

FrmLogin::FrmLogin(TorvalMain *mainWindow)
    : QDialog(mainWindow), mainWindow(mainWindow)
{
    setObjectName(QStringLiteral("FrmLogin"));
    setWindowTitle(QStringLiteral("Login"));
    setWindowIcon(appIcon());
    setFont(designFont(8.25));
    // The design's height, and below it a row for "Remember password".
    resize(twipsToPixels(5895), twipsToPixels(1935 + 360));

    auto button = [this](QPushButton *&member, const char *name, TwipsRect r) {
        member = new QPushButton(QLatin1String(name), this);
        member->setObjectName(QLatin1String(name));
        // Neither button is default: Enter in a text box presses nothing.
        member->setAutoDefault(false);
        placeTwips(member, r.left, r.top, r.width, r.height);
    };
    auto textBox = [this](QLineEdit *&member, const char *name, const char *accessible, TwipsRect r) {
        member = new QLineEdit(this);
        member->setObjectName(QLatin1String(name));
        member->setAccessibleName(QLatin1String(accessible));
        member->setFont(designFont(9.75, true));
        blackOnWhite(member);
        placeTwips(member, r.left, r.top, r.width, r.height);
    };
    auto label = [this](QLabel *&member, const char *name, const char *text, TwipsRect r) {
        member = new QLabel(QLatin1String(text), this);
        member->setObjectName(QLatin1String(name));
        member->setTextFormat(Qt::PlainText);
        // Transparent over the dialog's face, which is the system's: the
        // system's text colour for that face reads there (black on a light one).
        placeTwips(member, r.left, r.top, r.width, r.height);
    };

    LoginLabel = new QLabel(this);
    LoginLabel->setObjectName(QStringLiteral("LoginLabel"));
    LoginLabel->setAutoFillBackground(true);
    LoginLabel->setAlignment(Qt::AlignCenter);
    LoginLabel->setFont(designFont(18));
    placeTwips(LoginLabel, -120, 0, 1695, 615);

    button(Login, "Login", {2040, 1440, 2055, 375});
    textBox(PassWordt, "PassWordt", "Password", {2880, 960, 2055, 285});
    PassWordt->setEchoMode(QLineEdit::Password);
    PassWordt->setAttribute(Qt::WA_InputMethodEnabled, false);
    textBox(UserNamet, "UserNamet", "Username", {600, 960, 2055, 285});
    UserNamet->setText(QStringLiteral("Guest"));
    label(Label5, "Label5", "Password", {2880, 720, 855, 255});
    label(Label4, "Label4", "Username", {600, 720, 975, 255});
    button(Quit, "Quit", {4440, 120, 1335, 255});

    setTabOrder(Login, PassWordt);
    setTabOrder(PassWordt, UserNamet);
    RememberPassword = new QCheckBox(QLatin1String(kRememberPassword), this);
    RememberPassword->setObjectName(QStringLiteral("RememberPassword"));
    placeTwips(RememberPassword, 600, 1935, 4335, 285);

    setTabOrder(UserNamet, Quit);
    setTabOrder(PassWordt, RememberPassword);
    setTabOrder(RememberPassword, UserNamet);
    Login->setFocus();

    connect(Login, &QPushButton::clicked, this, &FrmLogin::Login_Click);
    connect(Quit, &QPushButton::clicked, this, &FrmLogin::Quit_Click);
    Form_Load();
    prepareRemember();
}

QString FrmLogin::keyringKey() const
{
    return PasswordKeyring::keyFor(UserNamet->text(), mainWindow->session()->serverEntry().hostPort());
}

void FrmLogin::prepareRemember()
{
    PasswordKeyring *keyring = mainWindow->keyring();
    connect(keyring, &PasswordKeyring::availabilityKnown, this, [this](bool available) {
        showRememberState();
        if (available)
            readStoredPassword();
    });
    connect(keyring, &PasswordKeyring::passwordRead, this,
            [this](const QString &key, const QString &password, bool found) {
                if (key != m_readingKey || key != keyringKey())
                    return; // an answer for a name no longer shown
                m_readingKey.clear();
                m_storedFound = found;
                if (found && PassWordt->text().isEmpty())
                    PassWordt->setText(password);
                showRememberState();
            });
    connect(UserNamet, &QLineEdit::editingFinished, this, [this] {
        if (mainWindow->keyring()->availability() == PasswordKeyring::Availability::Available)
            readStoredPassword();
    });
    showRememberState();
    if (keyring->availability() == PasswordKeyring::Availability::Unknown)
        keyring->checkAvailability();
    else if (keyring->availability() == PasswordKeyring::Availability::Available)
        readStoredPassword();
}

void FrmLogin::readStoredPassword()
{
    const QString key = keyringKey();
    if (key == m_readingKey)
        return;
    m_readingKey = key;
    m_storedFound = false;
    mainWindow->keyring()->read(key);
}

void FrmLogin::showRememberState()
{
    const PasswordKeyring *keyring = mainWindow->keyring();
    const RememberBoxState state = rememberBoxState(keyring->availability(), keyring->unavailableReason(), m_storedFound);
    RememberPassword->setEnabled(state.enabled);
    RememberPassword->setChecked(state.checked);
    RememberPassword->setText(state.text);
    RememberPassword->setToolTip(state.toolTip);
    RememberPassword->setAccessibleDescription(state.toolTip);
}

void FrmLogin::Form_Load()
{
    // The stored name is the session's until the user logs in with another.
    mainWindow->session()->setLoginName(GetSetting(Keys::Username));
    UserNamet->setText(mainWindow->session()->LoginName());
}

void FrmLogin::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, dialogCornerPicture());
}

void FrmLogin::keyPressEvent(QKeyEvent *event)
{
    // The dialog has no cancel button: Escape does not close it.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void FrmLogin::Login_Click()
{
    const QString name = UserNamet->text();
    if (checkLogin(name, PassWordt->text()) == LoginCheck::MissingName) {
        MsgBox(this, QLatin1String(kMissingName));
        return;
    }
    ChatSession *session = mainWindow->session();
    session->setLoginName(name);
    session->setLoginPassword(PassWordt->text());
    if (checkLogin(name, PassWordt->text()) == LoginCheck::MissingPassword) {
        MsgBox(this, QLatin1String(kMissingPassword));
        return;
    }
    PasswordKeyring *keyring = mainWindow->keyring();
    const bool available = keyring->availability() == PasswordKeyring::Availability::Available;
    switch (rememberAction(available, RememberPassword->isChecked(), PassWordt->text())) {
    case RememberAction::Write:
        mainWindow->setRememberPassword(true); // once the gateway has accepted it
        break;
    case RememberAction::Remove:
        keyring->remove(keyringKey());
        break;
    case RememberAction::Nothing:
        break;
    }
    mainWindow->ProceedLogin();
    close();
}

void FrmLogin::Quit_Click()
{
    close();
}
