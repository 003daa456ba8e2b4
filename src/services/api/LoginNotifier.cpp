#include "api/LoginNotifier.h"

namespace quorral::api {

void LoginNotifier::post()
{
    QMetaObject::invokeMethod(this, [this] { Q_EMIT loginStateChanged(); }, Qt::QueuedConnection);
}

} // namespace quorral::api
