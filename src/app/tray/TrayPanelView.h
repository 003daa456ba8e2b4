#pragma once

#include "tray/AvatarLoader.h"
#include "tray/TrayPanelViewModel.h"

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace quorral::app {

// The tray panel: the login card when logged out, the account and its actions when
// logged in. Lays out the model's values and forwards presses; holds no state of its own.
class TrayPanelView : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize panelSize{320, 400};

    explicit TrayPanelView(TrayPanelViewModel &model, QWidget *parent = nullptr);

    // For tests: the texts the panel currently shows, visible ones only.
    QStringList visibleTexts() const;
    // For tests: whether the avatar shows the fetched picture rather than the initial.
    bool showsAvatarPicture() const;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void redraw();
    QWidget *buildLoggedOut();
    QWidget *buildLoggedIn();

    TrayPanelViewModel &m_model;
    QStackedWidget *m_pages = nullptr;

    QPushButton *m_signIn = nullptr;
    QWidget *m_waiting = nullptr;
    QLabel *m_loginError = nullptr;

    QLabel *m_avatar = nullptr;
    AvatarLoader m_avatarLoader;
    bool m_avatarPicture = false;
    QLabel *m_name = nullptr;
    QLabel *m_plan = nullptr;
    QLabel *m_qoId = nullptr;
    QLabel *m_pioneer = nullptr;
    QLabel *m_proExpiry = nullptr;
    QLabel *m_level = nullptr;
    QLabel *m_xp = nullptr;
    QProgressBar *m_xpBar = nullptr;
    QLabel *m_memories = nullptr;
    QLabel *m_lastSync = nullptr;
    QLabel *m_todayNew = nullptr;
    QLabel *m_saved = nullptr;
    QLabel *m_activity = nullptr;
    QLabel *m_syncing = nullptr;
    QLabel *m_syncMessage = nullptr;
    QPushButton *m_referral = nullptr;
};

// The light palette the panel keeps whatever the desktop's theme.
QPalette lightPanelPalette();

} // namespace quorral::app
