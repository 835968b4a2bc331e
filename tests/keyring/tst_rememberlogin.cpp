// SPDX-License-Identifier: MIT
// The login dialog's "Remember password" against a real Secret Service on a
// private session bus (run by run.sh, once without a keyring and once beside
// a GNOME Keyring daemon): remembered after the gateway accepted the login,
// filled in next time, deleted when the box is turned off. Pictures of the
// dialog in each run, under a light and a dark palette, go to screenshots/
// under the build folder.
#include "keyring/PrivateKeyring.h"
#include "settings/Settings.h"
#include "support/LocalGateway.h"

#include <QCheckBox>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

class tst_rememberlogin : public QObject
{
    Q_OBJECT

    LocalGateway gateway;

    struct Seen {
        bool shown = false, enabled = false, checked = false;
        QString password, text, toolTip;
    };
    // Connects with the login dialog: waits for the box to settle, records it,
    // then sets the box and the password (an empty one keeps what was filled in) and logs in.
    static void connectWith(TorvalMain &window, Seen *seen, bool remember, const QString &password,
                            bool waitForFill = false)
    {
        answerServerPicker();
        onModal("FrmLogin", [=](QWidget *dialog) {
            auto *box = control<QCheckBox>(dialog, "RememberPassword");
            auto *pass = control<QLineEdit>(dialog, "PassWordt");
            control<QLineEdit>(dialog, "UserNamet")->setText(QStringLiteral("alice"));
            const bool present = keyringIs("present");
            QTest::qWaitFor([&] { return present ? box->isEnabled() && (!waitForFill || !pass->text().isEmpty())
                                                 : box->text().contains(QStringLiteral("no keyring")); },
                            10000);
            seen->shown = true;
            seen->enabled = box->isEnabled();
            seen->checked = box->isChecked();
            seen->password = pass->text();
            seen->text = box->text();
            seen->toolTip = box->toolTip();
            if (box->isEnabled())
                box->setChecked(remember);
            if (!password.isEmpty())
                pass->setText(password);
            control<QPushButton>(dialog, "Login")->click();
        });
        window.controls().Connect->click();
    }
    std::pair<bool, QString> stored()
    {
        PasswordKeyring keyring;
        return storedPassword(keyring, key());
    }
    QString key() const { return PasswordKeyring::keyFor("alice", QStringLiteral("127.0.0.1:%1").arg(gateway.port)); }

private slots:
    void initTestCase() { gateway.listServers("127.0.0.1\r\n"); }
    void init() { QVERIFY(gateway.startFresh()); }
    void cleanup() { gateway.stop(); }

    void withoutAKeyringTheBoxSaysWhy()
    {
        if (!keyringIs("absent"))
            QSKIP("run without a keyring only");
        TorvalMain w;
        Seen seen;
        connectWith(w, &seen, true, QStringLiteral("s3cret-absent"));
        QTRY_COMPARE_WITH_TIMEOUT(channelCaption(w), QStringLiteral("Lobby  (1)"), 10000);
        QVERIFY(seen.shown);
        QVERIFY(!seen.enabled);
        QVERIFY(!seen.checked);
        QVERIFY(seen.text.contains(QStringLiteral("no keyring")));
        QVERIFY(!seen.toolTip.isEmpty());
        QVERIFY2(filesHolding("s3cret-absent").isEmpty(), qPrintable(filesHolding("s3cret-absent").join(u' ')));
    }

