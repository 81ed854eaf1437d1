#include "store/QueueFile.h"

#include "platform/Error.h"
#include "support/TempHome.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

TEST(QueueFile, ParseLines)
{
    const QueueLine plain = ParseQueueLine("981201093005-a@x-org");
    EXPECT_EQ(plain.name, "981201093005-a@x-org");
    EXPECT_TRUE(plain.attachments.isEmpty());
    EXPECT_TRUE(plain.attachmentPaths().isEmpty());

    EXPECT_TRUE(ParseQueueLine("N=").attachmentPaths().isEmpty());

    const QueueLine two = ParseQueueLine("N=/docs/a.txt;/docs/b=c.jpg;tail");
    EXPECT_EQ(two.name, "N");
    EXPECT_EQ(two.attachmentPaths(), QStringList({"/docs/a.txt", "/docs/b=c.jpg"}));

    EXPECT_EQ(ParseQueueLine("").name, "");
}

TEST(QueueFile, FormatLines)
{
    EXPECT_EQ(FormatQueueLine("N", {}), "N");
    EXPECT_EQ(FormatQueueLine("N", {"C:\\docs\\a.txt", "C:\\docs\\b.jpg"}),
              "N=C:\\docs\\a.txt;C:\\docs\\b.jpg;");
}

TEST(QueueFile, MarksAreOnlyAtTheStart)
{
    const QStringList lines{MarkSent("A"), "B=/home/SENT/x;", MarkFailed("C"),
                            "D=/FAIL.txt;", ""};
    EXPECT_EQ(lines[0], "SENTA");
    EXPECT_EQ(lines[2], "FAILC");
    EXPECT_EQ(RemoveMarkedLines(lines), QStringList({"B=/home/SENT/x;", "D=/FAIL.txt;", ""}));
}

TEST(QueueFile, LoadSaveAppend)
{
    testsupport::TempHome home;
    const QString queue = home.file("outbox/quorvel.que");
    QDir().mkpath(home.file("outbox"));
    EXPECT_TRUE(LoadQueue(queue).isEmpty());
    AppendQueueLine(queue, "A");
    AppendQueueLine(queue, QString::fromUtf8("B=/home/zoë/a.txt;"));
    EXPECT_EQ(testsupport::readFile(queue), "A\r\nB=/home/zo\xC3\xAB/a.txt;\r\n");
    EXPECT_EQ(LoadQueue(queue), QStringList({"A", QString::fromUtf8("B=/home/zoë/a.txt;")}));
    SaveQueue(queue, {});
    EXPECT_EQ(testsupport::readFile(queue), "");
    EXPECT_TRUE(QFile::exists(queue));
    EXPECT_THROW(SaveQueue(home.file("missing/quorvel.que"), {"A"}), platform::Error);
}

} // namespace
