// What other writers produce: pictures in every wrapping, code pages, \u skips, and
// broken files that must give a partial document or a clear error.
#include "RtfTestSupport.h"

using namespace rtftest;

namespace {

rtf::ReadResult read(const QByteArray &rtf, QTextDocument &doc)
{
    return rtf::readRtf("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}" + rtf + "}", doc);
}

QByteArray hex(const QByteArray &bytes) { return bytes.toHex(); }

} // namespace

TEST(RtfReader, PicturesInEveryWrappingComeOnceEach)
{
    const QByteArray red = sticker(Qt::red, true), green = sticker(Qt::green, false);
    const QByteArray jpeg = sticker(Qt::blue, false, 30, "JPEG");
    const QByteArray bmp = sticker(Qt::yellow, false, 20, "BMP");
    const QByteArray dib = bmp.mid(14);
    const QByteArray wmf = QByteArray::fromHex("d7cdc69a0000000000000004000000000000");
    QByteArray upperJpeg;
    for (qsizetype i = 0; i < jpeg.size(); i += 40)
        upperJpeg += jpeg.mid(i, 40).toHex().toUpper() + "\r\n";

    QTextDocument doc;
    const rtf::ReadResult r = read(
        "a{\\pict\\pngblip\\bin" + QByteArray::number(red.size()) + " " + red + "}"
        "b{\\pict\\picwgoal450\\pichgoal300\\jpegblip\r\n" + upperJpeg + "}"
        "c{\\pict\\dibitmap0\\picw20\\pich20 " + hex(dib) + "}"
        "d{\\pict\\wmetafile8\\picw100\\pich100\\picwgoal720\\pichgoal720 " + hex(wmf) + "}"
        "e{\\shp{\\*\\shpinst{\\sp{\\sn pib}{\\sv {\\pict\\pngblip " + hex(green) + "}}}}"
        "{\\shprslt{\\pict\\pngblip " + hex(red) + "}}}"
        "f{\\*\\shppict{\\pict{\\*\\blipuid 00ff}\\pngblip " + hex(green) + "}}{\\nonshppict{\\pict\\wmetafile8 " + hex(wmf) + "}}"
        "g{\\nonshppict{\\pict\\pngblip " + hex(red) + "}}"
        "h{\\object\\objemb{\\*\\objclass Word.Document.8}{\\*\\objdata 0102}{\\result{\\pict\\pngblip " + hex(green) + "}}}"
        "{\\*\\unknown text that is not shown{\\nested}}i", doc);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.warnings, QStringList());
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("a\ufffcb\ufffcc\ufffcd\ufffce\ufffcf\ufffcg\ufffch\ufffci"));

    const auto got = items(doc);
    ASSERT_EQ(got.size(), 8u);
    const QList<QByteArray> expected{red, jpeg, bmp, wmf, green, green, red, green};
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i].bytes, expected[qsizetype(i)]) << "picture " << i;
    EXPECT_EQ(got[2].blip, "dibitmap0");
    EXPECT_EQ(got[3].blip, "wmetafile8");
    const std::string shown = describe(doc);
    EXPECT_NE(shown.find("img 30x20 0"), std::string::npos) << shown;   // goal size in twips / 15
    EXPECT_NE(shown.find("img 48x48 0"), std::string::npos) << shown;   // the metafile's placeholder

    // The DIB decodes; the metafile is written back as it came.
    QStringList names;
    for (auto it = doc.begin().begin(); !it.atEnd(); ++it)
        if (it.fragment().charFormat().isImageFormat())
            names << it.fragment().charFormat().toImageFormat().name();
    const QImage dibImage = doc.resource(QTextDocument::ImageResource, QUrl(names.value(2))).value<QImage>();
    EXPECT_EQ(dibImage.size(), QSize(20, 20));
    EXPECT_EQ(QColor(dibImage.pixel(10, 10)), QColor(Qt::yellow));
    const QByteArray written = rtf::writeRtf(doc);
    EXPECT_TRUE(written.contains("\\wmetafile8\r\n" + hex(wmf) + "}")) << written.constData();
}

