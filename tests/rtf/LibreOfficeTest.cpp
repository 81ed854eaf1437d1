// What we write opens in LibreOffice Writer, and what it writes we read. One soffice
// run per target format converts every input at once (soffice is slow to start); the
// tests skip with a message when LibreOffice is not installed.
#include "RtfTestSupport.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QLockFile>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTextCursor>

using namespace rtftest;

namespace {

const QByteArray &red() { static const QByteArray b = sticker(QColor(220, 20, 20, 200), true); return b; }
const QByteArray &blue() { static const QByteArray b = sticker(Qt::blue, false, 40); return b; }
const QByteArray &fileBytes() { static const QByteArray b("%PDF-1.4 not really\n\x01\x02\xff", 24); return b; }

QTextCharFormat run(const QString &family, double points, QColor color = {}, bool bold = false,
                    bool italic = false, bool underline = false)
{
    QTextCharFormat f;
    f.setFontFamilies({family});
    f.setFontPointSize(points);
    if (color.isValid())
        f.setForeground(color);
    if (bold)
        f.setFontWeight(QFont::Bold);
    f.setFontItalic(italic);
    f.setFontUnderline(underline);
    return f;
}

QByteArray oursRtf()
{
    QTextDocument doc;
    QTextCursor c(&doc);
    c.insertText(QStringLiteral("Stickers: "), run("Liberation Sans", 12));
    rtf::insertPicture(c, red(), QSizeF(36, 36));
    c.insertText(QStringLiteral(" and "), run("Liberation Sans", 12));
    rtf::insertPicture(c, blue(), QSizeF(80, 80));
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    c.insertBlock(centred);
    c.insertText(QStringLiteral("Grüße "), run("Liberation Serif", 14, QColor(0, 0, 200), true));
    c.insertText(QStringLiteral("Привет 中文"), run("DejaVu Sans", 10, QColor(0, 128, 0), false, true, true));
    return rtf::writeRtf(doc);
}

QByteArray objectRtf()
{
    QTextDocument doc;
    QTextCursor c(&doc);
    c.insertText(QStringLiteral("Attached: "), run("Liberation Sans", 12));
    rtf::insertFile(c, QStringLiteral("report.pdf"), QStringLiteral("application/pdf"), fileBytes());
    return rtf::writeRtf(doc);
}

// A flat ODT with fonts, colours, a table and a picture, for LibreOffice to write as RTF.
QByteArray sourceFodt()
{
    return QByteArray(R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.text">
<office:font-face-decls>
 <style:font-face style:name="Liberation Mono" svg:font-family="'Liberation Mono'"/>
</office:font-face-decls>
<office:automatic-styles>
 <style:style style:name="T1" style:family="text"><style:text-properties style:font-name="Liberation Mono" fo:font-size="14pt" fo:color="#c00000" fo:font-weight="bold"/></style:style>
 <style:style style:name="T2" style:family="text"><style:text-properties fo:font-style="italic" style:text-underline-style="solid" style:text-underline-width="auto" style:text-underline-color="font-color"/></style:style>
</office:automatic-styles>
<office:body><office:text>
 <text:p>Plain <text:span text:style-name="T1">red mono</text:span> and <text:span text:style-name="T2">italic underlined</text:span> Привет</text:p>
 <table:table table:name="T"><table:table-column table:number-columns-repeated="2"/>
  <table:table-row><table:table-cell><text:p>cell A1</text:p></table:table-cell><table:table-cell><text:p>cell B1</text:p></table:table-cell></table:table-row>
 </table:table>
 <text:p>Picture: <draw:frame draw:name="P1" text:anchor-type="as-char" svg:width="0.5in" svg:height="0.5in"><draw:image><office:binary-data>)")
        + blue().toBase64() + R"(</office:binary-data></draw:image></draw:frame> after</text:p>
</office:text></office:body></office:document>
)";
}

QByteArray run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.waitForFinished(180000);
    return p.readAll();
}

// The conversions, made once: ctest runs every test in a process of its own, so the
// first one converts under a lock into a directory beside the test program, named by
// the inputs' hash, and the others read what it left.
struct Conversions {
    QString root;
    QString soffice;
    QString failure;   // why a conversion did not produce its file

