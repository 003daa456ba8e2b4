#pragma once

#include "settings/DefaultsStore.h"

#include <nlohmann/json.hpp>

#include <map>
#include <mutex>

namespace quorral::settings {

// A store that lives only as long as the object: for tests, and for runs that must
// not touch the user's real defaults (a dry-run scan).
class MemoryDefaultsStore final : public DefaultsStore {
public:
    std::optional<nlohmann::json> value(const std::string &key) const override;
    void setValue(const std::string &key, const nlohmann::json &value) override;
    void remove(const std::string &key) override;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, nlohmann::json, std::less<>> m_values;
};

} // namespace quorral::settings
