#include "tray/TrayPanelView.h"

#include "resources/ApplicationResources.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace quorral::app {

namespace {

QLabel *label(const QString &text, QWidget *parent, int pointSize = 0, bool bold = false)
{
    auto *result = new QLabel(text, parent);
    result->setTextFormat(Qt::PlainText); // service texts are data, never markup
    QFont font = result->font();
    if (pointSize > 0)
        font.setPointSize(pointSize);
    font.setBold(bold);
    result->setFont(font);
    return result;
}

QPushButton *actionRow(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    // Seven rows share the fixed-height panel with the statistics: a compact row keeps
    // the layout from squeezing the labels above it.
    button->setFixedHeight(24);
    button->setStyleSheet(QStringLiteral("QPushButton { text-align: left; padding: 2px 8px; }"
                                         "QPushButton:hover { background: #eef0f4; border-radius: 4px; }"));
    return button;
}

QWidget *statCell(const QString &title, QLabel *&value, QWidget *parent)
{
    auto *cell = new QWidget(parent);
    auto *layout = new QVBoxLayout(cell);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(0);
    value = label(QString(), cell, 13, true);
    value->setAlignment(Qt::AlignCenter);
    auto *caption = label(title, cell, 9);
    caption->setAlignment(Qt::AlignCenter);
    layout->addWidget(value);
    layout->addWidget(caption);
    return cell;
}

} // namespace

QPalette lightPanelPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(0xfa, 0xfa, 0xfc));
    palette.setColor(QPalette::WindowText, QColor(0x1d, 0x1d, 0x1f));
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::AlternateBase, QColor(0xf2, 0xf2, 0xf5));
    palette.setColor(QPalette::Text, QColor(0x1d, 0x1d, 0x1f));
    palette.setColor(QPalette::Button, QColor(0xf2, 0xf2, 0xf5));
    palette.setColor(QPalette::ButtonText, QColor(0x1d, 0x1d, 0x1f));
    palette.setColor(QPalette::Highlight, QColor(0x4f, 0x6b, 0xed));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::PlaceholderText, QColor(0x8e, 0x8e, 0x93));
    return palette;
}

TrayPanelView::TrayPanelView(TrayPanelViewModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    setFixedSize(panelSize);
    setPalette(lightPanelPalette());
    setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_pages = new QStackedWidget(this);
    m_pages->addWidget(buildLoggedOut());
    m_pages->addWidget(buildLoggedIn());
    layout->addWidget(m_pages);
    connect(&m_model, &TrayPanelViewModel::changed, this, &TrayPanelView::redraw);
    redraw();
}

QWidget *TrayPanelView::buildLoggedOut()
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(24, 24, 24, 16);
    auto *logo = new QLabel(page);
    logo->setPixmap(QPixmap(resources::logoPath()).scaled(48, 48, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    logo->setAlignment(Qt::AlignCenter);
    layout->addStretch(1);
    layout->addWidget(logo);
    auto *title = label(QStringLiteral("登录 Quorral"), page, 16, true);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);
    auto *line = label(QStringLiteral("同步你的 AI 记忆到所有设备"), page, 10);
    line->setAlignment(Qt::AlignCenter);
    layout->addWidget(line);
    layout->addSpacing(12);

    m_signIn = new QPushButton(QStringLiteral("在浏览器中登录"), page);
    connect(m_signIn, &QPushButton::clicked, &m_model, &TrayPanelViewModel::signInWithWeb);
    layout->addWidget(m_signIn);

    m_waiting = new QWidget(page);
    auto *waiting = new QVBoxLayout(m_waiting);
    waiting->setContentsMargins(0, 0, 0, 0);
    auto *busy = new QProgressBar(m_waiting);
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setFixedHeight(6);
    waiting->addWidget(busy);
    auto *waitingText = label(QStringLiteral("等待网页登录…"), m_waiting);
    waitingText->setAlignment(Qt::AlignCenter);
    waiting->addWidget(waitingText);
    auto *buttons = new QHBoxLayout;
    auto *reopen = new QPushButton(QStringLiteral("重新打开网页"), m_waiting);
    auto *cancel = new QPushButton(QStringLiteral("取消"), m_waiting);
    connect(reopen, &QPushButton::clicked, &m_model, &TrayPanelViewModel::reopenLoginPage);
    connect(cancel, &QPushButton::clicked, &m_model, &TrayPanelViewModel::cancelDeviceAuth);
    buttons->addWidget(reopen);
    buttons->addWidget(cancel);
    waiting->addLayout(buttons);
    layout->addWidget(m_waiting);

    m_loginError = label(QString(), page, 10);
    m_loginError->setStyleSheet(QStringLiteral("color: #d70015;"));
    m_loginError->setAlignment(Qt::AlignCenter);
    m_loginError->setWordWrap(true);
    layout->addWidget(m_loginError);
    auto *note = label(QStringLiteral("支持 Google · GitHub · 邮箱验证码"), page, 9);
    note->setAlignment(Qt::AlignCenter);
    note->setStyleSheet(QStringLiteral("color: #8e8e93;"));
    layout->addWidget(note);
    layout->addStretch(1);
    auto *quit = actionRow(QStringLiteral("退出 Quorral"), page);
    connect(quit, &QPushButton::clicked, &m_model, &TrayPanelViewModel::requestQuit);
    layout->addWidget(quit);
    return page;
}

