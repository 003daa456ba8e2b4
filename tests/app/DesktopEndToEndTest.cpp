// The desktop application as a user meets it: a real X server (Xvfb), a window manager
// (openbox) and a tray host (trayer) on a session bus of their own, the built `quorral`
// against the real local service, and xdotool for the mouse and keyboard.
#include "AccountHelpers.h"
#include "LocalServer.h"
#include "Subprocess.h"
#include "TempHome.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <gmock/gmock.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;
using quorral::test::LocalServer;
using quorral::test::Subprocess;
using quorral::test::TempHome;
using testing::HasSubstr;

namespace {

// The program's full path on PATH, empty when it is not installed.
std::string which(const std::string &program)
{
    std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
    for (std::string dir; std::getline(path, dir, ':');)
        if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0)
            return dir + "/" + program;
    return {};
}

std::unique_ptr<Subprocess> start(std::vector<std::string> args, const std::map<std::string, std::string> &env)
{
    args.front() = which(args.front());
    return std::make_unique<Subprocess>(args, env);
}

bool eventually(const std::function<bool()> &done, std::chrono::milliseconds timeout = 15s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

struct Window {
    std::string id;
    int x = 0, y = 0, width = 0, height = 0;
};

// A display of its own: the X server, a session bus, the window manager and the tray host.
class Desktop {
public:
    Desktop()
    {
        m_xvfb = start(
            {"Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
            {});
        const auto number = m_xvfb->readLine(10s);
        if (!number)
            throw std::runtime_error("Xvfb did not start: " + m_xvfb->errorOutput());
        m_display = ":" + *number;
        m_bus = start(
            {"dbus-daemon", "--session", "--nofork", "--print-address=1"},
            {});
        const auto address = m_bus->readLine(10s);
        if (!address)
            throw std::runtime_error("dbus-daemon did not start");
        m_busAddress = *address;
        m_windowManager = start({"openbox"}, environment());
        // The tray host docks itself through the window manager: start it once that runs.
        if (!eventually([&] { return run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).find("window id") != std::string::npos; }))
            throw std::runtime_error("openbox did not start");
        m_trayHost = start(
            {"trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                                     "--height", "24", "--SetDockType", "true"},
            environment());
        if (!eventually([&] { return !run({"xdotool", "search", "--onlyvisible", "--class", "trayer"}).empty(); })) {
            m_trayHost->signal(SIGTERM);
            m_trayHost->wait();
            m_trayHostProblem = "trayer did not put up its panel: " + m_trayHost->errorOutput();
        }
    }

    ~Desktop()
    {
        m_screen.reset();
        for (auto *process : {m_trayHost.get(), m_windowManager.get(), m_bus.get(), m_xvfb.get()}) {
            process->signal(SIGTERM);
            process->wait();
        }
    }

    std::map<std::string, std::string> environment() const
    {
        return {{"DISPLAY", m_display}, {"WAYLAND_DISPLAY", ""}, {"DBUS_SESSION_BUS_ADDRESS", m_busAddress}};
    }
    const std::string &display() const { return m_display; }
    // Empty when the tray host is up.
    const std::string &trayHostProblem() const { return m_trayHostProblem; }

    // Runs an X client to its end and returns what it printed.
    std::string run(const std::vector<std::string> &args) const
    {
        auto client = start(args, environment());
        std::string out;
        while (auto line = client->readLine(10s))
            out += *line + "\n";
        client->wait();
        return out;
    }

    void xdotool(std::vector<std::string> args) const
    {
        args.insert(args.begin(), "xdotool");
        run(args);
    }

    // The application's windows that are on screen now, with their position on the screen.
    std::vector<Window> visibleWindows() const
    {
        std::vector<Window> windows;
        std::istringstream ids(run({"xdotool", "search", "--onlyvisible", "--classname", "quorral"}));
        for (std::string id; std::getline(ids, id);) {
            const std::string info = run({"xwininfo", "-id", id});
            Window window{id};
            const auto field = [&](const std::string &name) {
                std::smatch match;
                const std::regex pattern(name + ":\\s+(-?\\d+)");
                return std::regex_search(info, match, pattern) ? std::stoi(match[1]) : 0;
            };
            window.x = field("Absolute upper-left X");
            window.y = field("Absolute upper-left Y");
            window.width = field("Width");
            window.height = field("Height");
            if (info.find("IsViewable") != std::string::npos)
                windows.push_back(window);
        }
        return windows;
    }

    std::optional<Window> waitForWindow(const std::function<bool(const Window &)> &matches,
                                        std::chrono::milliseconds timeout = 15s) const
    {
        std::optional<Window> found;
        eventually(
            [&] {
                for (const auto &window : visibleWindows())
                    if (matches(window))
                        found = window;
                return found.has_value();
            },
            timeout);
        return found;
    }

    // The screen's pixels under a window, as the user sees them.
    void screenshot(const Window &window, const std::string &name) const
    {
        if (!m_screen) {
            static int argc = 1;
            static char arg0[] = "desktop_e2e";
            static char *argv[] = {arg0, nullptr};
            qputenv("DISPLAY", QByteArray::fromStdString(m_display));
            qputenv("QT_QPA_PLATFORM", "xcb");
            m_screen = std::make_unique<QGuiApplication>(argc, argv);
        }
        const QPixmap pixels = QGuiApplication::primaryScreen()->grabWindow(0, window.x, window.y, window.width,
                                                                            window.height);
        EXPECT_TRUE(pixels.save(QString::fromStdString(std::string(QUORRAL_SCREENSHOT_DIR) + "/" + name)));
    }

private:
    std::unique_ptr<Subprocess> m_xvfb, m_bus, m_windowManager, m_trayHost;
    // Made on the first screenshot; a client of this display, so it goes first.
    mutable std::unique_ptr<QGuiApplication> m_screen;
    std::string m_display, m_busAddress, m_trayHostProblem;
};

bool isTrayIcon(const Window &w) { return w.width >= 16 && w.width <= 48 && w.height <= 48 && w.y < 30; }
bool isPanel(const Window &w) { return w.width == 320 && w.height == 400; }
bool isQuickInput(const Window &w) { return w.width == 480 && w.height == 120; }
bool isMenu(const Window &w) { return !isTrayIcon(w) && !isPanel(w) && w.height < 200 && w.width >= 100; }

void clickAt(const Desktop &desktop, const Window &w, const char *button)
{
    desktop.xdotool({"mousemove", std::to_string(w.x + w.width / 2), std::to_string(w.y + w.height / 2), "click",
                     button});
}

std::vector<std::string> storedMemories(const std::string &database)
{
    std::vector<std::string> contents;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT content FROM memories", -1, &statement, nullptr) == SQLITE_OK) {
            while (sqlite3_step(statement) == SQLITE_ROW)
                contents.emplace_back(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
            sqlite3_finalize(statement);
        }
    }
    sqlite3_close(db);
    return contents;
}

class DesktopEndToEnd : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char *program : {"Xvfb", "dbus-daemon", "openbox", "trayer", "xdotool", "xwininfo", "xprop", "xmessage"})
            if (which(program).empty())
                GTEST_SKIP() << program << " is missing: scripts/install-deps.sh installs it";
        desktop = std::make_unique<Desktop>();
        // Some minimal containers cannot run the tray host; the application's own tray
        // fallback is tested offscreen, so only this run needs it.
        if (!desktop->trayHostProblem().empty())
            GTEST_SKIP() << desktop->trayHostProblem();
        std::filesystem::create_directories(home / ".config/Quorral");
        // The setup wizard is tested on its own; here the user has been through it.
        std::ofstream(home / ".config/Quorral/Quorral.conf") << "[General]\nonboardingCompleted=true\n";
    }

    std::unique_ptr<Subprocess> startQuorral()
    {
        auto env = desktop->environment();
        env.insert({{"HOME", home.path()},
                    {"XDG_CONFIG_HOME", home / ".config"},
                    {"XDG_RUNTIME_DIR", runtimeDir},
                    {"QT_QPA_PLATFORM", "xcb"},
                    {"QUORRAL_API_URL", server.origin() + "/api"}});
        return std::make_unique<Subprocess>(std::vector<std::string>{QUORRAL_EXECUTABLE}, env);
    }

    // Right click on the icon, then the menu's last item.
    int quitFromTheMenu(Subprocess &app, const Window &icon)
    {
        clickAt(*desktop, icon, "3");
        EXPECT_TRUE(desktop->waitForWindow(isMenu)) << "the menu did not open";
        desktop->xdotool({"key", "Up", "Return"});
        return app.wait();
    }

    TempHome home;
    std::string runtimeDir = [this] {
        const std::string dir = home.mkdir("run");
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
        return dir;
    }();
    LocalServer server{QUORRAL_SERVER_EXECUTABLE, home / "server.db"};
    std::unique_ptr<Desktop> desktop;
};

