// SPDX-License-Identifier: MIT
#include "session/ChatSession.h"

#include "outgoing/CommandLines.h"
#include "outgoing/TypedLine.h"
#include "reception/DisplayText.h"
#include "reception/RosterModel.h"
#include "session/ChatLink.h"
#include "session/GatewayPort.h"
#include "session/ProxySetting.h"
#include "settings/Settings.h"
#include "time/Clock.h"

#include <algorithm>

namespace {
constexpr int kWatchdogMs = 500;
constexpr char kNotConnectedNotice[] =
    "Not connected: nothing was sent and your line was kept. Connect to a server first.";
} // namespace

ChatSession::ChatSession(QObject *parent)
    : QObject(parent), m_link(new ChatLink(this)), m_roster(new RosterModel(this))
{
    m_watchdog.setObjectName(QStringLiteral("Timer1"));
    m_watchdog.setInterval(kWatchdogMs);
    connect(&m_watchdog, &QTimer::timeout, this, &ChatSession::onWatchdog);
    connect(&m_reconnect, &Reconnector::attemptDue, this, &ChatSession::reconnectNow);
    connect(m_link, &ChatLink::eventsReceived, this, &ChatSession::receive);
    connect(m_link, &ChatLink::connectFailed, this, &ChatSession::onConnectFailed);
    connect(m_link, &ChatLink::linkLost, this, &ChatSession::onLinkLost);
    connect(m_link, &ChatLink::connectFailedText, this, &ChatSession::onConnectFailedText);
    connect(m_link, &ChatLink::untrusted, this, &ChatSession::onUntrusted);
    connect(m_link, &ChatLink::trusted, this, &ChatSession::reportKnownHostsDamage);
}

ChatSession::~ChatSession() = default;

quint16 ChatSession::port() const
{
    return m_port ? m_port : gatewayPort();
}

bool ChatSession::open()
{
    m_reconnect.stop();
    m_loginRequested = false;
    m_awaitingTrust = false;
    m_entry = parseServerEntry(m_server, port());
    QString refusal;
    ProxySetting proxy;
    if (!m_entry.isValid()) {
        refusal = serverEntryRefusal(m_entry);
    } else {
        proxy = parseProxySetting(GetSetting(Keys::Proxy));
        refusal = proxy.error; // going direct would bypass the proxy the user asked for
    }
    if (!refusal.isEmpty()) {
        m_link->close();
        m_connected = false;
        m_linkEndNotice = refusal;
        showNotice(refusal);
        return false;
    }
    m_proxy = proxyForConnection(proxy, m_entry.host, m_entry.port);
    for (ShownLineFilter *filter : m_filters)
        filter->sessionStarted(m_server);
    startReplay();
    connectLink();
    m_linkEndNotice.clear();
    m_lossReported = false;
    m_connected = true;
    return true;
}

void ChatSession::connectLink()
{
    m_loginPending = true;
    m_link->connectTo(m_entry, m_proxy, m_entry.secure ? &m_knownHosts : nullptr);
}

void ChatSession::login()
{
    m_link->writeHandshake(m_name, m_password);
    m_loginRequested = true;
    m_lossReported = false;
    m_watchdog.start();
}

void ChatSession::reopen()
{
    const bool loggedIn = m_loginRequested;
    if (open() && loggedIn)
        login();
}

bool ChatSession::isSecure() const
{
    return m_link->isSecure();
}

void ChatSession::reportKnownHostsDamage()
{
    const QString damage = m_knownHosts.takeDamageReport();
    if (!damage.isEmpty())
        showNotice(damage);
}

void ChatSession::onUntrusted(const TrustDecision &decision)
{
    reportKnownHostsDamage();
    if (!m_connected)
        return;
    m_watchdog.stop();
    m_roster->clear();
    const QString why = decision.reasons.join(QStringLiteral("; "));
    if (m_reconnect.isActive()) {
        // Nobody asked for this connection just now: no window pops up, and
        // trying again would meet the same key.
        m_reconnect.stop();
        m_linkEndNotice = tr("Could not connect securely to %1: %2. Connect again to decide about this server.")
                              .arg(m_entry.hostPort(), why);
        showNotice(m_linkEndNotice);
        return;
    }
    m_linkEndNotice = tr("Could not connect securely to %1: %2.").arg(m_entry.hostPort(), why);
    showNotice(m_linkEndNotice);
    m_awaitingTrust = true;
    emit trustQuestion(decision);
}

void ChatSession::close()
{
    m_connected = false;
    m_awaitingTrust = false;
    m_loginRequested = false;
    m_reconnect.stop();
    m_watchdog.stop();
    m_roster->clear();
    m_link->close();
}

void ChatSession::onWatchdog()
{
    if (m_link->isAlive() || !m_connected || m_lossReported || m_awaitingTrust)
        return;
    m_lossReported = true;
    emit connectionLost();
}

void ChatSession::onConnectFailed(const QString &reason)
{
    if (!m_connected)
        return;
    if (m_reconnect.isActive()) {
        const int seconds = m_reconnect.schedule();
        showNotice(tr("Could not connect to %1: %2. Trying again in %3 s.").arg(m_server, reason).arg(seconds));
        return;
    }
    m_linkEndNotice = QStringLiteral("Could not connect to %1: %2.").arg(m_server, reason);
    showNotice(m_linkEndNotice);
}

void ChatSession::onConnectFailedText(const QString &text)
{
    if (!m_connected)
        return;
    if (m_reconnect.isActive()) {
        const int seconds = m_reconnect.schedule();
        showNotice(text + tr(" Trying again in %1 s.").arg(seconds));
        return;
    }
    m_linkEndNotice = text;
    showNotice(m_linkEndNotice);
}

