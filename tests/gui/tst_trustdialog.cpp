// SPDX-License-Identifier: MIT
// The trust window, clicked offscreen; pictures of each kind of it, under a
// light and a dark palette, go to screenshots/ under the build folder.
#include "support/TestSupport.h"
#include "ui/TrustDialog.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

QByteArray key(const char *seed)
{
    return QCryptographicHash::hash(seed, QCryptographicHash::Sha256);
}

TrustDecision firstContact()
{
    TrustDecision d;
    d.kind = TrustDecision::AskTrust;
    d.reasons << QStringLiteral("the server's certificate is signed by itself, not by an authority this computer trusts")
              << QStringLiteral("the certificate is made out to other.example, not to chat.example.org");
    d.fingerprint = key("new");
    return d;
}

TrustDecision changedKey()
{
    TrustDecision d;
    d.kind = TrustDecision::RefuseChanged;
    d.reasons << QStringLiteral("the server's key is not the one you chose to trust for it before");
    d.fingerprint = key("new");
    d.pinned = key("old");
    return d;
}

TrustDecision refused()
{
    TrustDecision d;
    d.kind = TrustDecision::Refuse;
    d.reasons << QStringLiteral("the server's certificate has been revoked by its issuer");
    d.fingerprint = key("new");
    return d;
}

TrustDecision decisionOf(const QString &kind)
{
    return kind == "changed" ? changedKey() : kind == "refused" ? refused() : firstContact();
}

QString shownFingerprint(QWidget *dialog, const char *name)
{
    return control<QLabel>(dialog, name)->text().replace('\n', ':');
}

} // namespace

class tst_trustdialog : public QObject
{
    Q_OBJECT

    QPalette systemPalette;
    QDir out;

private slots:
    void initTestCase()
    {
        systemPalette = QApplication::palette();
        QVERIFY(openScreenshotFolder(&out));
    }

    void cleanup()
    {
        cancelPendingModalAnswers();
        QApplication::setPalette(systemPalette);
    }

