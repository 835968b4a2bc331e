// SPDX-License-Identifier: MIT
#include "ui/Images.h"

// Resources in a static library must be registered by hand before first use.
static void ensureResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(registered);
}

QIcon appIcon()
{
    ensureResources();
    return QIcon(QStringLiteral(":/images/vesk-chat.png"));
}

QPixmap mainCornerPicture()
{
    ensureResources();
    return QPixmap(QStringLiteral(":/images/main-corner.png"));
}

QPixmap dialogCornerPicture()
{
    ensureResources();
    return QPixmap(QStringLiteral(":/images/dialog-corner.png"));
}
