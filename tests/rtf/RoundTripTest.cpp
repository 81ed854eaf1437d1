// Documents written as RTF and read back keep their text, formats, pictures and files.
#include "RtfTestSupport.h"

#include <QTextCursor>

using namespace rtftest;

namespace {

QTextCharFormat format(const QString &family, double points, QColor color = {}, bool b = false,
                       bool i = false, bool u = false)
{
    QTextCharFormat f;
    f.setFontFamilies({family});
    f.setFontPointSize(points);
    if (color.isValid())
        f.setForeground(color);
    f.setFontWeight(b ? QFont::Bold : QFont::Normal);
    f.setFontItalic(i);
    f.setFontUnderline(u);
    return f;
}

void roundTrip(const QTextDocument &doc, QTextDocument &back)
{
    const QByteArray rtf = rtf::writeRtf(doc);
    const rtf::ReadResult result = rtf::readRtf(rtf, back);
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_TRUE(result.warnings.isEmpty()) << result.warnings.join('\n').toStdString();
    EXPECT_EQ(rtf::writeRtf(back), rtf) << "writing what was read gives other RTF";
}

} // namespace

TEST(RtfRoundTrip, TextInManyScriptsWithEveryFormat)
{
    QTextDocument doc;
    QTextCursor c(&doc);
    c.insertText(QStringLiteral("Plain ASCII with \\ { } and\ttab"), format("Arial", 12));
    c.insertText(QString(QChar::LineSeparator) + QStringLiteral("after a line break"), format("Arial", 12));
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    c.insertBlock(centred);
    c.insertText(QStringLiteral("Ελληνικά Кириллица "), format("Liberation Serif", 13.5, QColor(200, 0, 0), true));
    c.insertText(QStringLiteral("עברית العربية "), format("DejaVu Sans", 9, QColor(0, 0, 255), false, true));
    c.insertText(QStringLiteral("中文 日本語 한국어 "), format("Noto Sans CJK", 20, {}, true, true, true));
    c.insertText(QStringLiteral("emoji 😀 and 𝄞, nbsp\u00a0here"), format(QStringLiteral("Šrift Ünïcode"), 7, QColor(0, 128, 0), false, false, true));
    QTextBlockFormat right;
    right.setAlignment(Qt::AlignRight);
    c.insertBlock(right);
    QTextBlockFormat justified;
    justified.setAlignment(Qt::AlignJustify);
    c.insertBlock(justified);
    c.insertText(QStringLiteral("after an empty right-aligned paragraph"), format("Arial", 10));
    c.insertBlock(QTextBlockFormat());

    QTextDocument back;
    roundTrip(doc, back);
    EXPECT_EQ(describe(back), describe(doc));
    EXPECT_EQ(back.toPlainText(), doc.toPlainText());
}

TEST(RtfRoundTrip, PicturesAndFilesKeepTheirBytes)
{
    const QByteArray red = sticker(Qt::red, true), blue = sticker(Qt::blue, false, 48, "JPEG");
    const QByteArray bmp = sticker(Qt::green, false, 36, "BMP");
    QByteArray binary;
    for (int i = 0; i < 600; ++i)
        binary += char(i * 7);
    QTextDocument doc;
    QTextCursor c(&doc);
    c.setCharFormat(format("Arial", 12));
    c.insertText(QStringLiteral("two stickers "));
    ASSERT_TRUE(rtf::insertPicture(c, red));
    ASSERT_TRUE(rtf::insertPicture(c, red));   // the same sticker again, one resource
    ASSERT_TRUE(rtf::insertPicture(c, blue, QSizeF(24, 12)));
    ASSERT_TRUE(rtf::insertPicture(c, bmp));
    EXPECT_FALSE(rtf::insertPicture(c, "not a picture"));
    c.insertBlock();
    rtf::insertFile(c, QStringLiteral("Bericht für Ärzte {1}.pdf"), QStringLiteral("application/pdf"), binary);
    rtf::insertFile(c, QStringLiteral("empty.txt"), QStringLiteral("text/plain"), QByteArray());
    c.insertText(QStringLiteral(" end"), format("Arial", 12));

    QTextDocument back;
    roundTrip(doc, back);
    EXPECT_EQ(describe(back), describe(doc));
    EXPECT_NE(describe(back).find("img 24x12 0 "), std::string::npos);
    EXPECT_NE(describe(back).find(" shown 48x48"), std::string::npos) << "the picture itself is shown";
    const auto got = items(back);
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].bytes, red);
    EXPECT_EQ(got[0].blip, "pngblip");
    EXPECT_EQ(got[2].bytes, blue);
    EXPECT_EQ(got[2].blip, "jpegblip");
    EXPECT_EQ(got[3].bytes, bmp);
    EXPECT_EQ(got[3].blip, "dibitmap0");
    EXPECT_EQ(got[4].kind, rtf::Embedded::File);
    EXPECT_EQ(got[4].bytes, binary);
    EXPECT_EQ(got[4].name, QStringLiteral("Bericht für Ärzte {1}.pdf"));
    EXPECT_EQ(got[5].bytes, QByteArray());
    EXPECT_EQ(got[5].name, QStringLiteral("empty.txt"));
}

TEST(RtfRoundTrip, InsertingKeepsTheLimitsThatReadingEnforces)
{
    QTextDocument doc;
    QTextCursor c(&doc);
    const QByteArray big(rtf::MaxItemBytes, 'x');
    EXPECT_FALSE(rtf::insertFile(c, "too-big.bin", "application/octet-stream", big + 'y'));
    EXPECT_TRUE(rtf::insertFile(c, "big.bin", "application/octet-stream", big));
    EXPECT_TRUE(rtf::insertFile(c, "big.bin", "application/octet-stream", big));
    EXPECT_EQ(rtf::embeddedBytes(doc), 2 * rtf::MaxItemBytes);
    EXPECT_FALSE(rtf::insertPicture(c, sticker(Qt::red, true)));   // the total is reached
    EXPECT_EQ(doc.characterCount(), 3);
}
