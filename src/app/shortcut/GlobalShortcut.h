#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

namespace quorral::app {

// Ctrl+Shift+M from any application opens the quick input. On X11 the key is grabbed on
// the root window (with NumLock and CapsLock in any state); elsewhere, or when another
// program holds the combination, it says so once in the log and the user binds
// `quorral --quick-input` in the desktop's settings instead.
class GlobalShortcut : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit GlobalShortcut(QObject *parent = nullptr);
    ~GlobalShortcut() override;

    bool isActive() const { return m_active; }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

Q_SIGNALS:
    void activated();

private:
    bool m_active = false;
    unsigned m_keycode = 0;
};

} // namespace quorral::app
