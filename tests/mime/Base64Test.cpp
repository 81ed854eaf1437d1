// The encoder against Qt's own base64 as an independent oracle; the stream decoder
// fed in every split a fetched part can arrive in.
#include "mime/Base64.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray data(size, '\0');
    for (char &c : data)
        c = char(random.bounded(256));
    return data;
}

} // namespace

TEST(Base64Test, MatchesTheStandardEncodingForEveryPadding)
{
    for (int size = 0; size < 200; ++size) {
        const QByteArray data = randomBytes(size, 11);
        EXPECT_EQ(mime::base64Encode(data), data.toBase64()) << "size " << size;
    }
    EXPECT_EQ(mime::base64Encode(QByteArray(45, 'x')).size(), 60);
}

TEST(Base64Test, AttachmentLinesHold45Bytes)
{
    const QByteArray hundred = randomBytes(100, 3);
    const QByteArrayList lines = mime::base64EncodeLines(hundred);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0].size(), 60);
    EXPECT_EQ(lines[1].size(), 60);
    EXPECT_EQ(lines[2], hundred.mid(90).toBase64());
    EXPECT_TRUE(lines[2].endsWith("=="));
    EXPECT_EQ(mime::base64EncodeLines({}), QByteArrayList{QByteArray()});
}

TEST(Base64Test, StreamDecodesAcrossEverySplit)
{
    for (int size : {0, 1, 2, 3, 100, 301}) {
        const QByteArray data = randomBytes(size, quint32(size));
        // Attachment lines with CR LF, a stray character and a tab, as mailers send them.
        QByteArray text;
        for (const QByteArray &line : mime::base64EncodeLines(data))
            text += line + (text.size() % 3 ? "\r\n" : " \t*\r\n");
        for (qsizetype cut = 0; cut <= text.size(); ++cut) {
            mime::Base64Decoder decoder;
            QByteArray out;
            decoder.feed(text.constData(), cut, out);
            decoder.feed(text.constData() + cut, text.size() - cut, out);
            decoder.finish(out);
            ASSERT_EQ(out, data) << "size " << size << " cut at " << cut;
        }
        mime::Base64Decoder bytewise;
        QByteArray out;
        for (char c : text)
            bytewise.feed(&c, 1, out);
        bytewise.finish(out);
        EXPECT_EQ(out, data) << "size " << size << " fed byte by byte";
        // Without its padding, finish() flushes the last group.
        EXPECT_EQ(mime::base64Decode(data.toBase64(QByteArray::OmitTrailingEquals)), data);
    }
}

TEST(Base64Test, PadsEndTheirGroup)
{
    mime::Base64Decoder dec;
    QByteArray out;
    dec.DecodeBase64Line("QQ==", out);
    EXPECT_EQ(out, "A");
    out.clear();
    dec.DecodeBase64Line("QUI=QUJD", out);   // a pad ends its group; decoding goes on
    EXPECT_EQ(out, "ABABC");
    out.clear();
    dec.DecodeBase64Line("QUJ", out);        // missing padding
    dec.finish(out);
    EXPECT_EQ(out, "AB");
    out.clear();
    dec.DecodeBase64Line("Q", out);          // a lone character is no byte
    dec.finish(out);
    EXPECT_TRUE(out.isEmpty());
}
