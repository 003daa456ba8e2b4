#include "settings/QSettingsDefaultsStore.h"

#include "TempHome.h"

#include <gtest/gtest.h>

using quorral::settings::QSettingsDefaultsStore;

TEST(QSettingsDefaultsStore, ValuesKeepTheirTypesAcrossInstances)
{
    quorral::test::TempHome home;
    const QString file = QString::fromStdString(home / "settings.ini");
    const nlohmann::json mtimes = {{"/home/ann/.claude/projects/-a-b/s.jsonl", 1765000000.125}, {"/x y/=z", 2.0}};
    const nlohmann::json sizes = {{"/home/ann/log.jsonl", 9007199254740993LL}};
    {
        QSettingsDefaultsStore store(file);
        store.setValue("quorral_scanned_mtimes", mtimes);
        store.setValue("quorral_scanned_sizes", sizes);
        store.setValue("flag", true);
        store.setValue("name", "Ann");
        store.setValue("gone", 1);
        store.remove("gone");
        store.sync();
    }
    QSettingsDefaultsStore reopened(file);
    EXPECT_EQ(reopened.value("quorral_scanned_mtimes"), mtimes);
    const auto readSizes = reopened.value("quorral_scanned_sizes");
    ASSERT_TRUE(readSizes);
    EXPECT_EQ(*readSizes, sizes);
    EXPECT_TRUE((*readSizes)["/home/ann/log.jsonl"].is_number_integer());
    EXPECT_EQ(reopened.value("flag"), nlohmann::json(true));
    EXPECT_EQ(reopened.value("name"), nlohmann::json("Ann"));
    EXPECT_FALSE(reopened.value("gone"));
    EXPECT_FALSE(reopened.value("never set"));
}
