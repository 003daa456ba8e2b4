#pragma once

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>

namespace quorral::settings {

// The user defaults store: a persistent map from keys to plain values (booleans,
// numbers, strings, lists and string-keyed dictionaries of those). Implementations
// must be safe to call from any thread.
class DefaultsStore {
public:
    virtual ~DefaultsStore() = default;

    virtual std::optional<nlohmann::json> value(const std::string &key) const = 0;
    virtual void setValue(const std::string &key, const nlohmann::json &value) = 0;
    virtual void remove(const std::string &key) = 0;
};

} // namespace quorral::settings
