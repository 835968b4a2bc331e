// SPDX-License-Identifier: MIT
#include "settings/Settings.h"

#include <QSettings>

#include <utility>

namespace {
std::function<void(const QString &)> &saveFailureHandler()
{
    static std::function<void(const QString &)> handler;
    return handler;
}

QString &unreportedFailure()
{
    static QString path;
    return path;
}

void reportSaveFailure(const QString &path)
{
    if (saveFailureHandler())
        saveFailureHandler()(path);
    else
        unreportedFailure() = path;
}

QString groupKey(const QString &section, const QString &key)
{
    return section + QLatin1Char('/') + key;
}
} // namespace

QString GetSetting(const QString &appName, const QString &section, const QString &key,
                   const QString &defaultValue)
{
    const QSettings store(QSettings::IniFormat, QSettings::UserScope, appName, appName);
    const QVariant value = store.value(groupKey(section, key));
    return value.isValid() ? value.toString() : defaultValue;
}

bool SaveSetting(const QString &appName, const QString &section, const QString &key,
                 const QString &value)
{
    QSettings store(QSettings::IniFormat, QSettings::UserScope, appName, appName);
    store.setValue(groupKey(section, key), value);
    store.sync();
    // A format error means the old file could not be read; it is written anew.
    if (store.status() != QSettings::AccessError)
        return true;
    reportSaveFailure(store.fileName());
    return false;
}

void setSaveFailureHandler(std::function<void(const QString &path)> handler)
{
    saveFailureHandler() = std::move(handler);
    if (saveFailureHandler() && !unreportedFailure().isEmpty())
        saveFailureHandler()(std::exchange(unreportedFailure(), QString()));
}

QString GetSetting(const SettingKey &key)
{
    return GetSetting(QString::fromLatin1(kAppName), QString::fromLatin1(key.section),
                      QString::fromLatin1(key.key), QString::fromLatin1(key.defaultValue));
}

bool SaveSetting(const SettingKey &key, const QString &value)
{
    return SaveSetting(QString::fromLatin1(kAppName), QString::fromLatin1(key.section),
                QString::fromLatin1(key.key), value);
}

qint16 toInt16OrZero(const QString &text)
{
    const QString trimmed = text.trimmed();
    for (qsizetype i = 0; i < trimmed.size(); ++i) {
        const QChar c = trimmed.at(i);
        const bool sign = i == 0 && (c == QLatin1Char('-') || c == QLatin1Char('+'));
        if (!sign && (c < QLatin1Char('0') || c > QLatin1Char('9')))
            return 0;
    }
    bool ok = false;
    const int value = trimmed.toInt(&ok, 10);
    if (!ok || value < -32768 || value > 32767)
        return 0;
    return static_cast<qint16>(value);
}

bool isOn(const SettingKey &key)
{
    return GetSetting(key).trimmed() == u"1";
}
