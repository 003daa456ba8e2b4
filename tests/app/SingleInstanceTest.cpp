#include "AppFixture.h"
#include "instance/SingleInstance.h"

#include <QFile>
#include <QSignalSpy>

#include <sys/wait.h>
#include <unistd.h>

using namespace quorral::test;
using quorral::app::SingleInstance;

namespace {

class SingleInstanceTest : public testing::Test {
protected:
    SingleInstanceTest() { application(); }
    TempHome home;
};

} // namespace

TEST_F(SingleInstanceTest, ASecondStartHandsItsRequestToTheFirst)
{
    SingleInstance first(home.path());
    ASSERT_EQ(first.start(SingleInstance::showPanel), SingleInstance::Role::primary) << first.error().toStdString();
    QSignalSpy received(&first, &SingleInstance::requestReceived);

    // The second start runs in another process, as it does in use; it waits for the answer,
    // which only comes while this one's event loop runs.
    const pid_t child = ::fork();
    if (child == 0) {
        SingleInstance second(home.path());
        ::_exit(second.start(SingleInstance::quickInput) == SingleInstance::Role::secondary ? 0 : 1);
    }
    ASSERT_TRUE(waitUntil([&] { return received.count() == 1; }));
    EXPECT_EQ(received.at(0).at(0).toByteArray(), SingleInstance::quickInput);
    int status = 0;
    ASSERT_TRUE(waitUntil([&] { return ::waitpid(child, &status, WNOHANG) == child; }));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(SingleInstanceTest, ALockLeftByACrashedProcessIsTakenOver)
{
    QString lockPath;
    {
        SingleInstance probe(home.path());
        lockPath = probe.lockPath();
    }
    // A process that took the lock and died without releasing it.
    const pid_t child = ::fork();
    if (child == 0) {
        SingleInstance crashed(home.path());
        crashed.start(SingleInstance::showPanel);
        ::_exit(0); // no destructors: the lock file and the socket file stay behind
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(QFile::exists(lockPath));

    SingleInstance next(home.path());
    ASSERT_EQ(next.start(SingleInstance::showPanel), SingleInstance::Role::primary) << next.error().toStdString();
    // And it is reachable: a later start gets through to it.
    QSignalSpy received(&next, &SingleInstance::requestReceived);
    const pid_t later = ::fork();
    if (later == 0) {
        SingleInstance second(home.path());
        ::_exit(second.start(SingleInstance::showPanel) == SingleInstance::Role::secondary ? 0 : 1);
    }
    ASSERT_TRUE(waitUntil([&] { return received.count() == 1; }));
    ASSERT_TRUE(waitUntil([&] { return ::waitpid(later, &status, WNOHANG) == later; }));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(SingleInstanceTest, AHolderThatNeverAnswersFailsTheSecondStartWithAReason)
{
    SingleInstance first(home.path());
    ASSERT_EQ(first.start(SingleInstance::showPanel), SingleInstance::Role::primary);
    QFile::remove(first.socketPath()); // the holder is alive but unreachable
    SingleInstance second(home.path());
    EXPECT_EQ(second.start(SingleInstance::showPanel, std::chrono::milliseconds(300)), SingleInstance::Role::failed);
    EXPECT_TRUE(second.error().contains(first.socketPath())) << second.error().toStdString();
}
