#pragma once
// What the RTF tests compare: a document as text runs with their formats and the
// embedded items with their bytes, and stickers made on the fly.

#include "rtf/Rtf.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QTextBlock>

#include <gtest/gtest.h>

namespace rtftest {

// One line per block ("P<align>") and per fragment: text and format, or the item.
inline std::string describe(const QTextDocument &doc)
{
    QStringList out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        out << QStringLiteral("P%1").arg(int(b.blockFormat().alignment() & Qt::AlignHorizontal_Mask));
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            if (f.isImageFormat()) {
                const auto item = rtf::embeddedAt(doc, f.toImageFormat());
                const QImage shown = doc.resource(QTextDocument::ImageResource, QUrl(f.toImageFormat().name())).value<QImage>();
                for (int i = 0; i < it.fragment().length(); ++i)
                    out << QStringLiteral("img %1x%2 %3 %4 %5 %6 shown %7x%8")
                               .arg(f.toImageFormat().width()).arg(f.toImageFormat().height())
                               .arg(item ? int(item->kind) : -1)
                               .arg(item ? QStringLiteral("%1:%2").arg(item->bytes.size()).arg(qHash(item->bytes)) : QString())
                               .arg(item ? item->name : QString(), item ? item->mimeType : QString())
                               .arg(shown.width()).arg(shown.height());
                continue;
            }
            const QStringList families = f.fontFamilies().toStringList();
            out << QStringLiteral("'%1' %2 %3 %4 %5%6%7")
                       .arg(it.fragment().text(), families.value(0)).arg(f.fontPointSize())
                       .arg(f.foreground().style() == Qt::NoBrush ? QStringLiteral("auto") : f.foreground().color().name())
                       .arg(f.fontWeight() >= QFont::DemiBold).arg(f.fontItalic()).arg(f.fontUnderline());
        }
    }
    return out.join('\n').toStdString();
}

// A sticker: a filled circle on a transparent or plain ground, as PNG bytes.
inline QByteArray sticker(QColor color, bool transparent, int size = 36, const char *format = "PNG")
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(transparent ? QColor(0, 0, 0, 0) : QColor(Qt::white));
    QPainter painter(&image);
    painter.setBrush(color);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(2, 2, size - 4, size - 4);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// The embedded items of a document in order.
inline std::vector<rtf::Embedded> items(const QTextDocument &doc)
{
    std::vector<rtf::Embedded> out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat())
                for (int i = 0; i < it.fragment().length(); ++i)
                    if (auto item = rtf::embeddedAt(doc, it.fragment().charFormat().toImageFormat()))
                        out.push_back(*item);
    return out;
}

} // namespace rtftest
