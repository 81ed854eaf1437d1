// Encoded words both ways: what we send must decode back, and what other mailers send
// (several charsets, words split mid-character, malformed words) must read right.
#include "mime/EncodedWords.h"

#include <QList>
#include <gtest/gtest.h>

namespace {

std::string s(const QByteArray &b) { return b.toStdString(); }
std::string d(QByteArrayView value) { return mime::decodeHeaderText(value).toStdString(); }

} // namespace

TEST(EncodedWordsTest, TextThatIsNotAsciiBecomesEncodedWords)
{
    EXPECT_EQ(s(mime::encodeHeaderText("Plain subject")), "Plain subject");
    EXPECT_EQ(s(mime::encodeHeaderText("two\r\nlines")), "two  lines");
    EXPECT_EQ(s(mime::encodeHeaderText(QStringLiteral("Grüße"))), "=?UTF-8?B?R3LDvMOfZQ==?=");

    const QString longText = QString(40, QChar(0x00e9)) + QStringLiteral(" and \U0001F600 ") + QString(30, u'x');
    const QByteArray encoded = mime::encodeHeaderText(longText);
    const QList<QByteArray> lines = encoded.split('\n');
    EXPECT_GT(lines.size(), 1);
    for (const QByteArray &line : lines) {
        const QByteArray word = line.trimmed();
        EXPECT_LE(word.size(), 75) << s(word);
        EXPECT_TRUE(word.startsWith("=?UTF-8?B?") && word.endsWith("?=")) << s(word);
    }
    EXPECT_EQ(mime::decodeHeaderText(encoded), longText);
}

TEST(EncodedWordsTest, Addresses)
{
    EXPECT_EQ(s(mime::encodeAddress("user@host.test")), "user@host.test");
    EXPECT_EQ(s(mime::encodeAddress("Ann Lee <ann@host.test>")), "Ann Lee <ann@host.test>");
    EXPECT_EQ(s(mime::encodeAddress(" <ann@host.test>")), "<ann@host.test>");
    EXPECT_EQ(s(mime::encodeAddress("Lee, Ann <ann@host.test>")), "\"Lee, Ann\" <ann@host.test>");
    EXPECT_EQ(s(mime::encodeAddress("A. \"Al\" Lee <al@host.test>")), "\"A. \\\"Al\\\" Lee\" <al@host.test>");
    const QByteArray jorg = mime::encodeAddress(QStringLiteral("Jörg Müller <j@host.test>"));
    EXPECT_TRUE(jorg.startsWith("=?UTF-8?B?")) << s(jorg);
    EXPECT_TRUE(jorg.endsWith("?= <j@host.test>")) << s(jorg);
    EXPECT_EQ(mime::decodeHeaderText(jorg), QStringLiteral("Jörg Müller <j@host.test>"));
}

TEST(EncodedWordsTest, DecodesWordsInSeveralCharsets)
{
    EXPECT_EQ(d("=?iso-8859-1?q?J=F6rg_M=FCller?= <j@x>"), "Jörg Müller <j@x>");
    EXPECT_EQ(d("=?windows-1252?B?k3F1b3RlZJQ=?="), "“quoted”");
    EXPECT_EQ(d("=?KOI8-R?B?8NLJ18XU?="), "Привет");
    EXPECT_EQ(d("=?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?="), "日本語");
    EXPECT_EQ(d("=?utf-8*en?Q?caf=C3=A9?="), "café");   // with an RFC 2231 language
    EXPECT_EQ(d("Re: =?UTF-8?Q?a=3Db?= end"), "Re: a=b end");
}

TEST(EncodedWordsTest, AdjacentWordsJoinWithoutTheirWhiteSpace)
{
    EXPECT_EQ(d("=?utf-8?q?a?= =?utf-8?q?b?="), "ab");
    EXPECT_EQ(d("=?utf-8?q?a?=\r\n\t=?iso-8859-1?q?=E9?="), "aé");
    EXPECT_EQ(d("=?utf-8?q?a?= x =?utf-8?q?b?="), "a x b");
    EXPECT_EQ(d("x =?utf-8?q?a?=  y"), "x a  y");
    // A character whose bytes a mailer split between two words.
    EXPECT_EQ(d("=?UTF-8?B?w6nD?= =?UTF-8?B?qQ==?="), "éé");
}

TEST(EncodedWordsTest, MalformedWordsStayAsTheyAre)
{
    for (const char *bad : {"=?x-unknown?Q?a?=", "=?utf-8?X?a?=", "=?utf-8?Q?a b?=", "=?utf-8?Q?abc",
                            "=??Q?a?=", "=?utf-8?B?w6k*?=", "=?", "a=?b", "=?utf-8?Q?a?b?="})
        EXPECT_EQ(d(bad), bad);
    // White space beside a malformed word is text.
    EXPECT_EQ(d("=?utf-8?q?a?= =?bad?x?b?= =?utf-8?q?c?="), "a =?bad?x?b?= c");
    // A "=?" that runs on past the bound is text, and the words after it still decode.
    const QByteArray runOn = "=?utf-8?Q?" + QByteArray(mime::kMaxEncodedWordLength, 'a') + "?=";
    EXPECT_EQ(d(runOn), runOn.toStdString());
    EXPECT_EQ(d("=?=?utf-8?Q?ok?="), "=?ok");
}
