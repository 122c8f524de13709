#include "SettingsStore.h"

#include <QStringList>

#include <cmath>

namespace {
const QString organisation = QStringLiteral("zentrel");
const QString application = QStringLiteral("zentrel-vpn");

std::optional<qint64> integerFromText(const QString &text) {
    const QString trimmed = text.trimmed();
    bool ok = false;
    const qint64 whole = trimmed.toLongLong(&ok);
    if (ok)
        return whole;
    // "12.5" is numeric text too; its integer part is what an integer reader sees.
    const double number = trimmed.toDouble(&ok);
    if (ok && std::isfinite(number) && std::fabs(number) < 9.2e18)
        return static_cast<qint64>(number);
    return std::nullopt;
}
} // namespace

SettingsStore::SettingsStore(QObject *parent)
    : QObject(parent),
      m_settings(QSettings::NativeFormat, QSettings::UserScope, organisation, application) {}

std::optional<QString> SettingsStore::text(QLatin1String key) const {
    const QVariant value = m_settings.value(key);
    if (!value.isValid())
        return std::nullopt;
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::QStringList:
        // An INI file edited by hand turns "a,b" into a list; give back the text as written.
        return value.toStringList().join(QLatin1Char(','));
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Bool:
        return value.toString();
    default:
        return std::nullopt;
    }
}

std::optional<qint64> SettingsStore::integer(QLatin1String key) const {
    const QVariant value = m_settings.value(key);
    if (!value.isValid())
        return std::nullopt;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toLongLong();
    case QMetaType::Double:
    case QMetaType::QString:
        return integerFromText(value.toString()).value_or(0);
    default:
        return 0;
    }
}

// QSettings saves on the next turn of the event loop and again when destroyed; saving here
// would put two disk flushes into every keystroke of the preferences form.
void SettingsStore::setText(QLatin1String key, const QString &value) {
    m_settings.setValue(key, value);
    emit changed();
}

void SettingsStore::setInteger(QLatin1String key, qint64 value) {
    m_settings.setValue(key, value);
    emit changed();
}
