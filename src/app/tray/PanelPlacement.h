#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace quorral::app {

// Where the tray panel goes: against the tray icon when its geometry is known (below it
// on a top panel, above it on a bottom one), else at the cursor; then moved, never
// resized, to lie inside the screen's available area (which may start at negative
// coordinates on a multi-monitor desktop).
QRect placePanel(QSize panel, const QRect &available, const std::optional<QRect> &icon, QPoint cursor);

} // namespace quorral::app
