// SPDX-License-Identifier: MIT
#include "ui/TrustDialog.h"

#include "session/KnownHosts.h"
#include "ui/Dialogs.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr char kTrustButton[] = "Trust this server";
constexpr char kCancelButton[] = "Cancel";
constexpr char kForgetButton[] = "Forget the old key";

constexpr char kAskHeading[] = "The identity of this server cannot be verified";
constexpr char kAskAdvice[] =
    "The connection has been closed. If you trust this server, its key is remembered for it on this "
    "computer and you will not be asked again unless the key changes. Compare the fingerprint with the "
    "one the server's administrator gives you before you trust it.";
constexpr char kChangedHeading[] = "This server's key has changed";
constexpr char kChangedAdvice[] =
    "The connection has been refused. Someone may be posing as the server, or its administrator may "
    "have given it a new key. Ask the administrator before you go on. Forgetting the old key trusts "
    "nothing yet: the next connection asks you about the new key.";
constexpr char kRefusedHeading[] = "This server cannot be trusted";
constexpr char kRefusedAdvice[] = "The connection has been refused.";

constexpr int kBytesPerLine = 16;
constexpr int kMaxReasonsShown = 8; // reasons come from a list of error kinds; a few say it all

QLabel *plainLabel(const QString &text, const char *objectName, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(objectName));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAccessibleName(text.left(200));
    return label;
}

QLabel *fingerprintLabel(const QByteArray &fingerprint, const char *objectName, const QString &accessible,
                         QWidget *parent)
{
    QLabel *label = plainLabel(fingerprintLines(fingerprint), objectName, parent);
    label->setWordWrap(false);
    label->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setAccessibleName(accessible);
    label->setAccessibleDescription(fingerprintText(fingerprint));
    return label;
}

QLabel *heading(const QString &text, QWidget *parent)
{
    QLabel *label = plainLabel(text, "heading", parent);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.15);
    label->setFont(font);
    return label;
}

} // namespace

QString fingerprintLines(const QByteArray &fingerprint)
{
    QStringList lines;
    for (qsizetype at = 0; at < fingerprint.size(); at += kBytesPerLine)
        lines << fingerprintText(fingerprint.mid(at, kBytesPerLine));
    return lines.join(QLatin1Char('\n'));
}

TrustDialog::TrustDialog(const QString &hostPort, const TrustDecision &decision, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TrustDialog"));
    setWindowTitle(AppTitle);
    setModal(true);
    const bool changed = decision.kind == TrustDecision::RefuseChanged;
    const bool askable = decision.kind == TrustDecision::AskTrust;

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    layout->addWidget(heading(QLatin1String(changed ? kChangedHeading : askable ? kAskHeading : kRefusedHeading), this));

    auto *facts = new QGridLayout;
    facts->setHorizontalSpacing(12);
    facts->setVerticalSpacing(8);
    int row = 0;
    auto addFact = [&](const QString &name, QWidget *value) {
        QLabel *caption = plainLabel(name, "caption", this);
        caption->setWordWrap(false);
        facts->addWidget(caption, row, 0, Qt::AlignTop | Qt::AlignLeft);
        facts->addWidget(value, row, 1);
        ++row;
    };
    addFact(QStringLiteral("Server:"), plainLabel(hostPort, "server", this));
    QStringList reasons = decision.reasons.mid(0, kMaxReasonsShown);
    for (QString &reason : reasons)
        reason = QChar(0x2022) + QLatin1Char(' ') + reason.left(500);
    QLabel *why = plainLabel(reasons.join(QLatin1Char('\n')), "reasons", this);
    why->setAccessibleName(QStringLiteral("Reasons"));
    why->setAccessibleDescription(why->text());
    addFact(QStringLiteral("Why:"), why);
    if (changed) {
        addFact(QStringLiteral("Key trusted before:"),
                fingerprintLabel(decision.pinned, "oldFingerprint", QStringLiteral("Key trusted before"), this));
        addFact(QStringLiteral("Key shown now:"),
                fingerprintLabel(decision.fingerprint, "fingerprint", QStringLiteral("Key shown now"), this));
    } else {
        addFact(QStringLiteral("SHA-256 fingerprint:"),
                fingerprintLabel(decision.fingerprint, "fingerprint", QStringLiteral("SHA-256 fingerprint"), this));
    }
    facts->setColumnStretch(1, 1);
    layout->addLayout(facts);
    layout->addWidget(plainLabel(QLatin1String(changed ? kChangedAdvice : askable ? kAskAdvice : kRefusedAdvice),
                                 "advice", this));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    layout->addLayout(buttons);
    if (askable)
        buttons->addWidget(addButton("trustButton", QLatin1String(kTrustButton), TrustServer));
    if (changed)
        buttons->addWidget(addButton("forgetButton", QLatin1String(kForgetButton), ForgetOldKey));
    QPushButton *cancel = addButton("cancelButton", QLatin1String(kCancelButton), Cancelled);
    buttons->addWidget(cancel);
    // Enter and Escape both cancel: trusting is always a deliberate click.
    cancel->setDefault(true);
    cancel->setFocus();

    setMinimumWidth(560);
    layout->setSizeConstraint(QLayout::SetMinimumSize);
}

QPushButton *TrustDialog::addButton(const char *objectName, const QString &text, Choice choice)
{
    auto *button = new QPushButton(text, this);
    button->setObjectName(QLatin1String(objectName));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, choice] {
        m_choice = choice;
        if (choice == Cancelled)
            reject();
        else
            accept();
    });
    return button;
}

TrustDialog::Choice TrustDialog::ask(QWidget *parent, const QString &hostPort, const TrustDecision &decision)
{
    TrustDialog dialog(hostPort, decision, parent);
    dialog.exec();
    return dialog.choice();
}
