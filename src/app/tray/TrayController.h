#pragma once

#include "tray/TrayPanelView.h"
#include "tray/TrayPanelViewModel.h"

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include <memory>

namespace quorral::app {

// The tray icon, its menu and the panel it toggles; opens quick-input panels. When no
// tray host is there yet (the desktop still starting) it retries for a while, says so
// once, and then shows the panel as an ordinary window so the application is reachable.
class TrayController : public QObject {
    Q_OBJECT
public:
    TrayController(services::ServiceRoot &services, TrayPanelEnvironment environment, QObject *parent = nullptr);
    ~TrayController() override;

    TrayPanelViewModel &model() { return m_model; }
    TrayPanelView &panel() { return *m_panel; }

public Q_SLOTS:
    void togglePanel();
    void showPanel();
    void showQuickInput();

Q_SIGNALS:
    void quitRequested();
    void conversationBrowserRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void tryShowIcon();

    services::ServiceRoot &m_services;
    TrayPanelViewModel m_model;
    std::unique_ptr<TrayPanelView> m_panel;
    QSystemTrayIcon m_icon;
    QMenu m_menu;
    QTimer m_trayRetry;
    int m_trayAttempts = 0;
    bool m_panelAsWindow = false;
};

} // namespace quorral::app
