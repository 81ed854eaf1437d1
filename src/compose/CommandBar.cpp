#include "compose/CommandBar.h"

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