QWidget *TrayPanelView::buildLoggedIn()
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(14, 12, 14, 8);
    layout->setSpacing(4);

    auto *header = new QHBoxLayout;
    m_avatar = label(QString(), page, 16, true);
    m_avatar->setFixedSize(40, 40);
    m_avatar->setAlignment(Qt::AlignCenter);
    m_avatar->setStyleSheet(QStringLiteral("background: #4f6bed; color: white; border-radius: 20px;"));
    header->addWidget(m_avatar);
    connect(&m_avatarLoader, &AvatarLoader::loaded, this, [this](const QImage &picture) {
        m_avatarPicture = true;
        m_avatar->setText(QString());
        m_avatar->setPixmap(QPixmap::fromImage(circularAvatar(picture, 40, devicePixelRatioF())));
    });
    connect(&m_avatarLoader, &AvatarLoader::cleared, this, [this] {
        m_avatarPicture = false;
        m_avatar->setPixmap(QPixmap());
        m_avatar->setText(m_model.displayInitial());
    });
    auto *identity = new QVBoxLayout;
    auto *nameRow = new QHBoxLayout;
    m_name = label(QString(), page, 12, true);
    m_plan = label(QString(), page, 8, true);
    m_plan->setStyleSheet(QStringLiteral("color: #4f6bed; border: 1px solid #4f6bed; border-radius: 3px; padding: 0 3px;"));
    m_pioneer = label(QStringLiteral("PIONEER"), page, 8, true);
    m_pioneer->setStyleSheet(QStringLiteral("color: #b8860b; border: 1px solid #b8860b; border-radius: 3px; padding: 0 3px;"));
    nameRow->addWidget(m_name);
    nameRow->addWidget(m_plan);
    nameRow->addWidget(m_pioneer);
    nameRow->addStretch(1);
    identity->addLayout(nameRow);
    m_qoId = label(QString(), page, 9);
    m_qoId->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_qoId->setStyleSheet(QStringLiteral("color: #8e8e93;"));
    identity->addWidget(m_qoId);
    m_proExpiry = label(QString(), page, 9);
    identity->addWidget(m_proExpiry);
    header->addLayout(identity, 1);
    layout->addLayout(header);

    auto *levelRow = new QHBoxLayout;
    m_level = label(QString(), page, 10, true);
    m_xp = label(QString(), page, 9);
    levelRow->addWidget(m_level);
    levelRow->addStretch(1);
    levelRow->addWidget(m_xp);
    layout->addLayout(levelRow);
    m_xpBar = new QProgressBar(page);
    m_xpBar->setRange(0, 1000);
    m_xpBar->setTextVisible(false);
    m_xpBar->setFixedHeight(6);
    layout->addWidget(m_xpBar);
    m_memories = label(QString(), page, 11);
    layout->addWidget(m_memories);

    auto *stats = new QHBoxLayout;
    stats->addWidget(statCell(QStringLiteral("上次学习"), m_lastSync, page));
    stats->addWidget(statCell(QStringLiteral("今日新增"), m_todayNew, page));
    stats->addWidget(statCell(QStringLiteral("累计节省"), m_saved, page));
    layout->addLayout(stats);
    m_activity = label(QString(), page, 9);
    layout->addWidget(m_activity);
    m_syncing = label(QString(), page, 9);
    layout->addWidget(m_syncing);
    m_syncMessage = label(QString(), page, 9);
    m_syncMessage->setWordWrap(true);
    layout->addWidget(m_syncMessage);
    layout->addStretch(1);

    auto *sync = actionRow(QStringLiteral("同步本地记忆"), page);
    connect(sync, &QPushButton::clicked, &m_model, &TrayPanelViewModel::syncLocalMemories);
    layout->addWidget(sync);
    m_referral = actionRow(QString(), page);
    connect(m_referral, &QPushButton::clicked, &m_model, &TrayPanelViewModel::copyReferralLink);
    layout->addWidget(m_referral);
    auto *quickInput = actionRow(QStringLiteral("录入记忆        Ctrl+Shift+M"), page);
    connect(quickInput, &QPushButton::clicked, &m_model, &TrayPanelViewModel::requestQuickInput);
    layout->addWidget(quickInput);
    auto *dashboard = actionRow(QStringLiteral("打开 Dashboard"), page);
    connect(dashboard, &QPushButton::clicked, &m_model, &TrayPanelViewModel::openDashboard);
    layout->addWidget(dashboard);
    auto *settings = actionRow(QStringLiteral("设置"), page);
    connect(settings, &QPushButton::clicked, &m_model, &TrayPanelViewModel::openSettings);
    layout->addWidget(settings);
    auto *logout = actionRow(QStringLiteral("退出登录"), page);
    connect(logout, &QPushButton::clicked, &m_model, &TrayPanelViewModel::logout);
    layout->addWidget(logout);
    auto *quit = actionRow(QStringLiteral("退出 Quorral"), page);
    connect(quit, &QPushButton::clicked, &m_model, &TrayPanelViewModel::requestQuit);
    layout->addWidget(quit);
    return page;
}

