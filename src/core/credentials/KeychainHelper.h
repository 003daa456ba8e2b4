#pragma once

#include <optional>
#include <stdexcept>
#include <string>

namespace quorral::credentials {

// The platform keychain item older installations kept the key in (service "ai.quorral",
// account "api_key"). Only read to migrate from; on Linux there is none.
class LegacyKeychain {
public:
    virtual ~LegacyKeychain() = default;
    virtual std::optional<std::string> readKey() = 0;
    virtual void deleteKey() = 0;
};

class NoLegacyKeychain final : public LegacyKeychain {
public:
    std::optional<std::string> readKey() override { return std::nullopt; }
    void deleteKey() override {}
};

struct CredentialsError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The user's API key in "~/.quorral/credentials": UTF-8, no newline, permissions 600,
// replaced through a temporary sibling and a rename.
class KeychainHelper {
public:
    explicit KeychainHelper(std::string home, LegacyKeychain &legacy);

    // The stored key (trimmed), migrating it from the legacy keychain when only that has one.
    std::optional<std::string> load() const;
    // Throws CredentialsError naming the step and the path that failed.
    void save(const std::string &apiKey) const;
    // Removes the credentials and the legacy item; never fails.
    void remove() const;

    std::string directory() const { return m_home + "/.quorral"; }
    std::string credentialsPath() const { return directory() + "/credentials"; }

private:
    std::string m_home;
    LegacyKeychain &m_legacy;
};

// A key of the service's form: begins with "qo_sk_" and has more than 10 characters.
bool isValidApiKey(const std::optional<std::string> &key);

// What may be logged of a key: its first 12 characters.
std::string keyPrefixForLog(const std::string &key);

} // namespace quorral::credentials
