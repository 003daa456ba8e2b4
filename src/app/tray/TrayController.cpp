#include "tray/TrayController.h"

#include "quickinput/QuickInputModel.h"
#include "quickinput/QuickInputView.h"
#include "resources/ApplicationResources.h"
#include "tray/PanelPlacement.h"

#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QKeySequence>
#include <QLoggingCategory>
#include <QScreen>

namespace {
Q_LOGGING_CATEGORY(lcTray, "quorral.tray")
} // namespace

namespace quorral::app {

namespace {

// About a minute: a tray host that comes later than that is not waited for.
constexpr int trayAttempts = 30;
constexpr auto trayRetryInterval = std::chrono::seconds(2);

QScreen *screenAt(QPoint point)
{
    if (QScreen *screen = QGuiApplication::screenAt(point))
        return screen;
    return QGuiApplication::primaryScreen();
}

} // namespace

TrayController::TrayController(services::ServiceRoot &services, TrayPanelEnvironment environment, QObject *parent)
    : QObject(parent), m_services(services), m_model(services, std::move(environment))
{
    m_panel = std::make_unique<TrayPanelView>(m_model);
    m_panel->setWindowTitle(QStringLiteral("Quorral"));
    m_panel->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    m_panel->installEventFilter(this);

    QIcon logo(resources::logoPath());
    if (logo.isNull())
        logo = QIcon::fromTheme(QStringLiteral("emblem-favorite"));
    m_icon.setIcon(logo);
    m_icon.setToolTip(QStringLiteral("Quorral"));

    auto *browser = m_menu.addAction(QStringLiteral("打开聊天记录…"));
    browser->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+H")));
    browser->setShortcutVisibleInContextMenu(true);
    connect(browser, &QAction::triggered, this, &TrayController::conversationBrowserRequested);
    m_menu.addSeparator();
    auto *quit = m_menu.addAction(QStringLiteral("退出 Quorral"));
    quit->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
    quit->setShortcutVisibleInContextMenu(true);
    connect(quit, &QAction::triggered, this, &TrayController::quitRequested);
    m_icon.setContextMenu(&m_menu);

    connect(&m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            togglePanel();
    });
    connect(&m_model, &TrayPanelViewModel::quitRequested, this, &TrayController::quitRequested);
    connect(&m_model, &TrayPanelViewModel::quickInputRequested, this, &TrayController::showQuickInput);

    m_trayRetry.setInterval(trayRetryInterval);
    connect(&m_trayRetry, &QTimer::timeout, this, &TrayController::tryShowIcon);
    tryShowIcon();
}

TrayController::~TrayController() = default;

void TrayController::tryShowIcon()
{
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_trayRetry.stop();
        m_icon.show();
        if (m_trayAttempts > 0)
            qCInfo(lcTray) << "the system tray appeared; the icon is in it now";
        return;
    }
    if (++m_trayAttempts == 1)
        m_trayRetry.start();
    if (m_trayAttempts == trayAttempts) {
        m_trayRetry.stop();
        qCWarning(lcTray).noquote()
            << "no system tray on this desktop (no StatusNotifierItem host or XEmbed tray); the panel opens as a "
               "window instead. Run `quorral` again to bring it back after closing it.";
        m_panelAsWindow = true;
        m_panel->setWindowFlags(Qt::Window);
        showPanel();
    }
}

void TrayController::togglePanel()
{
    if (m_panel->isVisible())
        m_panel->hide();
    else
        showPanel();
}

void TrayController::showPanel()
{
    if (!m_panelAsWindow) {
        const QRect iconGeometry = m_icon.geometry();
        const QPoint cursor = QCursor::pos();
        QScreen *screen = screenAt(iconGeometry.isValid() ? iconGeometry.center() : cursor);
        const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
        const auto place = placePanel(TrayPanelView::panelSize, available,
                                      iconGeometry.isValid() ? std::optional(iconGeometry) : std::nullopt, cursor);
        m_panel->move(place.topLeft());
    }
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
    // On X11 the request above can reach the window manager before the window is mapped
    // and be dropped; without the focus the panel would never see the click elsewhere
    // that hides it. Ask once more when the window is surely on screen.
    QTimer::singleShot(std::chrono::milliseconds(150), m_panel.get(), [panel = m_panel.get()] {
        if (panel->isVisible() && !panel->isActiveWindow())
            panel->activateWindow();
    });
}

void TrayController::showQuickInput()
{
    // Every request opens a fresh panel; it deletes itself (and its model) when closed.
    auto *model = new QuickInputModel(m_services.client());
    auto *view = new QuickInputView(*model);
    model->setParent(view);
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    view->setWindowTitle(QStringLiteral("Quorral"));
    const QScreen *screen = screenAt(QCursor::pos());
    if (screen) {
        const QRect area = screen->availableGeometry();
        view->move(area.center() - QPoint(QuickInputView::panelSize.width() / 2, QuickInputView::panelSize.height() / 2));
    }
    view->show();
    view->raise();
    view->activateWindow();
}

bool TrayController::eventFilter(QObject *watched, QEvent *event)
{
    // The panel is a popover: it goes away when the user clicks elsewhere.
    if (watched == m_panel.get() && event->type() == QEvent::WindowDeactivate && !m_panelAsWindow)
        m_panel->hide();
    return QObject::eventFilter(watched, event);
}

} // namespace quorral::app
