#include "store/TextOps.h"

#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/ScriptedPrompts.h"
#include "support/TempHome.h"

#include <QBuffer>
#include <QDir>
#include <gtest/gtest.h>

namespace {

TEST(TextOps, CutAtDotKeepsWhatPrecedesTheFirstDot)
{
    QString s = "archive.old.hdr";
    CutAtDot(s);
    EXPECT_EQ(s, "archive");
    QString none = "INBOX";
    CutAtDot(none);
    EXPECT_EQ(none, "INBOX");
    QByteArray b = ".m";
    CutAtDot(b);
    EXPECT_EQ(b, "");
}

TEST(TextOps, ExtractBetween)
{
    EXPECT_EQ(ExtractBetween(QByteArray(" <3de0610a.8b09$1[x]> "), "<", ">"), "3de0610a.8b09$1[x]");
    // Without the closing text, the rest after the opening one.
    EXPECT_EQ(ExtractBetween(QByteArray("boundary=\"abc"), "\"", "\""), "abc");
    EXPECT_EQ(ExtractBetween(QByteArray("boundary=\"a b\" x"), "\"", "\""), "a b");
    // Without the opening text, the whole text; spaces and control characters trimmed.
    EXPECT_EQ(ExtractBetween(QByteArray("\t simple-boundary \r\x01"), "\"", "\""),
              "simple-boundary");
    EXPECT_EQ(ExtractBetween(QString("1     pkg.m;a.txt;"), " ", ";"), "pkg.m");
    EXPECT_EQ(ExtractBetween(QString("no delimiters"), "", ";"), "no delimiters");
    EXPECT_EQ(ExtractBetween(QString("<a>"), "<", ""), "a>");
    // Non-breaking spaces are text, not control characters.
    EXPECT_EQ(ExtractBetween(QString::fromUtf8("\u00A0x\u00A0"), "<", ">"),
              QString::fromUtf8("\u00A0x\u00A0"));
}

TEST(TextOps, RemoveAll)
{
    QByteArray id = "[x][y]z";
    RemoveAll(id, "[");
    RemoveAll(id, "]");
    EXPECT_EQ(id, "xyz");
    QString s = "abc";
    RemoveAll(s, "");
    EXPECT_EQ(s, "abc");
}

TEST(TextOps, ReplaceAllLooksAgainFromTheStart)
{
    EXPECT_EQ(ReplaceAll(QString("a.b.c"), ".", "-"), "a-b-c");
    EXPECT_EQ(ReplaceAll(QByteArray("1$2.3"), "$", "-"), "1-2.3");
    // An occurrence formed by a replacement and its left neighbour is replaced too.
    EXPECT_EQ(ReplaceAll(QString("aab"), "ab", "b"), "b");
    EXPECT_EQ(ReplaceAll(QString("bba"), "ba", "ab"), "abb");
    EXPECT_EQ(ReplaceAll(QString("text"), "", "x"), "text");
}

TEST(TextOps, ReplaceAllEndsWhenTheReplacementHoldsThePiece)
{
    EXPECT_EQ(ReplaceAll(QString("a.b."), ".", ".."), "a..b..");
    EXPECT_EQ(ReplaceAll(QByteArray("xx"), "x", "yxy"), "yxyyxy");
    // A rewrite that re-forms its piece while the text grows falls back to one pass.
    EXPECT_EQ(ReplaceAll(QString("abb"), "ab", "bbaa"), "bbaab");
}

TEST(TextOps, TimeStampNameIsLocalTime)
{
    platform::setClockForTesting([] { return QDateTime(QDate(1998, 12, 1), QTime(9, 30, 5)); });
    EXPECT_EQ(TimeStampName(), "19981201093005");
    platform::setClockForTesting({});
}

TEST(TextOps, CheckFileExists)
{
    testsupport::TempHome home;
    platform::ScriptedPrompts prompts;
    const QString file = home.file("outbox/N.hdr");
    ASSERT_TRUE(testsupport::writeFile(file, "SUBJECT\r\n"));
    EXPECT_TRUE(CheckFileExists(file, "unused", true));
    EXPECT_TRUE(CheckFileExists(home.file("outbox/n.HDR"), "unused", true));
    EXPECT_FALSE(CheckFileExists(home.file("outbox/M.hdr"), "quiet", false));
    EXPECT_FALSE(CheckFileExists(home.file("outbox"), "not a file", true));
    EXPECT_EQ(prompts.recorded,
              QList<platform::RecordedPrompt>({{platform::PromptKind::Warning, "not a file"}}));
}

TEST(TextOps, TextFromStoreKeepsEveryByte)
{
    EXPECT_EQ(TextFromStore("Gr\xC3\xBC\xC3\x9F" "e"), QString::fromUtf8("Grüße"));
    // Latin-1 bytes are no UTF-8: one character per byte.
    EXPECT_EQ(TextFromStore("Gr\xFC\xDF" "e"), QString::fromUtf8("Grüße"));
}

TEST(TextOps, StoreLines)
{
    EXPECT_EQ(SplitLines("a\r\nb\n\r\nc"), QByteArrayList({"a", "b", "", "c"}));
    EXPECT_EQ(SplitLines("a\r\n"), QByteArrayList({"a"}));
    EXPECT_TRUE(SplitLines("").isEmpty());
    EXPECT_EQ(JoinLines(QStringList{"a", QString::fromUtf8("é")}), "a\r\n\xC3\xA9\r\n");
    QBuffer in;
    in.setData("one\r\ntwo\nthree");
    in.open(QIODevice::ReadOnly);
    QByteArrayList read;
    for (QByteArray line; ReadStoreLine(in, line);)
        read += line;
    EXPECT_EQ(read, QByteArrayList({"one", "two", "three"}));
}

TEST(TextOps, StoreFilesRaiseClearErrors)
{
    testsupport::TempHome home;
    const QString file = home.file("q.que");
    WriteStoreFile(file, "N\r\n");
    EXPECT_EQ(ReadStoreFile(file), "N\r\n");
    try {
        ReadStoreFile(home.file("missing"));
        FAIL();
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.message(), "Cannot open file " + home.file("missing"));
    }
    EXPECT_THROW(WriteStoreFile(home.file("no/such/dir/f"), "x"), platform::Error);
    EXPECT_THROW(WriteTemporaryFile(home.file("no/such/dir/f"), "x"), platform::Error);
    WriteTemporaryFile(file, "replaced");
    EXPECT_EQ(ReadStoreFile(file), "replaced");
}

} // namespace
