// SPDX-License-Identifier: MIT
#include "ui/TorvalMain.h"

#include "layout/Layout.h"
#include "log/ChatLog.h"
#include "reception/RosterModel.h"
#include "session/ChatSession.h"
#include "settings/Settings.h"
#include "ui/Alerts.h"
#include "ui/DesignStyle.h"
#include "ui/Dialogs.h"
#include "ui/DisplayPane.h"
#include "ui/FrmChannel.h"
#include "ui/Images.h"
#include "ui/PaneMarks.h"
#include "ui/SpellCheckLine.h"
#include "text/SpellChecker.h"
#include "ui/TorvalMod1.h"
#include "ui/Twips.h"
#include "ui/frmAbout.h"
#include "ui/frmHelp.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <utility>

namespace {

constexpr char kChatPaneText[] = "Chat Window\r\n";
constexpr char kWhisperPaneText[] = "Whisper Window\r\n";
constexpr char kInputText[] = "User Input";
constexpr char kUserListPlaceholder[] = "User List";
// The one message about a settings store that cannot be written; the program goes on.
constexpr char kSettingsNotSaved[] =
    "Vesk Chat could not save its settings to %1. Your choices apply until you quit; "
    "check that this folder can be written.";

constexpr double kClientWidth = 10620;
constexpr double kClientHeight = 9135;
constexpr int kIdleTickMs = 1000;

// Windows opened from the main window exist once: a second press brings the
// open one to the front; after it was closed, a new one is made.
template <typename Window, typename... Args>
void showSingle(QPointer<Window> &window, Args... args)
{
    if (!window)
        window = new Window(args...);
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

TorvalMain::TorvalMain(QWidget *parent)
    : QWidget(parent), m_session(new ChatSession(this))
{
    setObjectName(QStringLiteral("TorvalMain"));
    setWindowTitle(QString::fromLatin1(kProgramTitle));
    setWindowIcon(appIcon());
    setFont(designFont(8.25));
    resize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight));

    buildControls();
    setSaveFailureHandler([this](const QString &path) { reportSaveFailure(path); });
    prepareFeatures();
    Form_Load();
}

TorvalMain::~TorvalMain()
{
    setSaveFailureHandler({});
    // The session outlives this part of the window: it must not call back into it, nor into the filters.
    disconnect(m_session, nullptr, this, nullptr);
    m_session->removeFilter(mentionMarks.get());
    m_session->removeFilter(alerts.get());
    m_session->removeFilter(chatLog);
    // The input line's spell check goes before the dictionary it reads.
    delete std::exchange(m_spellLine, nullptr);
}

TorvalMain::Controls TorvalMain::controls() const
{
    return {Channel, Text2, Text3, Text1, Roomlist, Connect, Disconnect, cmdChannel, About, Quit, cmdIdle,
            cmdHelp, Slap, Kick, Squelch, UnSquelch, Ban, Whisper, Whois, Send, TimerIdle};
}

void TorvalMain::reportSaveFailure(const QString &path)
{
    if (std::exchange(saveFailureReported, true))
        return;
    // Shown from the event loop: a save happens in the middle of Connect or a dialog's OK.
    QTimer::singleShot(0, this, [this, path] { MsgBox(this, QString::fromLatin1(kSettingsNotSaved).arg(path)); });
}

