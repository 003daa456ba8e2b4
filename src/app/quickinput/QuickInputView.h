#pragma once

#include "quickinput/QuickInputModel.h"

#include <QWidget>

class QLabel;
class QPlainTextEdit;

namespace quorral::app {

// The quick-input panel: a prompt, the text box (Return saves, Shift+Return breaks the
// line, Escape closes) and the confirmation. Closes itself when the model dismisses.
class QuickInputView : public QWidget {
    Q_OBJECT
public:
    static constexpr QSize panelSize{480, 120};

    explicit QuickInputView(QuickInputModel &model, QWidget *parent = nullptr);

    QPlainTextEdit *editor() const { return m_editor; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void redraw();

    QuickInputModel &m_model;
    QPlainTextEdit *m_editor = nullptr;
    QLabel *m_toast = nullptr;
};

} // namespace quorral::app
