#pragma once
// The mail body as RTF: a writer from QTextDocument and a reader into one.
//
// Pictures and embedded files live in the document as image characters
// (QTextImageFormat) whose name is a "quorvel-embedded:<sha1>" URL, with two resources:
//   - QTextDocument::ImageResource at that URL: the QImage shown (the picture, a
//     placeholder for a metafile, or the icon and name of an embedded file);
//   - rtf::EmbeddedResource at that URL + "#item": an rtf::Embedded with the original
//     bytes, written back exactly as they came in (a pasted sticker is never re-encoded).
// The image format's width and height are the display size in pixels (96 per inch,
// 15 twips each). Use insertPicture / insertFile to put them in and embeddedAt to
// read them back; the editor opens an embedded file from embeddedAt(...)->bytes.
//
// Text, font face, size (pixel sizes become points at 96 per inch), colour, bold,
// italic, underline, paragraph alignment, line breaks (U+2028) and tabs round-trip. Tables read back as their cell text,
// one row per paragraph with cells separated by tabs.

#include <QByteArray>
#include <QMetaType>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QTextDocument>
#include <QTextImageFormat>

#include <optional>

class QImage;
class QTextCursor;

namespace rtf {

// Limits of the reader; input beyond them is cut with an error, never a crash.
// insertPicture and insertFile keep a document within the item limits, so what
// writeRtf makes always reads back.
inline constexpr qsizetype MaxItemBytes = 100 * 1024 * 1024;      // one picture or file
inline constexpr qsizetype MaxEmbeddedBytes = 200 * 1024 * 1024;  // all of them, each time used
inline constexpr qsizetype MaxInputBytes = 512 * 1024 * 1024;     // hex doubles the items
inline constexpr qsizetype MaxShownBytes = 512 * 1024 * 1024;    // decoded pixels shown
inline constexpr int MaxGroupDepth = 1000;

inline constexpr int EmbeddedResource = QTextDocument::UserResource + 17;

struct Embedded {
    enum Kind { Picture, File };
    Kind kind = Picture;
    // Picture: the picture file's bytes (PNG, JPEG, BMP, WMF, EMF ...); a BMP travels
    // in RTF as \dibitmap0 without its 14-byte file header, rebuilt when read.
    // File: the embedded file's contents.
    QByteArray bytes;
    // Picture: the RTF word naming its format ("pngblip", "jpegblip", "emfblip",
    // "wmetafile8", "dibitmap0"); File: empty.
    QByteArray blip;
    QSize picSize;        // \picw \pich as read or written (pixels for bitmaps)
    QString name;         // File: the file name
    QString mimeType;     // File: its MIME type
    QByteArray iconPng;   // File: the PNG shown for it (written as the \result picture)
};

// Adds a picture from its file bytes at the cursor; the display size defaults to the
// picture's size in pixels. PNG, JPEG and BMP files are kept as they are; any other
// format Qt reads is stored as PNG. False (nothing inserted) when Qt cannot decode it
// or it would break the limits above.
bool insertPicture(QTextCursor &cursor, const QByteArray &bytes, QSizeF displaySize = {});
// Adds an embedded file at the cursor, shown as an icon with its name. False (nothing
// inserted) when it would break the limits above.
bool insertFile(QTextCursor &cursor, const QString &name, const QString &mimeType,
                const QByteArray &bytes);
// The bytes of all pictures and files in the document, counted each time they are used.
qint64 embeddedBytes(const QTextDocument &doc);
// What an image character carries, when it was put in by this module.
std::optional<Embedded> embeddedAt(const QTextDocument &doc, const QTextImageFormat &format);
// The picture shown for an embedded file: a document glyph and the file name.
QImage fileIcon(const QString &name);
// The PNG file of an image.
QByteArray pngFile(const QImage &image);

QByteArray writeRtf(const QTextDocument &doc);

struct ReadResult {
    bool ok = true;        // false: the input was not RTF or broke a limit; what was
                           // read before the fault is in the document
    QString error;
    QStringList warnings;  // things read with losses (undecodable picture, bad brace ...)
};
// Replaces the document's content with the RTF's, also when it fails (read into a
// scratch document to keep the old content).
ReadResult readRtf(const QByteArray &data, QTextDocument &doc);

} // namespace rtf

Q_DECLARE_METATYPE(rtf::Embedded)
