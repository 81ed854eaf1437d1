#pragma once
// The toolbars of the compose windows: buttons with the glyph above the caption.

#include <QAction>
#include <QIcon>
#include <QStyle>
#include <QToolBar>

// The side of the square command buttons of the mail windows.
constexpr int kCommandButtonSize = 50;

// The desktop theme's icon `name`, or the style's `fallback` where the theme has none.
QIcon themeIcon(const QWidget *widget, const char *name, QStyle::StandardPixmap fallback);

// A fixed toolbar of `parent` for command buttons.
QToolBar *makeCommandBar(QWidget *parent);

// Adds a button named `name` (the design's control name) with `caption`.
QAction *addCommand(QToolBar *bar, const QString &caption, const char *name);
// The same with `icon`, on a square button of kCommandButtonSize.
QAction *addCommand(QToolBar *bar, const QString &caption, const char *name, const QIcon &icon);
