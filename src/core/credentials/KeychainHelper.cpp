#include "credentials/KeychainHelper.h"

#include "io/FileDescriptor.h"
#include "io/ReadFile.h"
#include "text/Unicode.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace quorral::credentials {
namespace {

[[noreturn]] void fail(const std::string &what, const std::string &path, int error)
{
    throw CredentialsError("cannot " + what + " " + path + ": " + std::strerror(error));
}

} // namespace

KeychainHelper::KeychainHelper(std::string home, LegacyKeychain &legacy) : m_home(std::move(home)), m_legacy(legacy) {}

std::optional<std::string> KeychainHelper::load() const
{
    if (auto content = io::readWholeFile(credentialsPath()); content && text::isValidUtf8(*content)) {
        const auto key = text::trimWhitespace(*content);
        if (!key.empty())
            return std::string(key);
    }
    auto legacy = m_legacy.readKey();
    if (!legacy || !text::isValidUtf8(*legacy))
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
    const std::string dir = directory();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        fail("create", dir, ec.value());

    const std::string temporary = dir + "/credentials.tmp";
    {
        io::FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (!fd)
            fail("write", temporary, errno);
        std::size_t done = 0;
        while (done < apiKey.size()) {
            const ssize_t n = ::write(fd.get(), apiKey.data() + done, apiKey.size() - done);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                const int error = errno;
                ::unlink(temporary.c_str());
                fail("write", temporary, error);
            }
            done += static_cast<std::size_t>(n);
        }
        // An older temporary file may have other permissions: set them explicitly.
        if (::fchmod(fd.get(), 0600) != 0) {
            const int error = errno;
            ::unlink(temporary.c_str());
            fail("set permissions of", temporary, error);
        }
    }
    // rename() replaces the old file in one step, so a failure leaves the previous key whole.
    if (::rename(temporary.c_str(), credentialsPath().c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        fail("replace", credentialsPath(), error);
    }
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
