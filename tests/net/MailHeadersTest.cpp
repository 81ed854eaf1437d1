// Header fields of outgoing mail: dates, identifiers, encoded words, address lists.
#include "net/MailHeaders.h"

#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

std::string s(const QByteArray &b) { return b.toStdString(); }

// The text carried by a header value made of encoded words.
QString decodeWords(const QByteArray &value)
{
    QByteArray utf8;
    static const QRegularExpression word(QStringLiteral("=\\?UTF-8\\?B\\?([A-Za-z0-9+/=]*)\\?="));
    for (const auto &m : word.globalMatch(QString::fromLatin1(value)))
        utf8 += QByteArray::fromBase64(m.captured(1).toLatin1());
    return QString::fromUtf8(utf8);
}

} // namespace

TEST(MailHeadersTest, DatesInRfc5322FormWithTheOffset)
{
    EXPECT_EQ(s(net::rfc5322Date(QDateTime(QDate(1998, 12, 6), QTime(14, 23, 5), QTimeZone(3600)))),
              "Sun, 06 Dec 1998 14:23:05 +0100");
    EXPECT_EQ(s(net::rfc5322Date(QDateTime(QDate(2024, 3, 1), QTime(9, 5, 0), QTimeZone(-(3 * 3600 + 1800))))),
              "Fri, 01 Mar 2024 09:05:00 -0330");
}

TEST(MailHeadersTest, MessageIdsAreUniqueAndWellFormed)
{
    const QDateTime when(QDate(2024, 1, 2), QTime(3, 4, 5), QTimeZone(0));
    QSet<QByteArray> seen;
    for (int i = 0; i < 100; ++i) {
        const QByteArray id = net::newMessageId(when, QStringLiteral("my host/1"));
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^<20240102030405000\\.\\d+\\.[0-9a-z]+@myhost1>$"))
                        .match(QString::fromLatin1(id))
                        .hasMatch())
            << s(id);
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100);
    EXPECT_TRUE(net::newMessageId(when, QString()).endsWith("@localhost>"));
}

TEST(MailHeadersTest, TextThatIsNotAsciiBecomesEncodedWords)
{
    EXPECT_EQ(s(net::encodeHeaderText("Plain subject")), "Plain subject");
    EXPECT_EQ(s(net::encodeHeaderText("two\r\nlines")), "two  lines");
    EXPECT_EQ(s(net::encodeHeaderText(QStringLiteral("Grüße"))), "=?UTF-8?B?R3LDvMOfZQ==?=");

    const QString longText = QString(40, QChar(0x00e9)) + QStringLiteral(" and \U0001F600 ") + QString(30, u'x');
    const QByteArray encoded = net::encodeHeaderText(longText);
    const QList<QByteArray> lines = encoded.split('\n');
    EXPECT_GT(lines.size(), 1);
    for (const QByteArray &line : lines) {
        const QByteArray word = line.trimmed();
        EXPECT_LE(word.size(), 75) << s(word);
        EXPECT_TRUE(word.startsWith("=?UTF-8?B?") && word.endsWith("?=")) << s(word);
    }
    EXPECT_EQ(decodeWords(encoded), longText);
}

TEST(MailHeadersTest, AddressesAndLists)
{
    EXPECT_EQ(s(net::encodeAddress("user@host.test")), "user@host.test");
    EXPECT_EQ(s(net::encodeAddress("Ann Lee <ann@host.test>")), "Ann Lee <ann@host.test>");
    EXPECT_EQ(s(net::encodeAddress(" <ann@host.test>")), "<ann@host.test>");
    EXPECT_EQ(s(net::encodeAddress("Lee, Ann <ann@host.test>")), "\"Lee, Ann\" <ann@host.test>");
    EXPECT_EQ(s(net::encodeAddress("A. \"Al\" Lee <al@host.test>")), "\"A. \\\"Al\\\" Lee\" <al@host.test>");
    const QByteArray jorg = net::encodeAddress(QStringLiteral("Jörg Müller <j@host.test>"));
    EXPECT_TRUE(jorg.startsWith("=?UTF-8?B?")) << s(jorg);
    EXPECT_TRUE(jorg.endsWith("?= <j@host.test>")) << s(jorg);
    EXPECT_EQ(decodeWords(jorg), QStringLiteral("Jörg Müller"));

    EXPECT_EQ(s(net::encodeAddressList("a@x.test;b@y.test;")), "a@x.test, b@y.test");
    EXPECT_EQ(s(net::encodeAddressList("a@x.test")), "a@x.test");
    EXPECT_EQ(s(net::encodeAddressList(";;")), "");
}
