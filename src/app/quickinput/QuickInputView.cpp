#include "quickinput/QuickInputView.h"

#include "tray/TrayPanelView.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace quorral::app {

QuickInputView::QuickInputView(QuickInputModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    setFixedSize(panelSize);
    setPalette(lightPanelPalette());
    setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 10);
    layout->setSpacing(6);
    auto *prompt = new QLabel(QStringLiteral("记住这件事："), this);
    QFont promptFont = prompt->font();
    promptFont.setPointSize(11);
    promptFont.setWeight(QFont::Medium);
    prompt->setFont(promptFont);
    layout->addWidget(prompt);

    m_editor = new QPlainTextEdit(this);
    QFont editorFont = m_editor->font();
    editorFont.setPointSize(12);
    m_editor->setFont(editorFont);
    m_editor->setFrameShape(QFrame::NoFrame);
    m_editor->setMinimumHeight(36);
    m_editor->installEventFilter(this);
    connect(m_editor, &QPlainTextEdit::textChanged, this, [this] { m_model.setText(m_editor->toPlainText()); });
    layout->addWidget(m_editor, 1);

    auto *bottom = new QHBoxLayout;
    m_toast = new QLabel(QStringLiteral("✔ 记住了"), this);
    m_toast->setStyleSheet(QStringLiteral("color: #248a3d;"));
    bottom->addWidget(m_toast);
    bottom->addStretch(1);
    auto *hint = new QLabel(QStringLiteral("回车保存 · Esc关闭"), this);
    QFont hintFont = hint->font();
    hintFont.setPointSize(9);
    hint->setFont(hintFont);
    hint->setStyleSheet(QStringLiteral("color: #8e8e93;"));
    bottom->addWidget(hint);
    layout->addLayout(bottom);

    connect(&m_model, &QuickInputModel::changed, this, &QuickInputView::redraw);
    connect(&m_model, &QuickInputModel::dismissRequested, this, &QWidget::close);
    redraw();
}

void QuickInputView::redraw()
{
    m_toast->setVisible(m_model.showToast());
}

bool QuickInputView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_editor && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool isReturn = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (isReturn && (key->modifiers() & Qt::ShiftModifier)) {
            m_editor->insertPlainText(QStringLiteral("\n"));
            return true;
        }
        if (isReturn) {
            m_model.save();
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            m_model.dismiss();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void QuickInputView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_editor->setFocus(Qt::OtherFocusReason);
}

} // namespace quorral::app
