#include "store/OutgoingHeader.h"

#include "platform/Error.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace {

TEST(OutgoingHeader, FormatAndReadBack)
{
    const QByteArray bytes = FormatOutgoingHeader(QString::fromUtf8("Grüße"),
                                                  {"ann@example.org", "bob@example.org"});
    EXPECT_EQ(bytes, "SUBJECT\r\nGr\xC3\xBC\xC3\x9F" "e\r\nRECEIPT\r\nann@example.org\r\nbob@example.org\r\n");
    const OutgoingHeader h = ParseOutgoingHeader(bytes);
    EXPECT_EQ(h.subject, QString::fromUtf8("Grüße"));
    EXPECT_EQ(h.recipients, QStringList({"ann@example.org", "bob@example.org"}));
    EXPECT_EQ(h.toText(), "ann@example.org;bob@example.org;");
}

TEST(OutgoingHeader, ReaderLooksForItsMarkerLines)
{
    // Lines before "SUBJECT" and between the subject and "RECEIPT" are passed over;
    // the markers must match exactly.
    const OutgoingHeader h = ParseOutgoingHeader(
        "junk\nsubject\nSUBJECT\nHello\nnot RECEIPT\nRECEIPT\na@x.org\n\nb@x.org");
    EXPECT_EQ(h.subject, "Hello");
    EXPECT_EQ(h.recipients, QStringList({"a@x.org", "", "b@x.org"}));

    const OutgoingHeader none = ParseOutgoingHeader("SUBJECT\r\nOnly a subject\r\n");
    EXPECT_EQ(none.subject, "Only a subject");
    EXPECT_TRUE(none.recipients.isEmpty());
}

TEST(OutgoingHeader, MarkerSearchGivesUpAfterFiftyLines)
{
    QByteArray bytes;
    for (int i = 0; i < 50; ++i)
        bytes += "filler\r\n";
    bytes += "SUBJECT\r\nLate\r\nRECEIPT\r\na@x.org\r\n";
    // The line after the fifty searched becomes the subject.
    EXPECT_EQ(ParseOutgoingHeader(bytes).subject, "SUBJECT");
}

TEST(OutgoingHeader, LineBreaksCannotAddRecipients)
{
    const OutgoingHeader h =
        ParseOutgoingHeader(FormatOutgoingHeader("two\r\nlines", {"a@x.org\nevil@y.org"}));
    EXPECT_EQ(h.subject, "two  lines");
    EXPECT_EQ(h.recipients, QStringList({"a@x.org evil@y.org"}));
}

TEST(OutgoingHeader, Files)
{
    testsupport::TempHome home;
    const QString path = home.file("N.hdr");
    WriteOutgoingHeader(path, "Hi", {"a@x.org"});
    EXPECT_EQ(ReadOutgoingHeader(path).recipients, QStringList({"a@x.org"}));
    EXPECT_THROW(ReadOutgoingHeader(home.file("missing.hdr")), platform::Error);
    EXPECT_THROW(WriteOutgoingHeader(home.file("no/dir/N.hdr"), "Hi", {}), platform::Error);
}

} // namespace
