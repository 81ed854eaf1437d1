#pragma once
// Shared by the RTF reader and writer: how pictures and files are registered in a
// document, and the picture formats the RTF words name.

#include "rtf/Rtf.h"

#include <QImage>
#include <QUrl>

namespace rtf::detail {

// Registers the embedded item and its shown image; returns the image format that
// refers to them, sized displaySize (pixels).
QTextImageFormat addEmbedded(QTextDocument &doc, const Embedded &item, const QImage &shown,
                             QSizeF displaySize);
// The picture's format carrying the text properties of `around`, so that text typed
// after a picture or a file goes on in the surrounding face, size and colour.
QTextImageFormat imageInText(const QTextCharFormat &around, const QTextImageFormat &image);
// Where the item of the image named imageName is registered.
QUrl itemUrl(const QString &imageName);
// A .bmp file from a packed DIB (\dibitmap), its file header rebuilt; empty when the
// DIB is too short or damaged.
QByteArray bmpFromDib(const QByteArray &dib);
// The RTF picture word for the bytes of a picture file, empty when unknown.
QByteArray blipFor(const QByteArray &bytes);
// A grey frame shown for a picture Qt cannot draw (metafiles), size in pixels.
QImage placeholder(QSize size);

} // namespace rtf::detail
