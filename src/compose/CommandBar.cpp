#include "compose/CommandBar.h"

#include <QWidget>

QIcon themeIcon(const QWidget *widget, const char *name, QStyle::StandardPixmap fallback)
{
    return QIcon::fromTheme(QString::fromLatin1(name), widget->style()->standardIcon(fallback));
}

QToolBar *makeCommandBar(QWidget *parent)
{
    auto *bar = new QToolBar(parent);
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    return bar;
}

QAction *addCommand(QToolBar *bar, const QString &caption, const char *name)
{
    QAction *a = bar->addAction(caption);
    a->setObjectName(name);
    return a;
}

QAction *addCommand(QToolBar *bar, const QString &caption, const char *name, const QIcon &icon)
{
    QAction *a = addCommand(bar, caption, name);
    a->setIcon(icon);
    bar->widgetForAction(a)->setFixedSize(kCommandButtonSize, kCommandButtonSize);
    return a;
}