void TorvalMain::buildControls()
{
    auto label = [this](QLabel *&member, const char *name, const char *text, TwipsRect r) {
        member = new QLabel(QString::fromLatin1(text), this);
        member->setObjectName(QLatin1String(name));
        member->setTextFormat(Qt::PlainText);
        placeTwips(member, r.left, r.top, r.width, r.height);
        geometryTwips.insert(member, r);
    };
    auto button = [this](QPushButton *&member, const char *name, const char *text, TwipsRect r,
                         void (TorvalMain::*handler)(), double pointSize = 0) {
        member = new QPushButton(QString::fromLatin1(text), this);
        member->setObjectName(QLatin1String(name));
        if (pointSize > 0)
            member->setFont(designFont(pointSize));
        placeTwips(member, r.left, r.top, r.width, r.height);
        geometryTwips.insert(member, r);
        connect(member, &QPushButton::clicked, this, handler);
    };
    auto pane = [this](QPlainTextEdit *&member, const char *name, const char *text,
                       const char *accessible, TwipsRect r) {
        member = new QPlainTextEdit(this);
        member->setObjectName(QLatin1String(name));
        member->setAccessibleName(QLatin1String(accessible));
        member->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        member->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        member->setPlainText(QString::fromLatin1(text));
        configurePane(member);
        // History is read, selected and copied, never typed into; Tab moves on.
        member->setReadOnly(true);
        member->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        member->setTabChangesFocus(true);
        placeTwips(member, r.left, r.top, r.width, r.height);
        geometryTwips.insert(member, r);
    };

    label(lblTitle, "lblTitle", kProgramTitle, {0, 120, 10575, 615});
    lblTitle->setFont(designFont(24));
    lblTitle->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    blackOnLightGrey(lblTitle);
    lblTitle->setAutoFillBackground(true);

    label(LabelCoverUp, "LabelCoverUp", "", {-120, -120, 1695, 375});
    LabelCoverUp->setAutoFillBackground(true);

    label(Channel, "Channel", kNoChannelCaption, {7320, 840, 3135, 255});
    Channel->setFont(designFont(12, true));
    Channel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    blackOnLightGrey(Channel);

    pane(Text2, "Text2", kChatPaneText, "Chat Window", {1680, 840, 5535, 6015});
    blackOnWhite(Text2);
    pane(Text3, "Text3", kWhisperPaneText, "Whisper Window", {1680, 7200, 5535, 975});

    Text1 = new QLineEdit(QString::fromLatin1(kInputText), this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setAccessibleName(QStringLiteral("User Input"));
    Text1->setFont(designFont(9.75));
    blackOnWhite(Text1);
    placeTwips(Text1, 1680, 8400, 5535, 405);
    geometryTwips.insert(Text1, {1680, 8400, 5535, 405});
    Text1->installEventFilter(this);

    Roomlist = new QListView(this);
    Roomlist->setObjectName(QStringLiteral("Roomlist"));
    Roomlist->setAccessibleName(QStringLiteral("User List"));
    Roomlist->setFont(designFont(8.25, true));
    Roomlist->setUniformItemSizes(true);
    Roomlist->setEditTriggers(QAbstractItemView::NoEditTriggers);
    blackOnWhite(Roomlist);
    m_session->roster()->append(QString::fromLatin1(kUserListPlaceholder));
    Roomlist->setModel(m_session->roster());
    placeTwips(Roomlist, 7560, 1200, 2655, 3735);
    geometryTwips.insert(Roomlist, {7560, 1200, 2655, 3735});

    button(Connect, "Connect", "Connect", {120, 960, 1335, 855}, &TorvalMain::Connect_Click, 13.5);
    button(Disconnect, "Disconnect", "Disc", {120, 2640, 1335, 855}, &TorvalMain::Disconnect_Click, 13.5);
    button(cmdChannel, "cmdChannel", "Channel", {120, 4320, 1335, 855}, &TorvalMain::cmdChannel_Click, 13.5);
    button(About, "About", "About", {120, 6000, 1335, 975}, &TorvalMain::About_Click, 13.5);
    button(Quit, "Quit", "Quit", {120, 7800, 1335, 975}, &TorvalMain::Quit_Click, 13.5);
    button(cmdIdle, "cmdIdle", "Idle", {9360, 120, 1095, 255}, &TorvalMain::cmdIdle_Click);
    button(cmdHelp, "cmdHelp", "Help", {9360, 480, 1095, 255}, &TorvalMain::cmdHelp_Click);
    button(Slap, "Slap", "Slap", {7560, 6240, 1215, 375}, &TorvalMain::Slap_Click);
    button(Kick, "Kick", "Kick", {9000, 6240, 1215, 375}, &TorvalMain::Kick_Click);
    button(Squelch, "Squelch", "Squelch", {7560, 6840, 1215, 375}, &TorvalMain::Squelch_Click);
    button(UnSquelch, "UnSquelch", "UnSquelch", {9000, 6840, 1215, 375}, &TorvalMain::UnSquelch_Click);
    button(Ban, "Ban", "Ban", {8280, 7320, 1215, 375}, &TorvalMain::Ban_Click);
    button(Whisper, "Whisper", "Whisper", {7560, 7800, 1215, 375}, &TorvalMain::Whisper_Click);
    button(Whois, "Whois", "Whois", {9000, 7800, 1215, 375}, &TorvalMain::Whois_Click);
    button(Send, "Send", "Send", {7440, 8400, 2775, 375}, &TorvalMain::Send_Click);

    // Tab order of the design; labels take no focus and drop out of the chain.
    const QList<QWidget *> tabOrder = {Text3, Text2, Text1, Roomlist, Connect, Disconnect, Quit,
                                       Whisper, Whois, Squelch, UnSquelch, About, Ban, Kick,
                                       Send, Slap, cmdChannel, cmdIdle, cmdHelp};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    Text1->setFocus();

    TimerIdle = new QTimer(this);
    TimerIdle->setObjectName(QStringLiteral("TimerIdle"));
    TimerIdle->setInterval(kIdleTickMs);
    connect(TimerIdle, &QTimer::timeout, this, &TorvalMain::TimerIdle_Timer);
    TimerIdle->start();

    bindSession();
}

void TorvalMain::Form_Load()
{
    IdleSeconds = toInt16OrZero(GetSetting(Keys::IdleTime));
    IdleMessage = GetSetting(Keys::IdleString);
    SetButtonStates(true, false, false, true);
    IdleCount = 0;
}

void TorvalMain::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // Painted, not set in the palette, so that the controls the design leaves
    // at default colours take all of theirs from the system.
    painter.fillRect(rect(), kLightGrey);
    painter.drawPixmap(0, 0, mainCornerPicture());
}

