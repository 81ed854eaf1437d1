#include "platform/Clock.h"
#include "store/MessageDecoder.h"
#include "StoreFixture.h"
#include "support/RealToolMail.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Decodes `raw` and keeps what each handed-over file held, by kind and name.
struct Decoded {
    DecodedMessage msg;
    QByteArray body;
    bool hasBody = false;
    QList<QPair<QString, QByteArray>> attachments;
    QStringList leftInWorkDir;

    QByteArray attachment(const QString &name) const
    {
        for (const auto &a : attachments)
            if (a.first == name)
                return a.second;
        return "<missing>";
    }
};

Decoded decode(const QByteArray &raw, const QString &fallbackId = "uid1")
{
    QTemporaryDir dir;
    Decoded d;
    QBuffer buffer;
    buffer.setData(raw);
    buffer.open(QIODevice::ReadOnly);
    d.msg = DecodeMessageStream(buffer, dir.path(), fallbackId,
                                [&](const QString &path, DecodedFileKind kind) {
                                    EXPECT_TRUE(path.startsWith(dir.path() + "/")) << path.toStdString();
                                    QFile f(path);
                                    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
                                    const QByteArray content = f.readAll();
                                    f.close();
                                    QFile::remove(path);
                                    if (kind == DecodedFileKind::Body) {
                                        EXPECT_FALSE(d.hasBody) << "two bodies";
                                        d.hasBody = true;
                                        d.body = content;
                                    } else {
                                        d.attachments.append({QFileInfo(path).fileName(), content});
                                    }
                                });
    d.leftInWorkDir = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    return d;
}

QByteArray crlf(QByteArray text)
{
    text.replace("\n", "\r\n");
    return text;
}

class FixedClock : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::setClockForTesting([] { return QDateTime(QDate(2026, 12, 7), QTime(9, 30, 5)); });
    }
    void TearDown() override { platform::setClockForTesting({}); }
};

using MessageDecoder = FixedClock;

} // namespace

TEST_F(MessageDecoder, OwnMailAsPosted)
{
    const QByteArray package = QByteArray("PK\x03\x04 package bytes \x00\xff", 22);
    const QByteArray b64 = package.toBase64();
    const QByteArray raw = crlf(
        "Return-Path: <bob@example.test>\n"
        "From: Bob <bob@example.test>\n"
        "To: alice@example.test;\n"
        "Subject: Stickers\n"
        "Date: Mon, 7 Dec 2026 10:00:00 +0100\n"
        "Message-ID: <261207100000.bob@example.test>\n"
        "Mime-Version: 1.0\n"
        "Content-Type: multipart/mixed;\n"
        "\tboundary=\"= Multipart Boundary Dec07261000\"\n"
        "\n"
        "This is a multipart MIME message.\n"
        "\n"
        "--= Multipart Boundary Dec07261000\n"
        "Content-Type: text/plain; charset=\"iso-8859-1\"\n"
        "Content-Transfer-Encoding: 7bit\n"
        "\n"
        "--=This is a quorvel\n"
        "\n"
        "--= Multipart Boundary Dec07261000\n"
        "Content-Type: application/octet-stream;\n"
        "\tname=\"261207100000-bob@example-test.m\"\n"
        "Content-Transfer-Encoding: base64\n"
        "Content-Disposition: attachment;\n"
        "\tfilename=\"261207100000-bob@example-test.m\"\n"
        "\n" + b64 + "\n"
        "\n"
        "--= Multipart Boundary Dec07261000--\n");
    const Decoded d = decode(raw);
    EXPECT_TRUE(d.msg.ownMail);
    EXPECT_EQ(d.msg.identifier, "261207100000-bob@example-test");
    EXPECT_EQ(d.msg.from, "Bob <bob@example.test>");
    EXPECT_EQ(d.msg.subject, "Stickers");
    EXPECT_EQ(d.msg.date, "Mon, 7 Dec 2026 10:00:00 +0100");
    EXPECT_EQ(d.msg.descriptor(), "1     261207100000-bob@example-test.m;");
    EXPECT_EQ(d.body, "--=This is a quorvel\r\n\r\n");
    EXPECT_EQ(d.attachment("261207100000-bob@example-test.m"), package);
    EXPECT_TRUE(d.msg.rawHeader.startsWith("\r\nReturn-Path: <bob@example.test>\r\nFrom: Bob"));
    EXPECT_TRUE(d.msg.rawHeader.endsWith("\r\n\tboundary=\"= Multipart Boundary Dec07261000\""));
    EXPECT_TRUE(d.leftInWorkDir.isEmpty());
}

