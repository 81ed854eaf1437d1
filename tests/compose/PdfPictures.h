#pragma once
// What the editor's tests read back from a PDF: the pictures in it, by size.

#include <QProcess>
#include <QStringList>

// "<width>x<height>" of each picture that pdfimages lists (transparency masks, listed
// apart as "smask", are left out).
inline QStringList pdfPictureSizes(const QString &pdf)
{
    QProcess list;
    list.start("pdfimages", {"-list", pdf});
    list.waitForFinished();
    QStringList sizes;
    for (const QByteArray &line : list.readAllStandardOutput().split('\n'))
        if (const auto c = line.simplified().split(' '); c.size() > 4 && c[2] == "image")
            sizes += QString::fromLatin1(c[3] + "x" + c[4]);
    return sizes;
}