void ChatSession::onLinkLost(const QString &reason)
{
    m_linkEndNotice = QStringLiteral("The connection to %1 was lost at %2: %3.").arg(m_server, formattedTime(), reason);
    if (!m_autoReconnect || !m_connected)
        return; // the watchdog reports it
    m_watchdog.stop();
    m_roster->clear();
    const int seconds = m_reconnect.schedule();
    emit reconnecting();
    showNotice(m_linkEndNotice + tr(" Connecting again in %1 s.").arg(seconds));
}

void ChatSession::reconnectNow()
{
    if (!m_connected)
        return;
    connectLink();
    m_link->writeHandshake(m_name, m_password);
}

void ChatSession::loginCompleted()
{
    if (m_loginPending) {
        m_loginPending = false;
        if (m_link->isSecure())
            showNotice(connectionSecurityNotice(m_entry.hostPort(), true, m_link->secureProtocol()));
        emit loginAccepted();
    }
    if (!m_reconnect.isActive())
        return;
    m_reconnect.succeeded();
    m_lossReported = false;
    m_watchdog.start();
    emit reconnected();
    const QString home = GetSetting(Keys::HomeChannel);
    if (home != QLatin1String(Keys::HomeChannel.defaultValue) && !home.isEmpty() && home != m_channel)
        m_link->sendLine(channelLine(home));
}

bool ChatSession::canSend() const
{
    return m_link->canSend();
}

bool ChatSession::sendLine(const QString &line)
{
    if (m_link->sendLine(line))
        return true;
    showNotice(QLatin1String(kNotConnectedNotice));
    return false;
}

ChatSession::TypedResult ChatSession::sendTyped(const QString &typed)
{
    const TypedLine line = interpretTypedLine(typed);
    switch (line.action) {
    case TypedLine::Action::Clear:
        return TypedResult::Clear;
    case TypedLine::Action::Quit:
        return TypedResult::Quit;
    default:
        break;
    }
    if (!sendLine(line.text))
        return TypedResult::NotSent;
    if (line.isEchoed())
        showLine(ShownLine::Pane::Chat, ShownLine::Kind::Talk, talkBody(m_name, line.text));
    else if (const std::optional<QString> echo = typedWhisperEcho(typed))
        showWhisperEcho(*echo);
    return TypedResult::Sent;
}

void ChatSession::showNotice(const QString &text, ShownLine::Pane pane)
{
    showLine(pane, ShownLine::Kind::Notice, text);
}

void ChatSession::showWhisperEcho(const QString &text)
{
    showLine(ShownLine::Pane::Whisper, ShownLine::Kind::Whisper, text);
}

void ChatSession::showLine(ShownLine::Pane pane, ShownLine::Kind kind, QStringView body)
{
    if (m_emitting) {
        m_late.add(pane, kind, body);
        return;
    }
    m_lines.add(pane, kind, body);
    if (!m_inSlice)
        emitLines();
}

void ChatSession::addFilter(ShownLineFilter *filter)
{
    m_filters.push_back(filter);
}

void ChatSession::removeFilter(ShownLineFilter *filter)
{
    std::erase(m_filters, filter);
}

void ChatSession::receive(const ChatEvents &events)
{
    const bool outer = !m_inSlice;
    m_inSlice = true;
    for (const ChatEvent &event : events)
        handle(event);
    if (!outer)
        return;
    m_inSlice = false;
    emitLines();
}

void ChatSession::emitLines()
{
    m_emitting = true;
    for (ShownLineFilter *filter : m_filters)
        filter->linesReady(m_lines);
    emit linesReady(m_lines);
    for (ShownLineFilter *filter : m_filters)
        filter->batchShown();
    m_lines.clear();
    m_emitting = false;
    // Lines shown while the batch was handed on (a filter's or the window's
    // doing) follow as a batch of their own, so the one handed on never changed.
    if (!m_late.isEmpty()) {
        std::swap(m_lines, m_late);
        emitLines();
    }
}

void ChatSession::handle(const ChatEvent &event)
{
    using Kind = ChatEvent::Kind;
    using Pane = ShownLine::Pane;
    switch (event.kind) {
    case Kind::Talk:
        m_lines.write(Pane::Chat, ShownLine::Kind::Talk,
                      [&event](QString &out) { writeTalkBody(out, event.name, event.text); }, &event,
                      isMentionOf(m_name, event.name, event.text));
        break;
    case Kind::Emote:
        m_lines.write(Pane::Chat, ShownLine::Kind::Emote,
                      [&event](QString &out) { writeEmoteBody(out, event.name, event.text); }, &event,
                      isMentionOf(m_name, event.name, event.text));
        break;
    case Kind::Whisper:
        m_lines.write(Pane::Whisper, ShownLine::Kind::Whisper,
                      [&event](QString &out) { writeWhisperBody(out, event.name, event.text); }, &event);
        break;
    case Kind::Info:
        m_lines.add(Pane::Chat, ShownLine::Kind::Info, event.text, &event);
        break;
    case Kind::Channel:
        m_roster->clear();
        m_channel = event.name;
        replayOnLogin();
        m_lines.add(Pane::Chat, ShownLine::Kind::Channel, channelAnnouncement(m_channel), &event);
        emit channelJoined(m_channel);
        loginCompleted();
        break;
    case Kind::UserPresent:
    case Kind::UserJoined:
        m_roster->append(event.name);
        emit rosterChanged();
        break;
    case Kind::UserLeft:
        m_roster->removeFirst(event.name);
        emit rosterChanged();
        break;
    case Kind::Unparseable:
        m_lines.add(event.unparsedAs == Kind::Whisper ? Pane::Whisper : Pane::Chat, ShownLine::Kind::Unparsed,
                    event.text, &event);
        break;
    }
}