    void rememberFillInTurnOff()
    {
        if (!keyringIs("present"))
            QSKIP("run beside a keyring only");
        TorvalMain w;
        Seen first;
        connectWith(w, &first, true, QStringLiteral("s3cret-pw"));
        QTRY_COMPARE_WITH_TIMEOUT(channelCaption(w), QStringLiteral("Lobby  (1)"), 10000);
        QVERIFY(first.enabled);
        QVERIFY(!first.checked); // off by default
        QTRY_COMPARE_WITH_TIMEOUT(stored(), std::make_pair(true, QStringLiteral("s3cret-pw")), 10000);
        // Only in the keyring: not in the settings, not in any other file of the run.
        QVERIFY2(filesHolding("s3cret-pw").isEmpty(), qPrintable(filesHolding("s3cret-pw").join(u' ')));

        // Next time the dialog fills it in, with the box on.
        w.controls().Disconnect->click();
        Seen second;
        connectWith(w, &second, false, QString(), true);
        QTRY_COMPARE_WITH_TIMEOUT(channelCaption(w), QStringLiteral("Lobby  (1)"), 10000);
        QVERIFY(second.checked);
        QCOMPARE(second.password, QStringLiteral("s3cret-pw"));
        // Turned off: deleted.
        QTRY_COMPARE_WITH_TIMEOUT(stored().first, false, 10000);

        w.controls().Disconnect->click();
        Seen third;
        connectWith(w, &third, false, QStringLiteral("other"));
        QTRY_COMPARE_WITH_TIMEOUT(channelCaption(w), QStringLiteral("Lobby  (1)"), 10000);
        QVERIFY(!third.checked);
        QCOMPARE(third.password, QString());
    }

    void pictures_data() { addPaletteRows(); }
    void pictures()
    {
        QFETCH(bool, dark);
        const PaletteScope palette(dark);
        const bool present = keyringIs("present");
        TorvalMain w;
        QImage picture;
        answerServerPicker();
        onModal("FrmLogin", [&](QWidget *dialog) {
            auto *box = control<QCheckBox>(dialog, "RememberPassword");
            QTest::qWaitFor([&] { return present ? box->isEnabled() : box->text().contains(QStringLiteral("no keyring")); },
                            10000);
            control<QLineEdit>(dialog, "UserNamet")->setText(QStringLiteral("alice"));
            control<QLineEdit>(dialog, "PassWordt")->setText(QStringLiteral("s3cret"));
            if (present)
                box->setChecked(true);
            picture = dialog->grab().toImage();
            if (!present) {
                // The reason, as the box's tool tip shows it, below the dialog.
                QToolTip::showText(box->mapToGlobal(QPoint(box->width() / 3, box->height())), box->toolTip(), box);
                QWidget *tip = nullptr;
                QTest::qWaitFor([&] {
                    for (QWidget *top : QApplication::topLevelWidgets())
                        if (top->inherits("QTipLabel") && top->isVisible())
                            tip = top;
                    return tip != nullptr;
                });
                if (tip) {
                    const QImage tipPicture = tip->grab().toImage();
                    QImage both(qMax(picture.width(), 24 + tipPicture.width()), picture.height() + tipPicture.height() + 4,
                                QImage::Format_RGB32);
                    both.fill(QApplication::palette().color(QPalette::Window));
                    QPainter painter(&both);
                    painter.drawImage(0, 0, picture);
                    painter.drawImage(24, picture.height() + 4, tipPicture);
                    picture = both;
                }
                QToolTip::hideText();
            }
            static_cast<QDialog *>(dialog)->reject();
        }, 15000);
        w.controls().Connect->click();
        QTRY_VERIFY_WITH_TIMEOUT(!picture.isNull(), 15000);
        QDir out;
        QVERIFY(openScreenshotFolder(&out));
        const QString name = QStringLiteral("login-remember-%1-%2.png")
                                     .arg(present ? QStringLiteral("on") : QStringLiteral("nokeyring"),
                                          dark ? QStringLiteral("dark") : QStringLiteral("light"));
        QVERIFY(picture.save(out.filePath(name)));
    }

    void aRefusedLoginIsNotRemembered()
    {
        if (!keyringIs("present"))
            QSKIP("run beside a keyring only");
        gateway->setAccounts(*Accounts::parse("alice:right\n"));
        TorvalMain w;
        Seen seen;
        onModal("QMessageBox", [](QWidget *box) { static_cast<QMessageBox *>(box)->accept(); }, 10000);
        connectWith(w, &seen, true, QStringLiteral("wrong-pw"));
        QTest::qWait(1500);
        QVERIFY(channelCaption(w) != QStringLiteral("Lobby  (1)"));
        QCOMPARE(stored().first, false);
    }
};

QTEST_MAIN(tst_rememberlogin)
#include "tst_rememberlogin.moc"
