#pragma once
// The program's pictures: toolbar glyphs from the desktop's icon theme, with our
// own pictures where the theme has none, and the product picture.

#include <QIcon>
#include <QString>

// The theme icon `themeName`, or the bundled picture `bundledName` (":/icons/" +
// bundledName + ".png").
QIcon toolbarIcon(const QString &themeName, const QString &bundledName);

// The product picture of the splash and about windows.
QIcon productPicture();
