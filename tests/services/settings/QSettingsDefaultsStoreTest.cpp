#include "settings/QSettingsDefaultsStore.h"

#include "TempHome.h"

#include <QSettings>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

using quorral::settings::QSettingsDefaultsStore;

// Writes in a child process, so that the parent reads the file itself and not the
// per-process cache QSettings keeps.
TEST(QSettingsDefaultsStore, ValuesKeepTheirTypesThroughTheFile)
{
    quorral::test::TempHome home;
    const QString file = QString::fromStdString(home / "settings.ini");
    const nlohmann::json mtimes = {{"/home/ann/.claude/projects/-a-b/s.jsonl", 1765000000.125}, {"/x y/=z;[]", 2.0}};
    const nlohmann::json sizes = {{"/home/ann/log.jsonl", 9007199254740993LL}};

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        QSettingsDefaultsStore store(file);
        store.setValue("quorral_scanned_mtimes", mtimes);
        store.setValue("quorral_scanned_sizes", sizes);
        store.setValue("flag", true);
        store.setValue("count", 7);
        store.setValue("lastSyncAt", 1765000000.5);
        store.setValue("name", "Ann");
        store.setValue("gone", 1);
        store.remove("gone");
        store.sync();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    QSettingsDefaultsStore reopened(file);
    EXPECT_EQ(reopened.value("quorral_scanned_mtimes"), mtimes);
    const auto readSizes = reopened.value("quorral_scanned_sizes");
    ASSERT_TRUE(readSizes);
    EXPECT_EQ(*readSizes, sizes);
    EXPECT_TRUE((*readSizes)["/home/ann/log.jsonl"].is_number_integer());
    EXPECT_EQ(reopened.value("flag"), nlohmann::json(true));
    EXPECT_EQ(reopened.value("count"), nlohmann::json(7));
    EXPECT_TRUE(reopened.value("count")->is_number_integer());
    EXPECT_EQ(reopened.value("lastSyncAt"), nlohmann::json(1765000000.5));
    EXPECT_EQ(reopened.value("name"), nlohmann::json("Ann"));
    EXPECT_FALSE(reopened.value("gone"));
    EXPECT_FALSE(reopened.value("never set"));
}

TEST(QSettingsDefaultsStore, PlainStringsWrittenByOthersReadAsStrings)
{
    quorral::test::TempHome home;
    const QString file = QString::fromStdString(home / "settings.ini");
    {
        QSettings raw(file, QSettings::IniFormat);
        raw.setValue("quorral_api_key", "qo_sk_legacy_key");
    }
    QSettingsDefaultsStore store(file);
    EXPECT_EQ(store.value("quorral_api_key"), nlohmann::json("qo_sk_legacy_key"));
}
