#include "settings/QSettingsDefaultsStore.h"

#include <QVariantList>
#include <QVariantMap>

namespace quorral::settings {
namespace {

QVariant toVariant(const nlohmann::json &value)
{
    switch (value.type()) {
    case nlohmann::json::value_t::boolean:
        return value.get<bool>();
    case nlohmann::json::value_t::number_integer:
        return QVariant::fromValue<qlonglong>(value.get<std::int64_t>());
    case nlohmann::json::value_t::number_unsigned:
        return QVariant::fromValue<qulonglong>(value.get<std::uint64_t>());
    case nlohmann::json::value_t::number_float:
        return value.get<double>();
    case nlohmann::json::value_t::string:
        return QString::fromStdString(value.get<std::string>());
    case nlohmann::json::value_t::array: {
        QVariantList list;
        for (const auto &element : value)
            list.push_back(toVariant(element));
        return list;
    }
    case nlohmann::json::value_t::object: {
        QVariantMap map;
        for (const auto &[key, element] : value.items())
            map.insert(QString::fromStdString(key), toVariant(element));
        return map;
    }
    default:
        return {};
    }
}

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

std::optional<nlohmann::json> QSettingsDefaultsStore::value(const std::string &key) const
{
    std::lock_guard lock(m_mutex);
    const QString qkey = QString::fromStdString(key);
    if (!m_settings->contains(qkey))
        return std::nullopt;
    return fromVariant(m_settings->value(qkey));
}

void QSettingsDefaultsStore::setValue(const std::string &key, const nlohmann::json &value)
{
    std::lock_guard lock(m_mutex);
    m_settings->setValue(QString::fromStdString(key), toVariant(value));
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
