#include "resources/ApplicationResources.h"

#include <QFile>

namespace quorral::resources {

QString logoPath()
{
    return QStringLiteral(":/quorral/logo.png");
}

QByteArray logoPng()
{
    QFile file(logoPath());
    // A compiled-in resource cannot be missing; open() only fails if the build lost it.
    Q_ASSERT(file.exists());
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

} // namespace quorral::resources