TEST_F(MessageDecoder, PlainTextAndMissingContentType)
{
    const Decoded text = decode(crlf("From: a@b\nSubject: Hi\nMessage-ID: <x.y@z>\n"
                                     "Content-Type: text/plain\n\nline one\n\nline =3D two\n"));
    EXPECT_FALSE(text.msg.ownMail);
    EXPECT_EQ(text.msg.descriptor(), "0     ");
    EXPECT_EQ(text.msg.identifier, "x-y@z");
    // Stored as it arrived: quoted-printable stays encoded.
    EXPECT_EQ(text.body, "line one\r\n\r\nline =3D two\r\n");

    // Without Content-Type the body is plain text, and body lines that look like
    // fields are not taken for fields.
    const Decoded bare = decode(crlf("From: a@b\nSubject: Hi\n\nFrom: not a sender\nbody\n"));
    EXPECT_EQ(bare.msg.from, "a@b");
    EXPECT_EQ(bare.body, "From: not a sender\r\nbody\r\n");
    EXPECT_EQ(bare.msg.rawHeader, "\r\nFrom: a@b\r\nSubject: Hi");
}

TEST_F(MessageDecoder, HeaderBlockIsReadWhole)
{
    const QByteArray raw = crlf(
        "DKIM-Signature: v=1; a=rsa-sha256; d=example.test;\n"
        "\th=from:to:subject:date:message-id:content-type;\n"
        "\tbh=abc=; b=def\n"
        "Subject: Re: which content-type: to use\n"
        " and a folded tail\n"
        "From: Carol <carol@example.test>\n"
        "X-Note: from: nobody\n"
        "Content-Type: text/plain;\n"
        "  charset=utf-8\n"
        "Date: Tue, 8 Dec 2026 08:00:00 +0000\n"
        "Message-ID: <late@example.test>\n"
        "\n"
        "Hello\n");
    const Decoded d = decode(raw);
    EXPECT_EQ(d.msg.from, "Carol <carol@example.test>");
    EXPECT_EQ(d.msg.subject, "Re: which content-type: to useand a folded tail");
    EXPECT_EQ(d.msg.date, "Tue, 8 Dec 2026 08:00:00 +0000");
    EXPECT_EQ(d.msg.identifier, "late@example-test");
    EXPECT_EQ(d.body, "Hello\r\n");
    EXPECT_TRUE(d.msg.rawHeader.contains("Message-ID: <late@example.test>"));
}

TEST_F(MessageDecoder, IdentifierRulesAndFallback)
{
    EXPECT_EQ(decode(crlf("Message-ID: <3de0610a.8b09$1[x]>\n\nb\n")).msg.identifier,
              "3de0610a-8b09-1x");
    // No Message-ID (or an unusable one): the unique-id names the mail.
    EXPECT_EQ(decode(crlf("From: a@b\n\nb\n"), "UID-77").msg.identifier, "UID-77");
    EXPECT_EQ(decode(crlf("Message-ID: <>\n\nb\n"), "u2").msg.identifier, "u2");
    // A hostile Message-ID cannot leave the directory.
    const Decoded hostile = decode(crlf("Message-ID: <../../etc/passwd>\n\nb\n"));
    EXPECT_FALSE(hostile.msg.identifier.contains('/'));
    EXPECT_TRUE(hostile.hasBody);
}