    QString path(const QString &name) const { return root + "/" + name; }

    Conversions()
    {
        soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        if (soffice.isEmpty())
            return;
        const QList<std::pair<QString, QByteArray>> inputs{
            {"ours.rtf", oursRtf()}, {"object.rtf", objectRtf()}, {"source.fodt", sourceFodt()}};
        QCryptographicHash hash(QCryptographicHash::Sha1);
        for (const auto &[name, bytes] : inputs)
            hash.addData(name.toUtf8() + bytes);
        root = QCoreApplication::applicationDirPath() + "/libreoffice-" + hash.result().toHex().left(16);
        QLockFile lock(root + ".lock");
        lock.setStaleLockTime(600000);
        lock.lock();
        if (QFile::exists(path("done")))
            return;
        QDir(root).removeRecursively();
        for (const auto &[name, bytes] : inputs)
            testsupport::writeFile(path("in/" + name), bytes);
        convert("odt", {"ours.rtf", "object.rtf"});
        convert("pdf", {"ours.rtf"});
        convert("rtf", {"ours.rtf", "source.fodt"});
        QDir(path("profile")).removeRecursively();
        if (failure.isEmpty())
            testsupport::writeFile(path("done"), {});
    }

    void convert(const QString &format, const QStringList &inputs)
    {
        QStringList args{"-env:UserInstallation=" + QUrl::fromLocalFile(path("profile")).toString(),
                         "--headless", "--norestore", "--convert-to", format, "--outdir", path("out-" + format)};
        for (const QString &in : inputs)
            args << path("in/" + in);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", path("home"));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(soffice, args);
        p.waitForFinished(180000);
        const QByteArray log = p.readAll();
        // soffice exits 0 even when a conversion failed: the output file is the proof.
        for (const QString &in : inputs) {
            const QString out = output(format, in);
            if (!QFile::exists(out))
                failure += QStringLiteral("%1 was not converted to %2:\n%3\n").arg(in, format, QString::fromLocal8Bit(log));
        }
    }

    QString output(const QString &format, const QString &input) const
    {
        return path("out-" + format + "/" + QFileInfo(input).completeBaseName() + "." + format);
    }
};

Conversions &conversions()
{
    static Conversions c;
    return c;
}

class LibreOffice : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (conversions().soffice.isEmpty())
            GTEST_SKIP() << "LibreOffice (soffice) is not installed; scripts/install-deps installs it";
        ASSERT_TRUE(conversions().failure.isEmpty()) << conversions().failure.toStdString();
    }

    static QByteArray member(const QString &zip, const QString &name)
    {
        return run("unzip", {"-p", zip, name});
    }

    static QStringList members(const QString &zip)
    {
        return QString::fromUtf8(run("unzip", {"-Z1", zip})).split('\n', Qt::SkipEmptyParts);
    }

    static QTextDocument *readBack(const QString &file, rtf::ReadResult *result = nullptr)
    {
        auto *doc = new QTextDocument;
        const rtf::ReadResult r = rtf::readRtf(testsupport::readFile(file), *doc);
        EXPECT_TRUE(r.ok) << r.error.toStdString();
        if (result)
            *result = r;
        return doc;
    }
};

// svg:width / svg:height of a frame in pixels at 96 per inch.
double toPixels(const QString &length)
{
    const double v = QStringView(length).chopped(2).toDouble();
    return length.endsWith("in") ? v * 96 : length.endsWith("cm") ? v * 96 / 2.54 : length.endsWith("mm") ? v * 96 / 25.4 : v;
}

} // namespace

