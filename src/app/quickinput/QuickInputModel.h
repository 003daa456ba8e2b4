#pragma once

#include "api/APIClient.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <chrono>

namespace quorral::app {

// One typed memory: trimmed, sent once as a manual memory, confirmed briefly, then the
// panel is dismissed. A failed save keeps the text and lets Return try again.
class QuickInputModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY changed)
    Q_PROPERTY(bool isSaving READ isSaving NOTIFY changed)
    Q_PROPERTY(bool showToast READ showToast NOTIFY changed)

public:
    explicit QuickInputModel(api::APIClient &client, std::chrono::milliseconds confirmation = std::chrono::milliseconds(600),
                             QObject *parent = nullptr);

    const QString &text() const { return m_text; }
    void setText(const QString &text);
    bool isSaving() const { return m_isSaving; }
    bool showToast() const { return m_showToast; }

public Q_SLOTS:
    // Return: sends the trimmed text unless it is empty or a save is already running.
    void save();
    // Escape.
    void dismiss() { Q_EMIT dismissRequested(); }

Q_SIGNALS:
    void changed();
    void saveFailed();
    void dismissRequested();

private:
    QCoro::Task<> send(std::string content);

    api::APIClient &m_client;
    QTimer m_confirmation;
    QString m_text;
    bool m_isSaving = false;
    bool m_showToast = false;
};

} // namespace quorral::app