TEST_F(MessageDecoder, BoundariesMatchWholeLines)
{
    // A boundary of "-" would end every part at the first hyphen if matched as a substring.
    const QByteArray raw = crlf(
        "Message-ID: <b@x>\n"
        "Content-Type: multipart/mixed; boundary=-\n"
        "\n"
        "preamble - with hyphens\n"
        "---\n"
        "Content-Type: text/plain\n"
        "\n"
        "first - line\n"
        "--- not a boundary\n"
        "---\n"
        "Content-Type: application/octet-stream; name=\"a-b.bin\"\n"
        "\n"
        "raw - data\n"
        "-----\n"
        "epilogue\n"
        "---\n"
        "Content-Type: text/plain; name=\"late.txt\"\n"
        "\n"
        "never stored\n");
    const Decoded d = decode(raw);
    EXPECT_EQ(d.body, "first - line\r\n--- not a boundary\r\n");
    EXPECT_EQ(d.msg.descriptor(), "1     a-b.bin;");
    EXPECT_EQ(d.attachment("a-b.bin"), "raw - data");
}

TEST_F(MessageDecoder, Base64DecodesAsAStream)
{
    QByteArray data;
    for (int i = 0; i < 5000; ++i)
        data.append(char(i * 7));
    const QByteArray b64 = data.toBase64();
    // One long line, then the same cut at odd places with white space and stray characters.
    QByteArray cut;
    for (int i = 0; i < b64.size(); i += 37)
        cut += b64.mid(i, 37) + (i % 2 ? " \t\n" : "\n");
    auto message = [](const QByteArray &body) {
        return crlf("Message-ID: <s@x>\nContent-Type: multipart/mixed; boundary=\"B\"\n\n--B\n"
                    "Content-Type: application/pdf; name=\"doc.pdf\"\n"
                    "Content-Transfer-Encoding: BASE64\n\n")
            + body + crlf("\n--B--\n");
    };
    EXPECT_EQ(decode(message(b64)).attachment("doc.pdf"), data);
    EXPECT_EQ(decode(message(cut)).attachment("doc.pdf"), data);
}

TEST_F(MessageDecoder, PartsWithoutNamesAndRfc2231Names)
{
    const QByteArray raw = crlf(
        "Message-ID: <n@x>\nContent-Type: multipart/mixed; boundary=\"B\"\n\n"
        "--B\nContent-Type: text/plain\n\nbody\n"
        "--B\nContent-Type: text/html\n\n<p>one</p>\n"
        "--B\nContent-Type: text/html\n\n<p>two</p>\n"
        "--B\nContent-Type: application/octet-stream\n"
        "Content-Disposition: attachment; filename*=utf-8''r%C3%A9sum%C3%A9.txt\n\nr\n"
        "--B\nContent-Type: application/octet-stream; name=\"=?UTF-8?B?w6lsw6k=?=.txt\"\n\ne\n"
        "--B\nContent-Type: text/plain; name=\"Part-2.HTML\"\n\nsame name\n"
        "--B\nContent-Type: application/octet-stream; name=\"n@x\"\n\nthe mail's own name\n"
        "--B--\n");
    const Decoded d = decode(raw);
    EXPECT_EQ(d.body, "body\r\n");
    // Unnamed parts are named by their place and type; no two pieces of one mail share
    // a name, whatever their case.
    ASSERT_EQ(d.msg.attachmentCount, 6);
    EXPECT_EQ(d.msg.attachmentList, QString("part-2.html;part-3.html;") + QString::fromUtf8("résumé.txt;élé.txt;")
                                        + "Part-2-2.HTML;n@x-2;");
    EXPECT_EQ(d.attachment("part-2.html"), "<p>one</p>");
    EXPECT_EQ(d.attachment("part-3.html"), "<p>two</p>");
    EXPECT_EQ(d.attachment("Part-2-2.HTML"), "same name");
    EXPECT_EQ(d.attachment(QString::fromUtf8("résumé.txt")), "r");
}

