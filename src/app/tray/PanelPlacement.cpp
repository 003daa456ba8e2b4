#include "tray/PanelPlacement.h"

#include <algorithm>

namespace quorral::app {

namespace {

int clampInto(int position, int length, int start, int extent)
{
    // A panel larger than the area keeps its top-left corner visible.
    return std::max(start, std::min(position, start + extent - length));
}

} // namespace

QRect placePanel(QSize panel, const QRect &available, const std::optional<QRect> &icon, QPoint cursor)
{
    QPoint topLeft;
    if (icon && icon->isValid()) {
        // Centred under the icon, or above it when the icon sits in the lower half.
        topLeft.setX(icon->center().x() - panel.width() / 2);
        const bool iconAtBottom = icon->center().y() > available.center().y();
        topLeft.setY(iconAtBottom ? icon->top() - panel.height() : icon->bottom() + 1);
    } else {
        // The pointer is on the icon just clicked: open towards the screen's inside.
        const bool right = cursor.x() > available.center().x();
        const bool bottom = cursor.y() > available.center().y();
        topLeft.setX(right ? cursor.x() - panel.width() : cursor.x());
        topLeft.setY(bottom ? cursor.y() - panel.height() : cursor.y());
    }
    topLeft.setX(clampInto(topLeft.x(), panel.width(), available.left(), available.width()));
    topLeft.setY(clampInto(topLeft.y(), panel.height(), available.top(), available.height()));
    return QRect(topLeft, panel);
}

} // namespace quorral::app
