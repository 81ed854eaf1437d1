#pragma once
// Distinct 36 x 36 PNG stickers for the benchmarks of the mail body.

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPainter>

namespace bench {

inline QByteArray stickerPng(int i)
{
    QImage image(36, 36, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setBrush(QColor::fromHsv((i * 37) % 360, 200, 100 + (i * 13) % 155));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(2 + i % 5, 2, 30 - i % 5, 32);
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace bench
