#include "app/Icons.h"

// Resources of a static library are registered by hand, once.
static void registerIcons()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    (void)done;
}

QIcon toolbarIcon(const QString &themeName, const QString &bundledName)
{
    registerIcons();
    return QIcon::fromTheme(themeName, QIcon(":/icons/" + bundledName + ".png"));
}

QIcon productPicture()
{
    registerIcons();
    return QIcon(":/icons/quorvel.png");
}
