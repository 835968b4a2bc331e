// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <functional>

// The per-user store: one INI file, sections as groups, every value a string.
// Each save is written to disk at once so that a quit right after it loses nothing.

inline constexpr char kAppName[] = "VeskChat";

// A stored value: where it lives and what an absent key reads as.
struct SettingKey {
    const char *section;
    const char *key;
    const char *defaultValue;
};

namespace Keys {
inline constexpr SettingKey ScreenSize{"Options", "ScreenSize", "0"};
inline constexpr SettingKey HomeChannel{"Options", "HomeChannel", "0"};
inline constexpr SettingKey Server{"Connect", "Server", "0"};
inline constexpr SettingKey Username{"Connect", "Username", ""};
inline constexpr SettingKey IdleTime{"Idle", "Time", "0"};
inline constexpr SettingKey IdleString{"Idle", "String", "0"};
// Beyond the design; switches read "1" as on, anything else as off.
inline constexpr SettingKey LogsEnabled{"Logs", "Enabled", "1"};
inline constexpr SettingKey LogsFolder{"Logs", "Folder", ""}; // empty: $XDG_DATA_HOME/VeskChat/logs
inline constexpr SettingKey AutoReconnect{"Connect", "AutoReconnect", "0"};
inline constexpr SettingKey InputHistory{"Input", "History", "1"};
inline constexpr SettingKey NameCompletion{"Input", "Completion", "1"};
inline constexpr SettingKey Links{"Display", "Links", "1"};
inline constexpr SettingKey Mentions{"Display", "Mentions", "1"};
inline constexpr SettingKey Alerts{"Alerts", "Enabled", "1"};
inline constexpr SettingKey AlertSeconds{"Alerts", "Seconds", "5"}; // the least time between two notifications
inline constexpr SettingKey LogsReplay{"Logs", "Replay", "50"}; // lines of the chat log shown on connect, 0: none
inline constexpr SettingKey SpellCheck{"Input", "SpellCheck", "1"}; // off by itself when no dictionary is found
inline constexpr SettingKey SpellLanguage{"Input", "Language", ""}; // empty: the system locale's language
inline constexpr SettingKey Proxy{"Connect", "Proxy", ""}; // empty, "system" or "socks5://[user:pass@]host:port"
} // namespace Keys

QString GetSetting(const QString &appName, const QString &section, const QString &key,
                   const QString &defaultValue = QString());
// False when the value did not reach the disk (a folder that cannot be
// written, a full disk); the failure also goes to the handler below.
bool SaveSetting(const QString &appName, const QString &section, const QString &key,
                 const QString &value);

// Shorthands for the program's own keys under kAppName.
QString GetSetting(const SettingKey &key);
bool SaveSetting(const SettingKey &key, const QString &value);

// Told the settings file's path whenever a save fails. A failure before any
// handler is set is told to the first handler set, so one made before the
// main window exists (the first start's profile) is not lost.
void setSaveFailureHandler(std::function<void(const QString &path)> handler);

// A stored switch: "1" (blanks allowed) is on, anything else off.
bool isOn(const SettingKey &key);

// A stored number as the program reads it: a decimal integer in -32768..32767
// (surrounding blanks allowed), anything else reads as 0.
qint16 toInt16OrZero(const QString &text);