TEST_F(MessageDecoder, MarkerCountsOnlyAsAWholeLineOfTheFirstTextPart)
{
    auto message = [](const QByteArray &text, const QByteArray &second) {
        return crlf("Message-ID: <m@x>\nContent-Type: multipart/mixed; boundary=\"B\"\n\n--B\n"
                    "Content-Type: text/plain\n\n" + text + "\n--B\nContent-Type: text/plain\n\n"
                    + second + "\n--B--\n");
    };
    EXPECT_TRUE(decode(message("--=This is a quorvel", "x")).msg.ownMail);
    EXPECT_FALSE(decode(message("> --=This is a quorvel", "x")).msg.ownMail);
    EXPECT_FALSE(decode(message("hello", "--=This is a quorvel")).msg.ownMail);
    // A single-part message is never a quorvel mail.
    EXPECT_FALSE(decode(crlf("Content-Type: text/plain\n\n--=This is a quorvel\n")).msg.ownMail);
}

TEST_F(MessageDecoder, NestedPartsAreFollowedToABound)
{
    // An inner multipart that never closes ends at the outer boundary line, and the
    // parts after it are still read.
    const QByteArray nested = crlf(
        "Message-ID: <n@x>\nContent-Type: multipart/mixed; boundary=\"outer\"\n\n"
        "--outer\nContent-Type: multipart/alternative; boundary=\"inner\"\n\npreamble\n"
        "--inner\nContent-Type: text/plain\n\nplain\n--inner\nContent-Type: text/html\n\n<b>x</b>\n"
        "--outer\nContent-Type: image/png\nContent-Transfer-Encoding: base64\n\niVBO\n"
        "--outer--\nepilogue\n");
    const Decoded d = decode(nested);
    EXPECT_EQ(d.body, "plain\r\n");
    EXPECT_EQ(d.msg.attachmentList, "part-2.html;part-3.png;");

    // An inner multipart whose boundary never comes keeps its text as an attachment.
    const Decoded lost = decode(crlf("Message-ID: <l@x>\nContent-Type: multipart/mixed; boundary=\"o\"\n\n"
                                     "--o\nContent-Type: text/plain\n\nhi\n"
                                     "--o\nContent-Type: multipart/related; boundary=\"wrong\"\n\n"
                                     "--right\nContent-Type: text/html\n\n<p>x</p>\n--o--\n"));
    EXPECT_EQ(lost.msg.attachmentList, "part-2;");
    EXPECT_EQ(lost.attachment("part-2"), "--right\r\nContent-Type: text/html\r\n\r\n<p>x</p>\r\n");
    EXPECT_TRUE(lost.leftInWorkDir.isEmpty());
    EXPECT_EQ(d.attachment("part-2.html"), "<b>x</b>");
    EXPECT_EQ(d.attachment("part-3.png"), QByteArray("\x89PN", 3));

    // Beyond the depth bound a multipart is stored whole, up to the boundary line of
    // the multipart around it.
    QByteArray deep = "Message-ID: <d@x>\nContent-Type: multipart/mixed; boundary=\"b0\"\n\n";
    for (int level = 1; level < 12; ++level)
        deep += "--b" + QByteArray::number(level - 1) + "\nContent-Type: multipart/mixed; boundary=\"b"
            + QByteArray::number(level) + "\"\n\n";
    deep += "--b11\nContent-Type: text/plain\n\ndeepest\n--b7--\n--b2\nContent-Type: text/plain\n\nshallow\n";
    const Decoded bounded = decode(crlf(deep));
    EXPECT_EQ(bounded.body, "shallow\r\n");
    ASSERT_EQ(bounded.msg.attachmentCount, 1);
    const QByteArray whole = bounded.attachments[0].second;
    EXPECT_TRUE(whole.startsWith("--b8\r\n") && whole.endsWith("deepest")) << whole.constData();
    EXPECT_TRUE(bounded.leftInWorkDir.isEmpty());

    const Decoded app = decode(crlf("Message-ID: <a@x>\nContent-Type: application/zip; "
                                    "name=\"text.zip\"\nContent-Transfer-Encoding: base64\n\n"
                                    "UEsDBA==\n"));
    EXPECT_FALSE(app.hasBody);
    EXPECT_EQ(app.msg.descriptor(), "1     text.zip;");
    EXPECT_EQ(app.attachment("text.zip"), QByteArray("PK\x03\x04", 4));

    // A forwarded message as the whole body is text; inside a multipart it is one
    // attachment, never descended into.
    const Decoded forwarded = decode(crlf("Message-ID: <f@x>\nContent-Type: message/rfc822\n\n"
                                          "From: inner@x\n\ninner body\n"));
    EXPECT_EQ(forwarded.body, "From: inner@x\r\n\r\ninner body\r\n");
    EXPECT_EQ(forwarded.msg.descriptor(), "0     ");
}

