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

TEST_F(HistoryTest, TrimKeepsTheNewestHundredAndSaves)
{
    QStringList hundred = numbered(100);
    TrimHistory(hundred, file());
    EXPECT_EQ(hundred, numbered(100));
    EXPECT_EQ(LoadHistory(file()), numbered(100));

    QStringList more = numbered(130);
    TrimHistory(more, file());
    ASSERT_EQ(more.size(), 100);
    EXPECT_EQ(more.first(), "20240301 30.txt");
    EXPECT_EQ(more.last(), "20240301 129.txt");
    EXPECT_EQ(LoadHistory(file()), more);
}

TEST_F(HistoryTest, TrimCreatesTheFileWhenAbsent)
{
    QStringList empty;
    TrimHistory(empty, file());
    EXPECT_TRUE(QFile::exists(file()));
    EXPECT_EQ(testsupport::readFile(file()), "");
}

TEST_F(HistoryTest, AlreadyFetchedOnlyOnTheDayOfFetching)
{
    QStringList history;
    AppendHistory(history, file(), HistoryLineForRawFile("/inbox/Msg00af.txt"));
    EXPECT_EQ(history, QStringList({"20240309 00af.txt"}));
    EXPECT_EQ(testsupport::readFile(file()), "20240309 00af.txt\r\n");
    EXPECT_TRUE(AlreadyFetched(history, "00af"));
    EXPECT_TRUE(AlreadyFetched(history, "00AF"));
    EXPECT_FALSE(AlreadyFetched(history, "00a"));
    setDay(QDate(2024, 3, 10));
    EXPECT_FALSE(AlreadyFetched(history, "00af"));
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
