#pragma once

#include "settings/DefaultsStore.h"

namespace quorral::privacy {

// The user's choice whether secrets are redacted before upload, in the defaults store.
inline constexpr const char *redactSecretsKey = "redactSecrets";

// On unless the user turned it off: a missing or unreadable value reads as true.
bool redactionEnabled(const settings::DefaultsStore &store);
void setRedactionEnabled(settings::DefaultsStore &store, bool enabled);

} // namespace quorral::privacy
