#include "store/History.h"

#include "store/MailIdentifier.h"

#include "platform/Clock.h"
#include "platform/Error.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace {

class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override { setDay(QDate(2024, 3, 9)); }
    void TearDown() override { platform::setClockForTesting({}); }
    void setDay(QDate day)
    {
        platform::setClockForTesting([day] { return QDateTime(day, QTime(23, 59, 59)); });
    }
    testsupport::TempHome home;
    QString file() const { return home.file("quorvel.hst"); }
};

QStringList numbered(int n)
{
    QStringList lines;
    for (int i = 0; i < n; ++i)
        lines += QString("20240301 %1.txt").arg(i);
    return lines;
}

TEST_F(HistoryTest, TrimKeepsEveryUniqueIdOnceWhateverTheCountAndSaves)
{
    QStringList more = numbered(130);
    more << "20240302 5.txt" << "20240303 129.TXT";
    TrimHistory(more, file());
    EXPECT_EQ(more, numbered(130));
    EXPECT_EQ(LoadHistory(file()), numbered(130));
}

TEST_F(HistoryTest, TrimCreatesTheFileWhenAbsent)
{
    QStringList empty;
    TrimHistory(empty, file());
    EXPECT_TRUE(QFile::exists(file()));
    EXPECT_EQ(testsupport::readFile(file()), "");
}

TEST_F(HistoryTest, AlreadyFetchedOnAnyLaterDay)
{
    QStringList history;
    AppendHistory(history, file(), HistoryLineForRawFile("/inbox/Msg00af.txt"));
    EXPECT_EQ(history, QStringList({"20240309 00af.txt"}));
    EXPECT_EQ(testsupport::readFile(file()), "20240309 00af.txt\r\n");
    EXPECT_TRUE(AlreadyFetched(history, "00af"));
    EXPECT_TRUE(AlreadyFetched(history, "00AF"));
    EXPECT_FALSE(AlreadyFetched(history, "00a"));
    setDay(QDate(2024, 5, 10));
    EXPECT_TRUE(AlreadyFetched(history, "00af"));
}

TEST_F(HistoryTest, UnsafeUniqueIdIsFoundAsTheDecoderRecordedIt)
{
    QStringList history;
    AppendHistory(history, file(), HistoryLineForRawFile(RawMessageFileName("a/b")));
    EXPECT_TRUE(AlreadyFetched(history, "a/b"));
}

TEST_F(HistoryTest, FailuresRaise)
{
    QStringList history{"x"};
    EXPECT_THROW(AppendHistory(history, home.file("no/dir/quorvel.hst"), "y"), platform::Error);
    EXPECT_TRUE(LoadHistory(home.file("absent.hst")).isEmpty());
}

} // namespace

namespace {

TEST_F(HistoryTest, LookupOfManyAndPruningByTheServersListing)
{
    QStringList history = {"20240301 keep1.txt", "20240302 Gone.txt", "20240303 KEEP2.txt",
                           "20240304 keep1.txt", "20240305 a_b.txt"};
    setDay(QDate(2025, 1, 1));
    const QSet<QString> keys = HistoryKeys(history);
    for (const QString &uid : QStringList{"keep1", "keep2", "Keep2", "a/b"}) {
        EXPECT_TRUE(AlreadyFetched(history, uid)) << uid.toStdString();
        EXPECT_TRUE(AlreadyFetched(keys, uid)) << uid.toStdString();
    }
    EXPECT_FALSE(AlreadyFetched(history, "keep"));
    EXPECT_FALSE(AlreadyFetched(keys, "keep1.txt"));

    // 150 unique-ids still on the server are all kept, whatever their count.
    QStringList server = {"keep1", "Keep2", "new", "a/b"};
    for (int i = 0; i < 150; ++i) {
        server << QString("m%1").arg(i);
        history << QString("20240306 m%1.txt").arg(i);
    }
    EXPECT_EQ(PruneHistory(history, server), 2);
    EXPECT_EQ(history.size(), 153);
    EXPECT_EQ(history.mid(0, 3),
              QStringList({"20240301 keep1.txt", "20240303 KEEP2.txt", "20240305 a_b.txt"}));
    EXPECT_EQ(PruneHistory(history, {}), 153);
    EXPECT_TRUE(history.isEmpty());
}

} // namespace
