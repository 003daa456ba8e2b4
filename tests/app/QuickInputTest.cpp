#include "AccountHelpers.h"
#include "AppFixture.h"
#include "async/WaitFor.h"
#include "quickinput/QuickInputModel.h"
#include "quickinput/QuickInputView.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

using namespace quorral;
using namespace quorral::test;
using namespace std::chrono_literals;
using app::QuickInputModel;
using app::QuickInputView;

namespace {

class QuickInput : public AppFixture {
protected:
    void SetUp() override { services->client().setApiKey(newAccountKey(server.port())); }

    std::int64_t memoriesOnTheService() { return async::waitFor(services->client().getProfile()).memoryCount; }
};

} // namespace

TEST_F(QuickInput, OnlyTrimmedNonEmptyTextIsSentAndOnlyOnce)
{
    QuickInputModel model(services->client(), 100ms);
    QSignalSpy dismissed(&model, &QuickInputModel::dismissRequested);
    for (const char *blank : {"", "   ", " \n\t\n "}) {
        model.setText(blank);
        model.save();
        EXPECT_FALSE(model.isSaving()) << "'" << blank << "'";
    }
    model.setText("  I prefer tabs over spaces\n");
    model.save();
    EXPECT_TRUE(model.isSaving());
    model.save(); // Return again while the first is in flight
    model.save();
    ASSERT_TRUE(waitUntil([&] { return model.showToast(); }));
    EXPECT_TRUE(model.isSaving()); // stays: the panel is closing
    ASSERT_TRUE(waitUntil([&] { return dismissed.count() == 1; }, 2s));
    EXPECT_EQ(memoriesOnTheService(), 1);
}

TEST_F(QuickInput, TheRequestCarriesTheTrimmedTextAsAManualMemory)
{
    api::Config config = services->client().config();
    config.apiBaseURL = QUrl(QString::fromStdString(server.origin() + "/api/test/echo"));
    services::ServiceRoot echoing(home.path(), config, std::make_unique<settings::MemoryDefaultsStore>());
    echoing.client().setApiKey("qo_sk_whatever_key");
    QuickInputModel model(echoing.client(), 50ms);
    model.setText(QString::fromUtf8("   明天 9 点开会\n第二行 \n\n"));
    model.save();
    ASSERT_TRUE(waitUntil([&] { return model.showToast(); }));
    const auto body = nlohmann::json::parse(lastEchoed(server.port()).at("body").get<std::string>());
    EXPECT_EQ(body, (nlohmann::json{{"messages", {{{"role", "user"}, {"content", "明天 9 点开会\n第二行"}}}},
                                    {"source", "manual"}}));
}

TEST_F(QuickInput, AFailedSaveKeepsTheTextAndReturnTriesAgain)
{
    QuickInputModel model(services->client(), 50ms);
    QSignalSpy failed(&model, &QuickInputModel::saveFailed);
    QSignalSpy dismissed(&model, &QuickInputModel::dismissRequested);
    const int port = server.port();
    server.stop();
    model.setText("remember the milk");
    model.save();
    ASSERT_TRUE(waitUntil([&] { return failed.count() == 1; }, 40s));
    EXPECT_FALSE(model.isSaving());
    EXPECT_FALSE(model.showToast());
    EXPECT_EQ(model.text(), "remember the milk");
    EXPECT_EQ(dismissed.count(), 0);

    LocalServer again(QUORRAL_SERVER_EXECUTABLE, home / "server.db", true, port);
    model.save();
    ASSERT_TRUE(waitUntil([&] { return dismissed.count() == 1; }));
    EXPECT_EQ(failed.count(), 1);
    EXPECT_EQ(memoriesOnTheService(), 1);
}

TEST_F(QuickInput, KeysOfThePanel)
{
    auto *model = new QuickInputModel(services->client(), 50ms);
    QuickInputView view(*model);
    model->setParent(&view);
    view.show();
    QSignalSpy dismissed(model, &QuickInputModel::dismissRequested);

    QTest::keyClicks(view.editor(), "first");
    QTest::keyClick(view.editor(), Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(view.editor(), "second");
    EXPECT_EQ(model->text(), "first\nsecond");
    EXPECT_FALSE(model->isSaving());

    QTest::keyClick(view.editor(), Qt::Key_Escape);
    EXPECT_EQ(dismissed.count(), 1);
    EXPECT_FALSE(model->isSaving()); // Escape sends nothing

    QTest::keyClick(view.editor(), Qt::Key_Return);
    EXPECT_TRUE(model->isSaving());
    ASSERT_TRUE(waitUntil([&] { return model->showToast(); }));
    view.grab().save(QString::fromUtf8(QUORRAL_SCREENSHOT_DIR "/quick-input-saved.png"));
    ASSERT_TRUE(waitUntil([&] { return !view.isVisible(); }, 2s));
    EXPECT_EQ(memoriesOnTheService(), 1);
}
