// SPDX-License-Identifier: MIT
#include "settings/Settings.h"

#include <QSettings>

namespace {
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

void SaveSetting(const QString &appName, const QString &section, const QString &key,
                 const QString &value)
{
    QSettings store(QSettings::IniFormat, QSettings::UserScope, appName, appName);
    store.setValue(groupKey(section, key), value);
    store.sync();
}

QString GetSetting(const SettingKey &key)
{
    return GetSetting(QString::fromLatin1(kAppName), QString::fromLatin1(key.section),
                      QString::fromLatin1(key.key), QString::fromLatin1(key.defaultValue));
}

void SaveSetting(const SettingKey &key, const QString &value)
{
    SaveSetting(QString::fromLatin1(kAppName), QString::fromLatin1(key.section),
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