TEST_F(DesktopEndToEnd, TrayPanelShortcutQuickInputAndQuit)
{
    // Signed out: the icon appears in the tray, a click shows the panel with its login card.
    {
        auto app = startQuorral();
        const auto icon = desktop->waitForWindow(isTrayIcon);
        if (!icon) {
            const std::string tree = desktop->run({"xwininfo", "-root", "-tree"});
            app->signal(SIGTERM);
            app->wait();
            FAIL() << "no tray icon appeared: " << app->errorOutput() << "\n" << tree;
        }
        clickAt(*desktop, *icon, "1");
        const auto panel = desktop->waitForWindow(isPanel);
        ASSERT_TRUE(panel) << "the panel did not open; icon at " << icon->x << "," << icon->y << " " << icon->width << "x" << icon->height;
        // Next to the icon, inside the screen.
        EXPECT_LE(panel->x + panel->width, 1280);
        EXPECT_LT(std::abs(panel->y - (icon->y + icon->height)), 40);
        std::this_thread::sleep_for(500ms);
        desktop->screenshot(*panel, "e2e-panel-signed-out.png");
        desktop->xdotool({"key", "Escape"});
        EXPECT_EQ(quitFromTheMenu(*app, *icon), 0) << app->errorOutput();
    }

    // Signed in: the watcher runs, the shortcut opens the quick input over another window.
    std::filesystem::create_directories(home / ".quorral");
    std::ofstream(home / ".quorral/credentials") << quorral::test::newAccountKey(server.port());
    auto app = startQuorral();
    const auto icon = desktop->waitForWindow(isTrayIcon);
    ASSERT_TRUE(icon) << app->errorOutput();
    clickAt(*desktop, *icon, "1");
    auto panel = desktop->waitForWindow(isPanel);
    ASSERT_TRUE(panel);
    // The panel takes the focus, so that a click elsewhere takes it away and hides it.
    EXPECT_TRUE(eventually([&] {
        const std::string active = desktop->run({"xdotool", "getactivewindow"});
        return active == panel->id + "\n";
    })) << "the panel did not take the focus";
    std::this_thread::sleep_for(1s); // the statistics arrive from the service
    desktop->screenshot(*panel, "e2e-panel-signed-in.png");

    auto other = start({"xmessage", "-center", "another program"}, desktop->environment());
    const std::string otherWindow = [&] {
        std::string id;
        eventually([&] {
            std::istringstream ids(desktop->run({"xdotool", "search", "--onlyvisible", "--class", "Xmessage"}));
            return static_cast<bool>(std::getline(ids, id));
        });
        return id;
    }();
    ASSERT_FALSE(otherWindow.empty());
    desktop->xdotool({"windowactivate", "--sync", otherWindow});
    // The panel loses focus and hides.
    EXPECT_TRUE(eventually([&] {
        const auto windows = desktop->visibleWindows();
        return std::none_of(windows.begin(), windows.end(), isPanel);
    }));

    desktop->xdotool({"key", "ctrl+shift+m"});
    const auto quick = desktop->waitForWindow(isQuickInput);
    ASSERT_TRUE(quick) << "Ctrl+Shift+M did not open the quick input: " << app->errorOutput();
    const std::string memory = "remember from the desktop: the staging database is on port 5433";
    desktop->xdotool({"type", "--delay", "5", memory});
    desktop->screenshot(*quick, "e2e-quick-input.png");
    desktop->xdotool({"key", "Return"});
    EXPECT_TRUE(eventually([&] {
        const auto stored = storedMemories(home / "server.db");
        return std::any_of(stored.begin(), stored.end(), [&](const std::string &c) { return c.find(memory) != c.npos; });
    })) << "the memory did not reach the service";

    other->signal(SIGTERM);
    other->wait();
    EXPECT_EQ(quitFromTheMenu(*app, *icon), 0) << app->errorOutput();
    EXPECT_THAT(app->errorOutput(), HasSubstr("watching the AI tools' logs"));
    EXPECT_THAT(app->errorOutput(), HasSubstr("stopped watching; quitting"));
}

} // namespace
