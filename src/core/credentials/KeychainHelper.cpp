#include "credentials/KeychainHelper.h"

#include "io/AtomicWrite.h"
#include "io/ReadFile.h"
#include "text/Unicode.h"

#include <unistd.h>

namespace quorral::credentials {
KeychainHelper::KeychainHelper(std::string home, LegacyKeychain &legacy) : m_home(std::move(home)), m_legacy(legacy) {}

std::optional<std::string> KeychainHelper::load() const
{
    if (auto content = io::readWholeFile(credentialsPath()); content && text::isValidUtf8Short(*content)) {
        const auto key = text::trimWhitespace(*content);
        if (!key.empty())
            return std::string(key);
    }
    auto legacy = m_legacy.readKey();
    if (!legacy || !text::isValidUtf8Short(*legacy))
        return std::nullopt;
    try {
        save(*legacy);
    } catch (const CredentialsError &) {
        // The legacy item stays for the next attempt.
    }
    return legacy;
}

void KeychainHelper::save(const std::string &apiKey) const
{
    if (auto failure = io::createDirectories(directory()))
        throw CredentialsError(failure->message());
    // Created 0600 from the start, and rename() replaces the old file in one step, so a
    // failure leaves the previous key whole.
    const io::AtomicWriteOptions options{
        .temporarySuffix = ".tmp", .mode = 0600, .keepExistingMode = false, .followSymlink = false};
    if (auto failure = io::writeFileAtomically(credentialsPath(), apiKey, options))
        throw CredentialsError(failure->message());
    m_legacy.deleteKey();
}

void KeychainHelper::remove() const
{
    ::unlink(credentialsPath().c_str());
    m_legacy.deleteKey();
}

bool isValidApiKey(const std::optional<std::string> &key)
{
    return key && key->starts_with("qo_sk_") && text::graphemeCount(*key, 10) > 10;
}

std::string keyPrefixForLog(const std::string &key)
{
    return key.substr(0, text::graphemePrefixLength(key, 12));
}

} // namespace quorral::credentials
