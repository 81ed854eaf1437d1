#include "store/HeaderRecord.h"

#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace {

const QByteArray kFetched = "MAIL-TYPE:\r\n"
                            "STATUS:NEW\r\n"
                            "DATE:Fri, 6 Dec 2024 10:00:00 +0100\r\n"
                            "FROM:Ann <ann@example.org>\r\n"
                            "SUBJECT:Hello\r\n"
                            "ATTACH:0     \r\n"
                            "HEADER:\r\n"
                            "Received: from x\r\n"
                            "From: Ann <ann@example.org>\r\n"
                            "Subject: Hello\r\n";

TEST(HeaderRecord, FormatsTheSevenLines)
{
    EXPECT_EQ(FormatHeaderRecord("20241206", true, "NEW", "1     N.m;/home/a/x.txt;", "",
                                 "Minutes", "bob@example.org;"),
              "MAIL-TYPE:quorvel\r\n"
              "STATUS:NEW\r\n"
              "DATE:20241206\r\n"
              "FROM:bob@example.org;\r\n"
              "SUBJECT:Minutes\r\n"
              "ATTACH:1     N.m;/home/a/x.txt;\r\n"
              "HEADER:\r\n");
    EXPECT_EQ(FormatHeaderRecord("Fri, 6 Dec 2024 10:00:00 +0100", false, "NEW", "0     ",
                                 "\r\nReceived: from x\r\nFrom: Ann <ann@example.org>\r\n"
                                 "Subject: Hello",
                                 "Hello", "Ann <ann@example.org>"),
              kFetched);
}

TEST(HeaderRecord, ReadsAFetchedRecordAndKeepsItsRawHeader)
{
    const HeaderRecord r = ParseHeaderRecord(kFetched);
    EXPECT_EQ(r.mailType, "");
    EXPECT_FALSE(r.ownMail());
    EXPECT_EQ(r.status, "NEW");
    EXPECT_EQ(r.date, "Fri, 6 Dec 2024 10:00:00 +0100");
    EXPECT_EQ(r.from, "Ann <ann@example.org>");   // mixed-case raw lines leave it alone
    EXPECT_EQ(r.subject, "Hello");
    EXPECT_EQ(r.attach, "0     ");
    EXPECT_EQ(r.header, "");
    EXPECT_EQ(r.rawHeader,
              "\r\nReceived: from x\r\nFrom: Ann <ann@example.org>\r\nSubject: Hello");
    // Written back with its raw header, the record is the same.
    EXPECT_EQ(FormatHeaderRecord(r.date, r.ownMail(), "READ", r.attach, r.rawHeader, r.subject,
                                 r.from),
              QByteArray(kFetched).replace("STATUS:NEW", "STATUS:READ"));
}

TEST(HeaderRecord, KeysAreFoundAnywhereAndALaterMatchWins)
{
    const HeaderRecord r = ParseHeaderRecord("MAIL-TYPE:quorvel\r\n"
                                             "STATUS:READ\r\n"
                                             "DATE:20241206\r\n"
                                             "FROM:a@x.org;\r\n"
                                             "SUBJECT:meeting DATE: friday\r\n"
                                             "ATTACH:1     N.m;\r\n"
                                             "HEADER:\r\n");
    EXPECT_TRUE(r.ownMail());
    EXPECT_EQ(r.subject, "meeting DATE: friday");
    EXPECT_EQ(r.date, " friday");
}

TEST(HeaderRecord, RawLineInCapitalsReplacesAField)
{
    const HeaderRecord r = ParseHeaderRecord(kFetched + "X-ORIGINAL-FROM: spoof@y.org\r\n");
    EXPECT_EQ(r.from, " spoof@y.org");
    EXPECT_TRUE(r.rawHeader.endsWith("\r\nX-ORIGINAL-FROM: spoof@y.org"));
}

TEST(HeaderRecord, ReadingStopsOnceTheSixFieldsAreFilled)
{
    const HeaderRecord r = ParseHeaderRecord("STATUS:NEW\r\nDATE:d\r\nFROM:f\r\nSUBJECT:s\r\n"
                                             "ATTACH:0     \r\nHEADER:h\r\nFROM:late\r\n");
    EXPECT_EQ(r.from, "f");
    EXPECT_EQ(r.header, "h");
}

TEST(HeaderRecord, MissingFieldsAreEmpty)
{
    const HeaderRecord r = ParseHeaderRecord("STATUS:NEW\nsomething else\nSUBJECT: spaced \n");
    EXPECT_EQ(r.status, "NEW");
    EXPECT_EQ(r.subject, " spaced ");
    EXPECT_TRUE(r.date.isEmpty());
    EXPECT_TRUE(r.from.isEmpty());
    EXPECT_TRUE(r.attach.isEmpty());
    EXPECT_TRUE(r.rawHeader.isEmpty());
    EXPECT_TRUE(ParseHeaderRecord(QByteArray()).status.isEmpty());
}

TEST(HeaderRecord, LineBreakInAFieldStaysOnItsLine)
{
    const QByteArray bytes =
        FormatHeaderRecord("d", false, "NEW", "0     ", "", "two\r\nlines\n", "a@x.org");
    EXPECT_EQ(bytes.count("\r\n"), 7);
    const HeaderRecord r = ParseHeaderRecord(bytes);
    EXPECT_EQ(r.subject, "two  lines ");
    EXPECT_TRUE(r.rawHeader.isEmpty());
}

TEST(HeaderRecord, ReadsARecordFile)
{
    testsupport::TempHome home;
    ASSERT_TRUE(testsupport::writeFile(home.file("id"), kFetched));
    EXPECT_EQ(ReadHeaderRecordFile(home.file("id")).subject, "Hello");
}

} // namespace
