#pragma once
// The toolbars of the compose windows: buttons with the glyph above the caption.

#include <QAction>
#include <QToolBar>

// A fixed toolbar of `parent` for command buttons.
QToolBar *makeCommandBar(QWidget *parent);

// Adds a button named `name` (the design's control name) with `caption`.
QAction *addCommand(QToolBar *bar, const QString &caption, const char *name);