TEST_F(MessageDecoder, HostileNamesStayInTheWorkingDirectory)
{
    const QString longName = QString(300, 'n') + ".txt";
    const QByteArray raw = crlf(
        "Message-ID: <h@x>\nContent-Type: multipart/mixed; boundary=\"B\"\n\n"
        "--B\nContent-Type: text/plain\n\nbody\n"
        "--B\nContent-Type: application/octet-stream; name=\"../../x\"\n\n1\n"
        "--B\nContent-Type: application/octet-stream; name=\"/etc/passwd\"\n\n2\n"
        "--B\nContent-Type: application/octet-stream; name=\"" + longName.toUtf8() + "\"\n\n3\n"
        "--B\nContent-Type: application/octet-stream; name=\"..\"\n\n4\n"
        "--B--\n");
    const Decoded d = decode(raw);   // the sink checks every path is inside the work dir
    ASSERT_EQ(d.attachments.size(), 4);
    EXPECT_EQ(d.attachments[0].first, "x");
    EXPECT_EQ(d.attachments[1].first, "passwd");
    EXPECT_LE(d.attachments[2].first.toUtf8().size(), 255);
    EXPECT_EQ(d.attachments[3].first, "__");

    // Many parts of one name, the longest a file name can be, still get names of their
    // own, each within the limit.
    QByteArray same = "Message-ID: <s@x>\r\nContent-Type: multipart/mixed; boundary=\"B\"\r\n\r\n";
    for (int i = 0; i < 3000; ++i)
        same += "--B\r\nContent-Type: image/png; name=\"" + longName.toUtf8() + "\"\r\n\r\nx\r\n";
    const Decoded many = decode(same);
    ASSERT_EQ(many.attachments.size(), 3000);
    QSet<QString> names;
    for (const auto &a : many.attachments) {
        EXPECT_LE(a.first.toUtf8().size(), 255);
        names.insert(a.first);
    }
    EXPECT_EQ(names.size(), 3000);
    EXPECT_TRUE(many.attachments[2999].first.endsWith("-3000.txt"));
}

TEST_F(MessageDecoder, MultipartWithoutPartsKeepsItsText)
{
    const Decoded noBoundaryLine = decode(crlf("Message-ID: <p@x>\nContent-Type: multipart/mixed; "
                                               "boundary=\"never\"\n\njust text\n"));
    EXPECT_EQ(noBoundaryLine.body, "just text\r\n");
    const Decoded noBoundaryParam = decode(crlf("Message-ID: <q@x>\nContent-Type: multipart/mixed\n\n"
                                                "text\n"));
    EXPECT_EQ(noBoundaryParam.body, "text\r\n");
}

TEST_F(MessageDecoder, LongLinesAreWrittenBackWhole)
{
    const QByteArray longLine(3 * kMaxDecoderLinePiece + 11, 'x');
    const Decoded d = decode("Message-ID: <l@x>\r\n\r\n" + longLine + "\r\nend\r\n");
    EXPECT_EQ(d.body, longLine + "\r\nend\r\n");
    // A message without a final line end keeps its last line.
    EXPECT_EQ(decode("Message-ID: <l@x>\n\nno end").body, "no end\r\n");
    // Lines of every length, so that line ends (and CR LF pairs) fall on every
    // position of the pieces the input is read in.
    QByteArray many;
    for (int i = 0; i < 4000; ++i)
        many += QByteArray(i % 157, char('a' + i % 26)) + "\r\n";
    EXPECT_EQ(decode("Message-ID: <m@x>\r\n\r\n" + many).body, many);
}

namespace {
QByteArray fixture(const char *name) { return storeTestData(name); }
} // namespace

