// Header fields of outgoing mail: dates, identifiers, address lists.
#include "net/MailHeaders.h"

#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

std::string s(const QByteArray &b) { return b.toStdString(); }

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

TEST(MailHeadersTest, AddressLists)
{
    EXPECT_EQ(s(net::encodeAddressList(QStringLiteral("Lee, Ann <ann@host.test>;Jörg <j@host.test>"))),
              "\"Lee, Ann\" <ann@host.test>, =?UTF-8?B?SsO2cmc=?= <j@host.test>");
    EXPECT_EQ(s(net::encodeAddressList("a@x.test;b@y.test;")), "a@x.test, b@y.test");
    EXPECT_EQ(s(net::encodeAddressList("a@x.test")), "a@x.test");
    EXPECT_EQ(s(net::encodeAddressList(";;")), "");
}
