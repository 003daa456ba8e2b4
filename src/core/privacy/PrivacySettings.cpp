#include "privacy/PrivacySettings.h"

#include <nlohmann/json.hpp>

namespace quorral::privacy {

bool redactionEnabled(const settings::DefaultsStore &store)
{
    const auto value = store.value(redactSecretsKey);
    if (!value)
        return true;
    if (value->is_boolean())
        return value->get<bool>();
    // A settings file read back from disk may give the boolean as its text.
    return !(value->is_string() && value->get<std::string>() == "false");
}

void setRedactionEnabled(settings::DefaultsStore &store, bool enabled)
{
    store.setValue(redactSecretsKey, enabled);
}

} // namespace quorral::privacy
