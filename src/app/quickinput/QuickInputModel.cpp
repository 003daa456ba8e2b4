#include "quickinput/QuickInputModel.h"

#include <QPointer>

namespace quorral::app {

QuickInputModel::QuickInputModel(api::APIClient &client, std::chrono::milliseconds confirmation, QObject *parent)
    : QObject(parent), m_client(client)
{
    m_confirmation.setSingleShot(true);
    m_confirmation.setInterval(confirmation);
    connect(&m_confirmation, &QTimer::timeout, this, &QuickInputModel::dismissRequested);
}

void QuickInputModel::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    Q_EMIT changed();
}

void QuickInputModel::save()
{
    const QString trimmed = m_text.trimmed();
    if (trimmed.isEmpty() || m_isSaving)
        return;
    m_isSaving = true;
    Q_EMIT changed();
    send(trimmed.toStdString());
}

QCoro::Task<> QuickInputModel::send(std::string content)
{
    QPointer<QuickInputModel> self(this);
    bool saved = false;
    try {
        co_await m_client.saveMemory(std::move(content));
        saved = true;
    } catch (const std::exception &) {
        // Nothing is shown: the text stays and Return tries again.
    }
    if (!self)
        co_return;
    if (saved) {
        // Still "saving" until the panel closes, so a late Return sends nothing.
        m_showToast = true;
        Q_EMIT changed();
        m_confirmation.start();
    } else {
        m_isSaving = false;
        Q_EMIT changed();
        Q_EMIT saveFailed();
    }
}

} // namespace quorral::app
