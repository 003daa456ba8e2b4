#include "settings/QSettingsDefaultsStore.h"

#include <QVariantList>
#include <QVariantMap>

#include <nlohmann/json.hpp>

namespace quorral::settings {
namespace {

nlohmann::json fromVariant(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::Short:
        return static_cast<std::int64_t>(value.toLongLong());
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::ULong:
    case QMetaType::UShort:
        return static_cast<std::uint64_t>(value.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toDouble();
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return value.toString().toStdString();
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        nlohmann::json array = nlohmann::json::array();
        for (const auto &element : value.toList())
            array.push_back(fromVariant(element));
        return array;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        nlohmann::json object = nlohmann::json::object();
        const auto map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            object[it.key().toStdString()] = fromVariant(it.value());
        return object;
    }
    default:
        return nullptr;
    }
}

} // namespace

QSettingsDefaultsStore::QSettingsDefaultsStore()
    : m_settings(std::make_unique<QSettings>(QStringLiteral("Quorral"), QStringLiteral("Quorral")))
{
}

QSettingsDefaultsStore::QSettingsDefaultsStore(const QString &iniFile)
    : m_settings(std::make_unique<QSettings>(iniFile, QSettings::IniFormat))
{
}

// Values are kept as JSON text: an INI file would otherwise read every number and
// boolean back as a string. A plain string someone else wrote is read as that string.
std::optional<nlohmann::json> QSettingsDefaultsStore::value(const std::string &key) const
{
    std::lock_guard lock(m_mutex);
    const QString qkey = QString::fromStdString(key);
    if (!m_settings->contains(qkey))
        return std::nullopt;
    const QVariant stored = m_settings->value(qkey);
    if (stored.typeId() == QMetaType::QString) {
        const std::string text = stored.toString().toStdString();
        nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
        if (parsed.is_discarded())
            return nlohmann::json(text);
        return parsed;
    }
    return fromVariant(stored);
}

void QSettingsDefaultsStore::setValue(const std::string &key, const nlohmann::json &value)
{
    std::lock_guard lock(m_mutex);
    m_settings->setValue(QString::fromStdString(key), QString::fromStdString(value.dump()));
}

void QSettingsDefaultsStore::remove(const std::string &key)
{
    std::lock_guard lock(m_mutex);
    m_settings->remove(QString::fromStdString(key));
}

void QSettingsDefaultsStore::sync()
{
    std::lock_guard lock(m_mutex);
    m_settings->sync();
}

} // namespace quorral::settings
