#include "credentials/KeychainHelper.h"

#include "TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

using namespace quorral::credentials;
using quorral::test::TempHome;

namespace {

class FakeKeychain final : public LegacyKeychain {
public:
    std::optional<std::string> item;
    int deletes = 0;
    std::optional<std::string> readKey() override { return item; }
    void deleteKey() override
    {
        ++deletes;
        item.reset();
    }
};

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

TEST(KeychainHelper, SaveWritesTheBareKeyWithOwnerOnlyPermissions)
{
    TempHome home;
    FakeKeychain legacy;
    KeychainHelper helper(home.path(), legacy);
    helper.save("qo_sk_first");
    helper.save("qo_sk_second");
    EXPECT_EQ(slurp(home / ".quorral/credentials"), "qo_sk_second");
    struct stat st {};
    ASSERT_EQ(::stat((home / ".quorral/credentials").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600);
    EXPECT_FALSE(std::filesystem::exists(home / ".quorral/credentials.tmp"));
    EXPECT_EQ(helper.load(), "qo_sk_second");
    helper.remove();
    EXPECT_FALSE(std::filesystem::exists(home / ".quorral/credentials"));
    EXPECT_EQ(helper.load(), std::nullopt);
    helper.remove(); // a missing file is fine
}

TEST(KeychainHelper, LoadTrimsAndFallsBackToTheLegacyItemWhichIsMigrated)
{
    TempHome home;
    FakeKeychain legacy;
    KeychainHelper helper(home.path(), legacy);
    home.write(".quorral/credentials", "  qo_sk_spaced \n");
    EXPECT_EQ(helper.load(), "qo_sk_spaced");

    home.write(".quorral/credentials", "\n\n");
    EXPECT_EQ(helper.load(), std::nullopt);
    legacy.item = "qo_sk_from_keychain";
    EXPECT_EQ(helper.load(), "qo_sk_from_keychain");
    EXPECT_EQ(slurp(home / ".quorral/credentials"), "qo_sk_from_keychain");
    EXPECT_FALSE(legacy.item) << "the legacy item goes once the file holds the key";
}

TEST(KeychainHelper, FailedSaveThrowsWithThePathAndKeepsTheOldKey)
{
    TempHome home;
    FakeKeychain legacy;
    legacy.item = "qo_sk_legacy";
    home.write(".quorral", "a file where the folder should be");
    KeychainHelper blocked(home.path(), legacy);
    try {
        blocked.save("qo_sk_new_key");
        FAIL() << "save must fail";
    } catch (const CredentialsError &error) {
        EXPECT_NE(std::string(error.what()).find(home / ".quorral"), std::string::npos) << error.what();
    }
    EXPECT_EQ(legacy.deletes, 0) << "the legacy item stays until a save succeeds";

    TempHome other;
    KeychainHelper helper(other.path(), legacy);
    helper.save("qo_sk_old_key");
    other.mkdir(".quorral/credentials.tmp/blocker"); // the temporary file cannot be created
    EXPECT_THROW(helper.save("qo_sk_new_key"), CredentialsError);
    EXPECT_EQ(helper.load(), "qo_sk_old_key");
}

TEST(KeychainHelper, KeyFormAndLogPrefix)
{
    EXPECT_FALSE(isValidApiKey(std::nullopt));
    EXPECT_FALSE(isValidApiKey(std::string("qo_sk_abcd")));  // 10 characters
    EXPECT_TRUE(isValidApiKey(std::string("qo_sk_abcde")));  // 11 characters
    EXPECT_FALSE(isValidApiKey(std::string("sk_live_abcdefghijkl")));
    EXPECT_EQ(keyPrefixForLog("qo_sk_0123456789abcdef"), "qo_sk_012345");
    EXPECT_EQ(keyPrefixForLog("short"), "short");
}
