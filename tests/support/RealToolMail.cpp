#include "support/RealToolMail.h"

#include <QFile>
#include <gtest/gtest.h>

namespace testsupport {

QByteArray realToolMailFile(const QString &name)
{
    // Qt's test module names the tests' source directory for every target using it.
    QFile f(QStringLiteral(QT_TESTCASE_SOURCEDIR "/store/data/") + name);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << f.fileName().toStdString();
    return f.readAll();
}

QList<RealToolMail> realToolMails()
{
    QByteArray blob;
    for (int i = 0; i < 3; ++i)
        for (int b = 0; b < 256; ++b)
            blob.append(char(b));
    blob += QByteArray("\r\n\0end", 6);
    const QByteArray png = QByteArray::fromHex(
        "89504e470d0a1a0a0000000d4948445200000001000000010806000000"
        "1f15c4890000000d49444154789c63000100000500010d0a2db40000000049454e44ae426082");
    const QByteArray utf8Text = QString::fromUtf8(
        "Grüße aus Köln – café, naïve, 日本語.\r\n").toUtf8()
        + QByteArray("Eine lange Zeile ").repeated(8) + "Ende.\r\n";
    const QByteArray newsletter = "<html><head><title>News</title><style>p { color: red; }</style>"
        "</head><body><h1>December news</h1><p>Prices &amp; dates:<br>one<br>two</p><script>"
        "alert('x')</script><ul><li>caf&eacute;</li><li>&#8364; 5</li></ul></body></html>\r\n";
    // The forwarded message, its own header and body, up to the line break that belongs
    // to the closing boundary line.
    const QByteArray forwarded = realToolMailFile("python-forwarded.eml");
    const qsizetype original = forwarded.indexOf("From:", forwarded.indexOf("message/rfc822"));
    const QByteArray originalMail = forwarded.mid(original, forwarded.lastIndexOf("\r\n--===") - original);
    return {
        {"python-alternative-attachment.eml", "Figures attached",
         QString::fromUtf8("Hello Alice,\r\n\r\nthe figures are attached: 5 € each.\r\n\r\nDora\r\n\r\n").toUtf8(),
         {{"part-2.html", "<p>Hello Alice,</p><p>the figures are attached: 5 &euro; each.</p>\r\n"},
          {"figures.bin", blob}}},
        {"python-related-inline.eml", "Picture inline", "See the picture below.\r\n\r\n",
         {{"part-2.html", "<html><body><p>See the picture below.</p><img src=\"cid:dot@example.test\">"
                          "</body></html>\r\n"},
          {"part-3.png", png}}},
        {"python-qp-utf8.eml", "QP text", utf8Text, {}},
        {"python-base64-utf8.eml", "Base64 text", utf8Text, {}},
        {"python-latin1.eml", "Latin-1", QString::fromUtf8("Déjà vu, façade, smørrebrød.\r\n").toUtf8(), {}},
        {"python-cp1252.eml", "Windows-1252", QString::fromUtf8("“Quoted” – 10 € … done.\r\n").toUtf8(), {}},
        {"python-iso2022jp.eml", "ISO-2022-JP",
         QString::fromUtf8("こんにちは、世界。\r\n日本語のメールです。\r\n").toUtf8(), {}},
        {"python-html-only.eml", "Newsletter",
         QString::fromUtf8("December news\r\n\r\nPrices & dates:\r\none\r\ntwo\r\n\r\n- café\r\n- € 5\r\n").toUtf8(),
         {{"part-1.html", newsletter}}},
        {"swaks-attachment.eml", "From swaks", "Body written by swaks.\r\n", {{"blob.bin", blob}}},
        {"mpack-attachment.eml", "From mpack", "Description written for mpack.\r\n\r\n", {{"blob.bin", blob}}},
        // A forwarded mail stays one attachment holding the whole original.
        {"python-forwarded.eml", "Fwd: The original", "Forwarding this.\r\n\r\n", {{"part-2.eml", originalMail}}},
    };
}

} // namespace testsupport