TEST(RtfReader, CodePagesAndUnicodeSkips)
{
    QTextDocument doc;
    ASSERT_TRUE(rtf::readRtf("{\\rtf1\\ansi\\ansicpg1251{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset238 Tahoma;}}"
                             "\\'cf\\'f0\\'e8 {\\f1 \\'b9\\'e6} \\uc2\\u1055\\'3f\\'3fx \\uc0\\u1088 y"
                             "{\\uc1\\u-10179?\\u-8704?}\\emdash\\~\\tab z\\line w}", doc).ok);
    EXPECT_EQ(doc.toRawText(), QStringLiteral("При ąć Пx рy😀—\u00a0\tz\u2028w"));

    ASSERT_TRUE(rtf::readRtf("{\\rtf1\\pc \\'81\\'e1}", doc).ok);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("üß"));
    const std::pair<int, QString> pages[] = {
        {1250, "\\'b9ą"}, {1251, "\\'cfП"}, {1252, "\\'80€"}, {1253, "\\'e1α"}, {1254, "\\'fdı"},
        {1255, "\\'e0א"}, {1256, "\\'c7ا"}, {1257, "\\'e0ą"}, {1258, "\\'e0à"}, {437, "\\'d0╨"}, {850, "\\'d0ð"}};
    for (const auto &[page, sample] : pages) {
        const rtf::ReadResult r = rtf::readRtf("{\\rtf1\\ansi\\ansicpg" + QByteArray::number(page) + " "
                                               + sample.left(4).toLatin1() + "}", doc);
        EXPECT_TRUE(r.ok && r.warnings.isEmpty()) << page;
        EXPECT_EQ(doc.toPlainText(), sample.mid(4)) << page;
    }
    ASSERT_TRUE(rtf::readRtf("{\\rtf1\\ansi\\ansicpg1253 \\'e1\\'e2\\par\\par}", doc).ok);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("αβ\n"));   // the last \par opens no paragraph
}

TEST(RtfReader, BrokenFilesGivePartialDocumentsOrClearErrors)
{
    QTextDocument doc;
    rtf::ReadResult r = rtf::readRtf("Hello, this is plain text", doc);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, QStringLiteral("This is not an RTF file."));

    r = rtf::readRtf("{\\rtf1 kept {\\b bold", doc);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("kept bold"));
    EXPECT_EQ(r.warnings, QStringList{QStringLiteral("The RTF file ends before all its groups are closed.")});

    r = rtf::readRtf("{\\rtf1 one}} two}\\pard x", doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("one"));

    r = rtf::readRtf("{\\rtf1 a{\\pict\\pngblip 89504e470}b{\\pict\\pngblip\\bin99999999 xyz", doc);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.warnings.contains(QStringLiteral("A \\bin block runs past the end of the file.")));
    EXPECT_TRUE(r.warnings.contains(QStringLiteral("A picture's hex data is cut short.")));
    EXPECT_TRUE(r.warnings.contains(QStringLiteral("A picture could not be decoded; a placeholder is shown.")));
    EXPECT_TRUE(doc.toPlainText().startsWith(QStringLiteral("a\ufffcb")));

    r = rtf::readRtf("{\\rtf1 deep" + QByteArray(5000, '{') + "x" + QByteArray(5000, '}') + "}", doc);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, QStringLiteral("The RTF groups are nested deeper than 1000 levels."));
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("deep"));

    // A JPEG that claims 30000 x 30000 pixels is not decoded, but kept.
    QByteArray huge = sticker(Qt::red, false, 16, "JPEG");
    const qsizetype sof = huge.indexOf("\xff\xc0");
    ASSERT_GT(sof, 0);
    huge.replace(sof + 5, 4, QByteArray::fromHex("75307530"));
    r = rtf::readRtf("{\\rtf1{\\pict\\jpegblip " + huge.toHex() + "}}", doc);
    EXPECT_EQ(r.warnings, QStringList{QStringLiteral("A picture is too large to show; a placeholder is shown.")});
    ASSERT_EQ(items(doc).size(), 1u);
    EXPECT_EQ(items(doc)[0].bytes, huge);

    r = rtf::readRtf("{\\rtf1 x\\'4", doc);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("x"));
    EXPECT_TRUE(r.warnings.contains(QStringLiteral("A \\' escape is cut short.")));
}