void TrayPanelView::redraw()
{
    const auto &m = m_model;
    m_pages->setCurrentIndex(m.isLoggedIn() ? 1 : 0);

    m_signIn->setVisible(!m.isDeviceAuthPolling());
    m_waiting->setVisible(m.isDeviceAuthPolling());
    m_loginError->setText(m.loginError());
    m_loginError->setVisible(!m.loginError().isEmpty());

    // The initial stands in until the picture arrives, and whenever there is none.
    m_avatarLoader.load(m.avatarURL() ? QUrl(*m.avatarURL()) : QUrl());
    if (!m_avatarPicture)
        m_avatar->setText(m.displayInitial());
    m_name->setText(m.displayName());
    m_plan->setText(m.planLabel());
    m_qoId->setText(m.qoId().value_or(QString()));
    m_qoId->setVisible(m.qoId().has_value());
    m_pioneer->setVisible(m.isPioneer());
    const auto expiry = m.proExpiryLabel();
    m_proExpiry->setText(expiry.value_or(QString()));
    m_proExpiry->setVisible(expiry.has_value());
    m_level->setText(m.levelLabel());
    m_xp->setText(m.xpLabel());
    m_xpBar->setValue(static_cast<int>(m.xpProgress() * 1000));
    m_memories->setText(QStringLiteral("已学会 ") + QString::number(m.totalMemories()) + QStringLiteral(" 件事"));
    m_lastSync->setText(m.lastSyncLabel());
    m_todayNew->setText(QString::number(m.todayNewMemories()));
    m_saved->setText(m.savedLabel());
    const auto activity = m.todayActivityLabel();
    m_activity->setText(activity.value_or(QString()));
    m_activity->setVisible(activity.has_value());
    m_syncing->setText(QStringLiteral("正在同步… ") + m.syncProgress());
    m_syncing->setVisible(m.isSyncing());
    m_syncMessage->setText(m.syncResultMessage().value_or(QString()));
    m_syncMessage->setVisible(m.syncResultMessage().has_value());
    m_referral->setText(m.referralCopied() ? QStringLiteral("链接已复制") : QStringLiteral("邀请朋友得 Pro"));
}

bool TrayPanelView::showsAvatarPicture() const
{
    return m_avatarPicture;
}

QStringList TrayPanelView::visibleTexts() const
{
    QStringList texts;
    for (const auto *widget : m_pages->currentWidget()->findChildren<QWidget *>()) {
        if (!widget->isVisibleTo(m_pages->currentWidget()))
            continue;
        if (const auto *l = qobject_cast<const QLabel *>(widget); l && !l->text().isEmpty())
            texts << l->text();
        else if (const auto *b = qobject_cast<const QPushButton *>(widget))
            texts << b->text();
    }
    return texts;
}

void TrayPanelView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_model.refresh();
    m_model.startAutoRefresh();
}

void TrayPanelView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_model.stopAutoRefresh();
}

} // namespace quorral::app
