// make-stickers FONT OUTDIR: draws the stickers that ship with quorvel from a colour
// emoji font and packs each collection into OUTDIR/<name>.zip with the program's own
// archive component, so the build makes exactly the archives the editor reads.
//
// Stickers are 36 x 36 Windows bitmaps of 32 bits with an alpha channel: the emoji
// on a transparent background. Fully transparent pixels hold white, so a reader that
// ignores the alpha channel shows the emoji on white.
//
// The output is the same bytes on every run with the same font, Qt and zlib: members
// carry a fixed time (written in UTC) and fixed permissions, in a fixed order.

#include "Collections.h"

#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
#include "platform/Error.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimeZone>

#include <cstdio>
#include <ctime>

namespace {

// The pixel size of the font's colour bitmaps: glyphs drawn at it are not rescaled
// before our own smooth reduction to the sticker size.
constexpr int kNativePixelSize = 109;
constexpr int kCanvasSize = 192;
constexpr int kStickerSize = 36;
const QDateTime kMemberTime(QDate(2026, 1, 1), QTime(0, 0), QTimeZone::utc());
const char kStampName[] = "stickers.stamp";

// The emoji drawn at the font's native size, cut to a square around what it
// covers and reduced smoothly to the sticker size.
QImage renderSticker(const QFont &font, char32_t codePoint)
{
    QImage canvas(kCanvasSize, kCanvasSize, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        painter.setFont(font);
        painter.drawText(canvas.rect(), Qt::AlignCenter, QString::fromUcs4(&codePoint, 1));
    }
    QRect covered;
    for (int y = 0; y < canvas.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(canvas.constScanLine(y));
        for (int x = 0; x < canvas.width(); ++x) {
            if (qAlpha(line[x]) != 0)
                covered |= QRect(x, y, 1, 1);
        }
    }
    if (covered.isEmpty())
        return {};
    const int side = qMax(covered.width(), covered.height());
    QRect square(0, 0, side, side);
    square.moveCenter(covered.center());
    // Parts of the square outside the canvas come out transparent.
    return canvas.copy(square)
        .scaled(kStickerSize, kStickerSize, Qt::KeepAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32);
}

// A bottom-up 32-bit BMP with a BITMAPV4HEADER whose bit fields name the alpha
// channel, which Qt and most image readers honour.
QByteArray bitmapWithAlpha(const QImage &image)
{
    constexpr quint32 kFileHeaderSize = 14;
    constexpr quint32 kInfoHeaderSize = 108;
    constexpr quint32 kBitFields = 3;
    constexpr quint32 kSrgb = 0x73524742;         // 'sRGB'
    constexpr qint32 kPixelsPerMetre = 2835;      // 72 dpi
    const quint32 pixelBytes = quint32(image.width() * image.height() * 4);

    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("BM", 2);
    out << quint32(kFileHeaderSize + kInfoHeaderSize + pixelBytes) << quint32(0)
        << quint32(kFileHeaderSize + kInfoHeaderSize);
    out << kInfoHeaderSize << qint32(image.width()) << qint32(image.height()) << quint16(1)
        << quint16(32) << kBitFields << pixelBytes << kPixelsPerMetre << kPixelsPerMetre
        << quint32(0) << quint32(0);
    out << quint32(0x00FF0000) << quint32(0x0000FF00) << quint32(0x000000FF) << quint32(0xFF000000)
        << kSrgb;
    for (int i = 0; i < 12; ++i)   // colour space end points and gamma, unused for sRGB
        out << quint32(0);
    for (int y = image.height() - 1; y >= 0; --y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            out << quint32(qAlpha(line[x]) == 0 ? 0x00FFFFFFu : line[x]);
    }
    return bytes;
}

void writeMemberFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw platform::Error("cannot write " + path + ": " + file.errorString());
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    if (!file.open(QIODevice::ReadWrite) ||
        !file.setFileTime(kMemberTime, QFileDevice::FileModificationTime))
        throw platform::Error("cannot set the time of " + path + ": " + file.errorString());
}

// Draws every sticker of `collection` into `workDir` and packs them, in table
// order, into `archive`.
void makeCollection(const stickers::Collection &collection, const QFont &font,
                    const QString &workDir, const QString &archive)
{
    const QFontMetrics metrics(font);
    TZipArchive zip;
    zip.setZipFilename(archive);
    for (const stickers::Sticker &sticker : collection.stickers) {
        const QString name = QString::fromLatin1(sticker.name) + ".bmp";
        if (!metrics.inFontUcs4(sticker.codePoint))
            throw platform::Error(QStringLiteral("the font has no glyph for U+%1 (%2)")
                                      .arg(quint32(sticker.codePoint), 4, 16, QLatin1Char('0'))
                                      .arg(name));
        const QImage image = renderSticker(font, sticker.codePoint);
        if (image.isNull())
            throw platform::Error("the font draws nothing for " + name +
                                  " (does Qt's FreeType support colour bitmap fonts?)");
        const QString path = workDir + '/' + name;
        writeMemberFile(path, bitmapWithAlpha(image));
        zip.FSpecArgs << path;
    }
    zip.Add();
    if (zip.SuccessCount() != collection.stickers.size())
        throw platform::Error("cannot pack " + archive);
}

void makeAll(const QString &fontPath, const QString &outDir)
{
    const int fontId = QFontDatabase::addApplicationFont(fontPath);
    const QStringList families = QFontDatabase::applicationFontFamilies(fontId);
    if (fontId < 0 || families.isEmpty())
        throw platform::Error("cannot load the font " + fontPath);
    QFont font(families.first());
    font.setPixelSize(kNativePixelSize);
    // A glyph the font lacks must show up as missing, not be drawn from another font.
    font.setStyleStrategy(QFont::NoFontMerging);

    if (!QDir().mkpath(outDir))
        throw platform::Error("cannot create " + outDir);
    QDir out(outDir);
    for (const QString &old : out.entryList({"*.zip", kStampName}, QDir::Files))
        out.remove(old);
    // Built beside the output, so that the finished archives are renamed into place.
    QTemporaryDir work(out.filePath(".make-stickers-XXXXXX"));
    if (!work.isValid())
        throw platform::Error("cannot create a working directory in " + outDir);
    QStringList built;
    for (const stickers::Collection &collection : stickers::shippedCollections()) {
        const QString members = work.filePath(collection.name);
        if (!QDir().mkpath(members))
            throw platform::Error("cannot create " + members);
        const QString archive = work.filePath(QString::fromLatin1(collection.name) + ".zip");
        makeCollection(collection, font, members, archive);
        built << archive;
    }
    if (!syncArchives())
        throw platform::Error("cannot flush the archives in " + work.path());
    for (const QString &archive : built) {
        if (!QFile::rename(archive, out.filePath(QFileInfo(archive).fileName())))
            throw platform::Error("cannot move " + archive + " to " + outDir);
    }
    QFile stamp(out.filePath(kStampName));
    if (!stamp.open(QIODevice::WriteOnly))
        throw platform::Error("cannot write " + stamp.fileName());
}

} // namespace

int main(int argc, char **argv)
{
    // Member times are stored as local time; UTC makes them the same on every machine.
    qputenv("TZ", "UTC");
    ::tzset();
    // No window is shown; the same platform everywhere draws the same pixels, also
    // on a build machine without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: make-stickers FONT OUTDIR\n");
        return 2;
    }
    try {
        makeAll(args.at(1), args.at(2));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "make-stickers: %s\n", e.what());
        return 1;
    }
    return 0;
}
