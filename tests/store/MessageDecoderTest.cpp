#include "platform/Clock.h"
#include "store/MessageDecoder.h"
#include "StoreFixture.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QMap>
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
    EXPECT_EQ(d.attachment("a-b.bin"), "raw - data\r\n");
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
        "--B--\n");
    const Decoded d = decode(raw);
    EXPECT_EQ(d.body, "body\r\n");
    ASSERT_EQ(d.msg.attachmentCount, 4);
    EXPECT_EQ(d.msg.attachmentList,
              QString("20261207093005-1;20261207093005-2;") + QString::fromUtf8("résumé.txt;élé.txt;"));
    EXPECT_EQ(d.attachment("20261207093005-1"), "<p>one</p>\r\n");
    EXPECT_EQ(d.attachment("20261207093005-2"), "<p>two</p>\r\n");
    EXPECT_EQ(d.attachment(QString::fromUtf8("résumé.txt")), "r\r\n");
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

TEST_F(MessageDecoder, NestedMultipartAndSingleApplicationPart)
{
    const QByteArray nested = crlf(
        "Message-ID: <n@x>\nContent-Type: multipart/mixed; boundary=\"outer\"\n\n"
        "--outer\nContent-Type: multipart/alternative; boundary=\"inner\"\n\n"
        "--inner\nContent-Type: text/plain\n\nplain\n--inner\nContent-Type: text/html\n\n<b>x</b>\n"
        "--inner--\n"
        "--outer--\n");
    const Decoded d = decode(nested);
    EXPECT_FALSE(d.hasBody);
    ASSERT_EQ(d.attachments.size(), 1);
    EXPECT_EQ(d.attachments[0].first, "20261207093005-1");
    EXPECT_EQ(d.attachments[0].second,
              "--inner\r\nContent-Type: text/plain\r\n\r\nplain\r\n--inner\r\n"
              "Content-Type: text/html\r\n\r\n<b>x</b>\r\n--inner--\r\n");

    const Decoded app = decode(crlf("Message-ID: <a@x>\nContent-Type: application/zip; "
                                    "name=\"text.zip\"\nContent-Transfer-Encoding: base64\n\n"
                                    "UEsDBA==\n"));
    EXPECT_FALSE(app.hasBody);
    EXPECT_EQ(app.msg.descriptor(), "1     text.zip;");
    EXPECT_EQ(app.attachment("text.zip"), QByteArray("PK\x03\x04", 4));

    // A forwarded message as the whole body is text.
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
    // The multipart/alternative part is not text: it is kept whole as an attachment.
    EXPECT_FALSE(mixed.hasBody);
    ASSERT_EQ(mixed.msg.attachmentCount, 3);
    EXPECT_TRUE(mixed.attachment("20261207093005-1").contains("<p>Hello Alice,</p>"));
    QByteArray bytes;
    for (int i = 0; i < 4; ++i)
        for (int b = 0; b < 256; ++b)
            bytes.append(char(b));
    EXPECT_EQ(mixed.attachment("figures.bin"), bytes);
    // A text part after the first text slot is an attachment too, decoded from base64.
    EXPECT_EQ(mixed.attachment(QString::fromUtf8("résumé.txt")), QString::fromUtf8("Grüße\n").toUtf8());

    const Decoded plain = decode(fixture("python-plain.eml"));
    EXPECT_EQ(plain.msg.subject,
              "A subject that is long enough to be folded by the generator when it"
              "writes the header A subject that is long enough to be folded by the generator"
              "when it writes the header");
    EXPECT_EQ(plain.body, "Just text.\r\n");
    EXPECT_EQ(plain.msg.descriptor(), "0     ");
}
