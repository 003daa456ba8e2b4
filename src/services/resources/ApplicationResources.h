#pragma once

#include <QByteArray>
#include <QString>

namespace quorral::resources {

// The application's images are compiled into the executable, so they are found wherever
// it is installed or started from.

// ":/quorral/logo.png", the logo of the tray icon, the tray panel and the setup wizard.
QString logoPath();

// The logo's PNG bytes.
QByteArray logoPng();

} // namespace quorral::resources