void TorvalMain::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void TorvalMain::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void TorvalMain::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    Form_Resize();
}

bool TorvalMain::eventFilter(QObject *watched, QEvent *event)
{
    if ((event->type() == QEvent::Resize || event->type() == QEvent::Move) && (watched == Text2 || watched == Text3))
        placeFindBar();
    if (watched == Text1 && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        placePasteBar();
    if (watched == Text1 && Text1_PasteEvent(event))
        return true;
    if (watched == Text1 && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (Text1_FeatureKey(key))
            return true;
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        const QString text = key->text();
        if (enter || text.size() == 1) {
            int KeyAscii = enter ? kEnterKey : text.at(0).unicode();
            Text1_KeyPress(KeyAscii);
            if (KeyAscii == 0)
                return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TorvalMain::Form_Resize()
{
    if (isMinimized())
        return;
    const double W = pixelsToTwips(frameGeometry().width());
    for (QWidget *button : {static_cast<QWidget *>(cmdHelp), static_cast<QWidget *>(cmdIdle)})
        moveControl(button, LayoutProperty::Left, W - kHelpIdleFromRight);
    ApplyLayout();
}

void TorvalMain::ApplyLayout()
{
    const double W = pixelsToTwips(frameGeometry().width());
    const double H = pixelsToTwips(frameGeometry().height());
    for (const LayoutAssignment &a : layoutForWindow(ScreenSize, W, H))
        moveControl(layoutControl(a.control), a.property, a.value);
}

QWidget *TorvalMain::layoutControl(LayoutControl control) const
{
    using C = LayoutControl;
    switch (control) {
    case C::lblTitle: return lblTitle;
    case C::Channel: return Channel;
    case C::Text1: return Text1;
    case C::Text2: return Text2;
    case C::Text3: return Text3;
    case C::Roomlist: return Roomlist;
    case C::Connect: return Connect;
    case C::Disconnect: return Disconnect;
    case C::cmdChannel: return cmdChannel;
    case C::About: return About;
    case C::Quit: return Quit;
    case C::Slap: return Slap;
    case C::Kick: return Kick;
    case C::Squelch: return Squelch;
    case C::UnSquelch: return UnSquelch;
    case C::Ban: return Ban;
    case C::Whisper: return Whisper;
    case C::Whois: return Whois;
    case C::Send: return Send;
    }
    Q_UNREACHABLE();
}

void TorvalMain::moveControl(QWidget *control, LayoutProperty property, double twips)
{
    auto it = geometryTwips.find(control);
    if (it == geometryTwips.end())
        return;
    TwipsRect &r = it.value();
    switch (property) {
    case LayoutProperty::Left: r.left = twips; break;
    case LayoutProperty::Top: r.top = twips; break;
    case LayoutProperty::Width: r.width = twips; break;
    case LayoutProperty::Height: r.height = twips; break;
    }
    placeTwips(control, r.left, r.top, r.width, r.height);
}

void TorvalMain::About_Click()
{
    showSingle(aboutWindow);
}

void TorvalMain::cmdHelp_Click()
{
    showSingle(helpWindow);
}

void TorvalMain::cmdChannel_Click()
{
    showSingle(channelWindow, this);
}
