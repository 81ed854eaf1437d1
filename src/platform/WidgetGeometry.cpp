#include "platform/WidgetGeometry.h"

#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace platform {

void centreOnScreen(QWidget *window)
{
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    window->move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter,
                                     window->frameGeometry().size(), screen->availableGeometry())
                     .topLeft());
}

} // namespace platform
