#include "rtf/RtfEmbedded.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>

namespace rtf {
namespace detail {

// A document holds one resource per URL whatever its type: the item gets a URL of its own.
QUrl itemUrl(const QString &imageName)
{
    return QUrl(imageName + QStringLiteral("#item"));
}

QTextImageFormat addEmbedded(QTextDocument &doc, const Embedded &item, const QImage &shown,
                             QSizeF displaySize)
{
    // Named by content, so a sticker used many times is held once.
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(QByteArrayView(item.kind == Embedded::File ? "F" : "P"));
    hash.addData(item.name.toUtf8() + '\0' + item.mimeType.toUtf8() + '\0' + item.blip + '\0');
    hash.addData(item.bytes);
    const QUrl url(QStringLiteral("quorvel-embedded:") + QString::fromLatin1(hash.result().toHex()));
    if (!doc.resource(EmbeddedResource, itemUrl(url.toString())).isValid()) {
        doc.addResource(QTextDocument::ImageResource, url, shown);
        doc.addResource(EmbeddedResource, itemUrl(url.toString()), QVariant::fromValue(item));
    }
    QTextImageFormat format;
    format.setName(url.toString());
    if (displaySize.isEmpty())
        displaySize = shown.size();
    format.setWidth(displaySize.width());
    format.setHeight(displaySize.height());
    return format;
}

QByteArray bmpFromDib(const QByteArray &dib)
{
    if (dib.size() < 40)
        return {};
    auto u32 = [&dib](int at) {
        return quint32(quint8(dib[at])) | quint32(quint8(dib[at + 1])) << 8 |
               quint32(quint8(dib[at + 2])) << 16 | quint32(quint8(dib[at + 3])) << 24;
    };
    const quint32 headerSize = u32(0);
    const int bits = quint8(dib[14]) | quint8(dib[15]) << 8;
    quint32 colors = u32(32);
    if (colors == 0 && bits <= 8)
        colors = 1u << bits;
    if (headerSize < 12 || colors > 256)
        return {};
    const quint32 masks = (u32(16) == 3 && headerSize == 40) ? 12 : 0;   // BI_BITFIELDS
    const quint32 offset = 14 + headerSize + masks + colors * 4;
    QByteArray out("BM");
    for (const quint32 v : {quint32(14 + dib.size()), quint32(0), offset})
        for (int i = 0; i < 4; ++i)
            out += char((v >> (8 * i)) & 0xff);
    return out + dib;
}

QByteArray blipFor(const QByteArray &bytes)
{
    if (bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return "pngblip";
    if (bytes.startsWith("\xff\xd8\xff"))
        return "jpegblip";
    // A .bmp file whose header is the one a reader rebuilds travels as its DIB.
    if (bytes.startsWith("BM") && bytes.size() > 54 && bmpFromDib(bytes.mid(14)) == bytes)
        return "dibitmap0";
    return {};
}

QImage placeholder(QSize size)
{
    // Drawn small and scaled to the display size by the document.
    size = size.isEmpty() ? QSize(96, 96) : size.boundedTo(QSize(128, 128));
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(235, 235, 235));
    QPainter painter(&image);
    painter.setPen(QColor(128, 128, 128));
    painter.drawRect(0, 0, size.width() - 1, size.height() - 1);
    painter.drawLine(0, 0, size.width() - 1, size.height() - 1);
    painter.drawLine(0, size.height() - 1, size.width() - 1, 0);
    return image;
}

QTextImageFormat imageInText(const QTextCharFormat &around, const QTextImageFormat &image)
{
    // Only the text properties: the character before may itself be a picture.
    QTextCharFormat format;
    format.setFont(around.font(), QTextCharFormat::FontPropertiesSpecifiedOnly);
    if (around.hasProperty(QTextFormat::ForegroundBrush))
        format.setForeground(around.foreground());
    format.merge(image);
    return format.toImageFormat();
}

} // namespace detail

qint64 embeddedBytes(const QTextDocument &doc)
{
    qint64 total = 0;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat())
                if (const auto item = embeddedAt(doc, it.fragment().charFormat().toImageFormat()))
                    total += item->bytes.size() * it.fragment().length();
    return total;
}

namespace {

bool fits(const QTextDocument &doc, qsizetype size)
{
    return size <= MaxItemBytes && embeddedBytes(doc) + size <= MaxEmbeddedBytes;
}

void insertImageInText(QTextCursor &cursor, const QTextImageFormat &image)
{
    cursor.insertImage(detail::imageInText(cursor.charFormat(), image));
}

} // namespace

bool insertPicture(QTextCursor &cursor, const QByteArray &bytes, QSizeF displaySize)
{
    if (!cursor.document() || !fits(*cursor.document(), bytes.size()))
        return false;
    const QImage image = QImage::fromData(bytes);
    if (image.isNull())
        return false;
    Embedded item;
    item.bytes = bytes;
    item.blip = detail::blipFor(bytes);
    item.picSize = image.size();
    if (item.blip.isEmpty()) {
        // Only PNG and JPEG travel as themselves; any other format Qt reads becomes PNG.
        item.bytes = pngFile(image);
        item.blip = "pngblip";
    }
    insertImageInText(cursor, detail::addEmbedded(*cursor.document(), item, image, displaySize));
    return true;
}

bool insertFile(QTextCursor &cursor, const QString &name, const QString &mimeType,
                const QByteArray &bytes)
{
    if (!cursor.document() || !fits(*cursor.document(), bytes.size()))
        return false;
    Embedded item;
    item.kind = Embedded::File;
    item.bytes = bytes;
    item.name = name;
    item.mimeType = mimeType;
    const QImage icon = fileIcon(name);
    item.iconPng = pngFile(icon);
    item.picSize = icon.size();
    insertImageInText(cursor, detail::addEmbedded(*cursor.document(), item, icon, {}));
    return true;
}

std::optional<Embedded> embeddedAt(const QTextDocument &doc, const QTextImageFormat &format)
{
    const QVariant value = doc.resource(EmbeddedResource, detail::itemUrl(format.name()));
    if (!value.canConvert<Embedded>())
        return std::nullopt;
    return value.value<Embedded>();
}

QImage fileIcon(const QString &name)
{
    constexpr int width = 120, glyph = 40;
    QImage image(width, glyph + 24, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const int x = (width - 32) / 2;
    const QPolygon page({QPoint(x, 2), QPoint(x + 22, 2), QPoint(x + 32, 12), QPoint(x + 32, glyph - 2),
                         QPoint(x, glyph - 2)});
    painter.setPen(QPen(QColor(70, 90, 140), 1.5));
    painter.setBrush(QColor(225, 232, 248));
    painter.drawPolygon(page);
    painter.drawLine(x + 22, 2, x + 22, 12);
    painter.drawLine(x + 22, 12, x + 32, 12);
    // Text needs the font database of a GUI application; without one the glyph alone.
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        QFont font(QStringLiteral("Arial"));
        font.setPixelSize(12);
        painter.setFont(font);
        painter.setPen(Qt::black);
        const QString shown = QFontMetrics(font).elidedText(name, Qt::ElideMiddle, width - 4);
        painter.drawText(QRect(2, glyph + 2, width - 4, 20), Qt::AlignHCenter | Qt::AlignVCenter, shown);
    }
    return image;
}

QByteArray pngFile(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace rtf
