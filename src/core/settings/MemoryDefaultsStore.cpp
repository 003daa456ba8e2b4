#include "settings/MemoryDefaultsStore.h"

namespace quorral::settings {

std::optional<nlohmann::json> MemoryDefaultsStore::value(const std::string &key) const
{
    std::lock_guard lock(m_mutex);
    if (auto it = m_values.find(key); it != m_values.end())
        return it->second;
    return std::nullopt;
}

void MemoryDefaultsStore::setValue(const std::string &key, const nlohmann::json &value)
{
    std::lock_guard lock(m_mutex);
    m_values[key] = value;
}

void MemoryDefaultsStore::remove(const std::string &key)
{
    std::lock_guard lock(m_mutex);
    m_values.erase(key);
}

} // namespace quorral::settings
