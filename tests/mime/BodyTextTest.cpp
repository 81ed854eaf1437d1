// Body text conversions fed the way a decoder feeds them: in pieces cut anywhere, so a
// character, a CR LF pair, a tag or an entity may be split between two pieces.
#include "mime/HtmlText.h"
#include "mime/QuotedPrintable.h"
#include "mime/TextCharset.h"

#include <QList>
#include <QString>
#include <gtest/gtest.h>

namespace {

template <typename Converter>
QByteArray inPieces(Converter &&converter, const QByteArray &input, qsizetype piece)
{
    QByteArray out;
    for (qsizetype at = 0; at < input.size(); at += piece)
        converter.feed(QByteArrayView(input).sliced(at, std::min(piece, input.size() - at)), out);
    converter.finish(out);
    return out;
}

QByteArray utf8(const char *text) { return QString::fromUtf8(text).toUtf8(); }

} // namespace

TEST(BodyTextTest, CharsetConversionDoesNotDependOnHowTheTextIsCut)
{
    struct Case {
        const char *charset;
        QByteArray input;
        QByteArray expected;
    };
    const QList<Case> cases = {
        {"UTF-8", utf8("Grüße\r\n日本\n€\r"), utf8("Grüße\r\n日本\r\n€\r\n")},
        {"iso-8859-15", "\xa4 \xe9\n", utf8("€ é\r\n")},
        {"ISO-2022-JP", "\x1b$B$3$s\x1b(B ok\n", utf8("こん ok\r\n")},
        // Valid UTF-8 is kept up to the first byte that is not, the rest is Windows-1252.
        {"", utf8("é ") + "\x93x\x94 \xc3", utf8("é “x” Ã")},
        {"no-such-charset", utf8("✓\n"), utf8("✓\r\n")},
    };
    for (const Case &c : cases) {
        for (qsizetype piece : {qsizetype(1), qsizetype(2), qsizetype(3), c.input.size()}) {
            mime::TextToUtf8 converter(c.charset);
            EXPECT_EQ(inPieces(converter, c.input, piece), c.expected) << c.charset << " piece " << piece;
        }
    }
}

TEST(BodyTextTest, HtmlReadsAsText)
{
    const QByteArray html =
        "<!DOCTYPE html><html><head><title>T</title><style>a>b{}</style></head><body>\n"
        "<!-- a <p> in a comment -->  <p>First&nbsp;&nbsp;para,\n   wrapped</p><div>line<br/>break"
        "</div><SCRIPT type=\"x\">if (a < b) document.write('<p>');</SCRIPT>"
        "<table><tr><td>a</td><td>b</td></tr></table><a href=\"x>y\">link</a> 1 < 2 &amp &unknown; "
        "&#x41;&#66;&#0;<pre>  two\r\n  lines</pre>end";
    const QByteArray expected = utf8("First  para, wrapped\r\n\r\nline\r\nbreak\r\n\r\na b\r\n\r\n"
                                     "link 1 < 2 & &unknown; AB\xef\xbf\xbd\r\n\r\n  two\r\n  lines\r\n\r\nend\r\n");
    for (qsizetype piece : {qsizetype(1), qsizetype(7), html.size()})
        EXPECT_EQ(inPieces(mime::HtmlToText(), html, piece), expected) << "piece " << piece;
}

TEST(BodyTextTest, QuotedPrintableLines)
{
    auto decode = [](QByteArrayView line, bool ended = true) {
        QByteArray out;
        mime::decodeQuotedPrintableLine(line, ended, out);
        return out;
    };
    EXPECT_EQ(decode("caf=C3=a9 \t"), "caf\xc3\xa9\r\n");
    EXPECT_EQ(decode("soft =  "), "soft ");
    EXPECT_EQ(decode("=3D=ZZ=4"), "==ZZ=4\r\n");
    // A piece of a longer line: no line end, its white space is text.
    EXPECT_EQ(decode("piece = ", false), "piece = ");
}