TEST_F(LibreOffice, OdtHoldsBothStickersWithTheirBytesAndSize)
{
    const QString odt = conversions().output("odt", "ours.rtf");
    QStringList pictures;
    for (const QString &name : members(odt))
        if (name.startsWith("Pictures/"))
            pictures << name;
    ASSERT_EQ(pictures.size(), 2) << pictures.join(' ').toStdString();
    QList<QByteArray> bytes{member(odt, pictures[0]), member(odt, pictures[1])};
    EXPECT_TRUE(bytes.contains(red()));
    EXPECT_TRUE(bytes.contains(blue()));

    const QString content = QString::fromUtf8(member(odt, "content.xml"));
    static const QRegularExpression frame(R"re(<draw:frame[^>]*svg:width="([^"]+)"[^>]*svg:height="([^"]+)")re");
    QList<double> widths;
    for (auto m = frame.globalMatch(content); m.hasNext();) {
        const auto match = m.next();
        widths << toPixels(match.captured(1));
        EXPECT_NEAR(toPixels(match.captured(1)), toPixels(match.captured(2)), 0.5);
    }
    std::sort(widths.begin(), widths.end());
    ASSERT_EQ(widths.size(), 2);
    EXPECT_NEAR(widths[0], 36, 0.5);
    EXPECT_NEAR(widths[1], 80, 0.5);
}

TEST_F(LibreOffice, PdfShowsBothStickers)
{
    const QString list = QString::fromUtf8(run("pdfimages", {"-list", conversions().output("pdf", "ours.rtf")}));
    QStringList images;
    for (const QString &line : list.split('\n')) {
        const QStringList cols = line.simplified().split(' ');
        if (cols.size() > 4 && cols[2] == "image")
            images << cols[3] + "x" + cols[4];
    }
    images.sort();
    EXPECT_EQ(images, QStringList({"36x36", "40x40"})) << list.toStdString();
}

TEST_F(LibreOffice, ItsRtfOfOurRtfReadsBackOnceEach)
{
    std::unique_ptr<QTextDocument> doc(readBack(conversions().output("rtf", "ours.rtf")));
    const auto got = items(*doc);
    ASSERT_EQ(got.size(), 2u) << "the \\nonshppict copies must not be read as well";
    EXPECT_EQ(got[0].bytes, red());
    EXPECT_EQ(got[1].bytes, blue());
    EXPECT_EQ(doc->toPlainText(), QStringLiteral("Stickers: \ufffc and \ufffc\nGrüße Привет 中文"));
    QTextDocument original;
    rtf::readRtf(oursRtf(), original);
    // The second paragraph's runs and formats as we wrote them (LibreOffice adds none).
    const auto second = [](const QTextDocument &d) {
        const std::string all = describe(d);
        return all.substr(all.rfind("P4"));
    };
    EXPECT_EQ(second(*doc), second(original));
}

TEST_F(LibreOffice, ReadsWhatItWritesFromAnOdt)
{
    std::unique_ptr<QTextDocument> doc(readBack(conversions().output("rtf", "source.fodt")));
    const QString text = doc->toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("Plain red mono and italic underlined Привет"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("cell A1\tcell B1\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Picture: \ufffc after"))) << text.toStdString();
    const std::string formats = describe(*doc);
    EXPECT_NE(formats.find("'red mono' Liberation Mono 14 #c00000 100"), std::string::npos) << formats;
    EXPECT_NE(formats.find("'italic underlined' Liberation Serif 12 auto 011"), std::string::npos) << formats;
    const auto got = items(*doc);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes, blue());
    EXPECT_NE(formats.find("img 48x48 0"), std::string::npos) << formats;
}

TEST_F(LibreOffice, EmbeddedFileKeepsItsResultPicture)
{
    const QString odt = conversions().output("odt", "object.rtf");
    QTextDocument ours;
    ASSERT_TRUE(rtf::readRtf(objectRtf(), ours).ok);
    const auto item = items(ours);
    ASSERT_EQ(item.size(), 1u);
    EXPECT_EQ(item[0].name, QStringLiteral("report.pdf"));
    EXPECT_EQ(item[0].bytes, fileBytes());
    QList<QByteArray> pictures;
    for (const QString &name : members(odt))
        if (name.startsWith("Pictures/") || name.startsWith("ObjectReplacements/"))
            pictures << member(odt, name);
    EXPECT_TRUE(pictures.contains(item[0].iconPng)) << members(odt).join(' ').toStdString();
}