    // Which buttons each kind offers, and what clicking each one answers.
    void buttons_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("choice");
        QTest::addColumn<QStringList>("offered");
        const QStringList ask{"trustButton", "cancelButton"}, changed{"forgetButton", "cancelButton"}, refused{"cancelButton"};
        QTest::newRow("first contact: trust") << "ask" << "trustButton" << int(TrustDialog::TrustServer) << ask;
        QTest::newRow("first contact: cancel") << "ask" << "cancelButton" << int(TrustDialog::Cancelled) << ask;
        QTest::newRow("changed key: forget the old") << "changed" << "forgetButton" << int(TrustDialog::ForgetOldKey) << changed;
        QTest::newRow("changed key: cancel") << "changed" << "cancelButton" << int(TrustDialog::Cancelled) << changed;
        QTest::newRow("refused: cancel") << "refused" << "cancelButton" << int(TrustDialog::Cancelled) << refused;
    }

    void buttons()
    {
        QFETCH(QString, kind);
        QFETCH(QString, button);
        QFETCH(int, choice);
        QFETCH(QStringList, offered);
        QStringList shown;
        onModal("TrustDialog", [&](QWidget *dialog) {
            for (QPushButton *b : dialog->findChildren<QPushButton *>())
                shown << b->objectName();
            control<QPushButton>(dialog, button.toLatin1().constData())->click();
        });
        const auto answer = TrustDialog::ask(nullptr, QStringLiteral("chat.example.org:6113"), decisionOf(kind));
        QCOMPARE(int(answer), choice);
        QCOMPARE(shown, offered);
    }

    void buttonTexts()
    {
        TrustDialog ask(QStringLiteral("h:1"), firstContact());
        QCOMPARE(control<QPushButton>(&ask, "trustButton")->text(), QStringLiteral("Trust this server"));
        QCOMPARE(control<QPushButton>(&ask, "cancelButton")->text(), QStringLiteral("Cancel"));
        TrustDialog changed(QStringLiteral("h:1"), changedKey());
        QCOMPARE(control<QPushButton>(&changed, "forgetButton")->text(), QStringLiteral("Forget the old key"));
    }

    // Enter, Escape and the close box never trust.
    void keysNeverTrust_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("key");
        QTest::newRow("Enter, first contact") << "ask" << int(Qt::Key_Return);
        QTest::newRow("Escape, first contact") << "ask" << int(Qt::Key_Escape);
        QTest::newRow("Enter, changed key") << "changed" << int(Qt::Key_Return);
        QTest::newRow("Escape, changed key") << "changed" << int(Qt::Key_Escape);
        QTest::newRow("close box") << "ask" << 0;
    }

    void keysNeverTrust()
    {
        QFETCH(QString, kind);
        QFETCH(int, key);
        onModal("TrustDialog", [key](QWidget *dialog) {
            if (key == 0)
                dialog->close();
            else
                QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : dialog, Qt::Key(key));
        });
        QCOMPARE(int(TrustDialog::ask(nullptr, QStringLiteral("h:1"), decisionOf(kind))), int(TrustDialog::Cancelled));
    }

    void showsTheFacts()
    {
        TrustDialog ask(QStringLiteral("chat.example.org:6113"), firstContact());
        QCOMPARE(control<QLabel>(&ask, "server")->text(), QStringLiteral("chat.example.org:6113"));
        const QString reasons = control<QLabel>(&ask, "reasons")->text();
        QVERIFY(reasons.contains(firstContact().reasons[0]) && reasons.contains(firstContact().reasons[1]));
        QCOMPARE(shownFingerprint(&ask, "fingerprint"), fingerprintText(key("new")));
        QCOMPARE(control<QLabel>(&ask, "fingerprint")->text().count('\n'), 1);

        TrustDialog changed(QStringLiteral("chat.example.org:6113"), changedKey());
        QCOMPARE(shownFingerprint(&changed, "oldFingerprint"), fingerprintText(key("old")));
        QCOMPARE(shownFingerprint(&changed, "fingerprint"), fingerprintText(key("new")));
        QVERIFY(!changed.findChild<QPushButton *>("trustButton"));
    }

    // A server name or reason with markup in it is shown as typed, in every label.
    void everyLabelIsPlainText()
    {
        TrustDecision d = changedKey();
        d.reasons = {QStringLiteral("<b>bold</b> <img src=x>")};
        TrustDialog dialog(QStringLiteral("<i>evil</i>:6113"), d);
        for (QLabel *label : dialog.findChildren<QLabel *>())
            QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(control<QLabel>(&dialog, "server")->text(), QStringLiteral("<i>evil</i>:6113"));
    }

    void pictures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("dark");
        QTest::newRow("first contact, light") << "ask" << false;
        QTest::newRow("first contact, dark") << "ask" << true;
        QTest::newRow("changed key, light") << "changed" << false;
        QTest::newRow("changed key, dark") << "changed" << true;
    }

    void pictures()
    {
        QFETCH(QString, kind);
        QFETCH(bool, dark);
        if (dark)
            QApplication::setPalette(darkPalette());
        TrustDialog dialog(QStringLiteral("chat.example.org:6113"), decisionOf(kind));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        // Nothing is cut off: each label gets at least the height its text needs.
        for (QLabel *label : dialog.findChildren<QLabel *>())
            QVERIFY2(label->height() >= label->heightForWidth(label->width()) || !label->wordWrap(),
                     qPrintable(QStringLiteral("%1: %2 < %3").arg(label->objectName()).arg(label->height()).arg(label->heightForWidth(label->width()))));
        const QString name = QStringLiteral("trust-%1-%2.png").arg(kind == "ask" ? "first-contact" : "changed-key",
                                                                  dark ? "dark" : "light");
        QVERIFY(dialog.grab().save(out.filePath(name)));
    }
};

QTEST_MAIN(tst_trustdialog)
#include "tst_trustdialog.moc"
