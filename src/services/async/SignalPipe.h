#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <initializer_list>
#include <memory>

namespace quorral::async {

// Turns SIGINT/SIGTERM into a Qt signal on the main thread (a self-pipe: the handler
// only writes a byte). One per process at a time; the default handlers return with it.
class SignalPipe : public QObject {
    Q_OBJECT
public:
    explicit SignalPipe(std::initializer_list<int> signalNumbers, QObject *parent = nullptr);
    ~SignalPipe() override;

Q_SIGNALS:
    void received(int signal);

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::vector<int> m_signals;
};

} // namespace quorral::async