// Messages written by Python's email package rather than by hand.
TEST_F(MessageDecoder, MessagesFromPythonsEmailPackage)
{
    const Decoded mixed = decode(fixture("python-mixed.eml"));
    EXPECT_EQ(mixed.msg.identifier, "python-1-20261207@example-test");
    EXPECT_EQ(mixed.msg.subject, "Quarterly figures =?utf-8?b?4oCTIHLDqXN1bcOp?= attached");
    EXPECT_EQ(mixed.body, "Hello Alice,\r\n\r\nthe figures are attached.\r\n\r\nDora\r\n\r\n");
    ASSERT_EQ(mixed.msg.attachmentCount, 3);
    EXPECT_EQ(mixed.attachment("part-2.html"), "<p>Hello Alice,</p><p>the figures are attached.</p>\r\n");
    QByteArray bytes;
    for (int i = 0; i < 4; ++i)
        for (int b = 0; b < 256; ++b)
            bytes.append(char(b));
    EXPECT_EQ(mixed.attachment("figures.bin"), bytes);
    // A text file the sender attached is stored as sent, never converted.
    EXPECT_EQ(mixed.attachment(QString::fromUtf8("résumé.txt")), QString::fromUtf8("Grüße\n").toUtf8());

    const Decoded plain = decode(fixture("python-plain.eml"));
    EXPECT_EQ(plain.msg.subject,
              "A subject that is long enough to be folded by the generator when it"
              "writes the header A subject that is long enough to be folded by the generator"
              "when it writes the header");
    EXPECT_EQ(plain.body, "Just text.\r\n");
    EXPECT_EQ(plain.msg.descriptor(), "0     ");
}

// Messages of every common kind, as Python's email package (default policy), swaks and
// mpack write them (tests/store/data/make-fixtures.py): each body reads as the sender
// wrote it, each attachment holds the bytes that were attached.
TEST_F(MessageDecoder, MailFromRealToolsReadsAsSent)
{
    for (const testsupport::RealToolMail &c : testsupport::realToolMails()) {
        SCOPED_TRACE(c.file.toStdString());
        const Decoded d = decode(testsupport::realToolMailFile(c.file));
        EXPECT_EQ(d.msg.subject, c.subject);
        EXPECT_EQ(d.body, c.body);
        ASSERT_EQ(d.attachments.size(), c.attachments.size());
        for (const auto &[name, bytes] : c.attachments)
            EXPECT_EQ(d.attachment(name), bytes) << name.toStdString();
        EXPECT_EQ(d.msg.attachmentCount, c.attachments.size());
    }
}

// How the body's bytes become text: transfer encodings undone, charsets converted,
// and text whose charset is missing or unknown kept readable.
TEST_F(MessageDecoder, BodyTextIsDecodedAndConverted)
{
    auto body = [](const QByteArray &fields, const QByteArray &content) {
        return decode("Message-ID: <t@x>\r\n" + fields + "\r\n" + content).body;
    };
    const QByteArray cafe = QString::fromUtf8("café").toUtf8();
    // Valid UTF-8 without a charset, or under one that cannot be converted, is kept;
    // other 8-bit bytes are read as Windows-1252.
    EXPECT_EQ(body("", "caf\xc3\xa9\n"), cafe + "\r\n");
    EXPECT_EQ(body("Content-Type: text/plain; charset=x-unknown-42\r\n", "caf\xc3\xa9\r\n"), cafe + "\r\n");
    EXPECT_EQ(body("Content-Type: text/plain; charset=us-ascii\r\n", "caf\xe9 \x80\r\n"),
              QString::fromUtf8("café €\r\n").toUtf8());
    // Lines end CR LF whatever the sender used, also inside base64.
    EXPECT_EQ(body("Content-Transfer-Encoding: base64\r\n", QByteArray("a\nb\rc\r\n").toBase64() + "\r\n"),
              "a\r\nb\r\nc\r\n");
    // A soft line break joins, trailing white space goes, a stray "=" stays.
    EXPECT_EQ(body("Content-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: Quoted-Printable\r\n",
                   "caf=E9 =\r\nau lait = 2=\r\n=3D2  \r\n"),
              QString::fromUtf8("café au lait = 2=2\r\n").toUtf8());
}
