#include "store/MailIdentifier.h"

#include "platform/Clock.h"

#include <gtest/gtest.h>

namespace {

TEST(MailIdentifier, FromMessageId)
{
    EXPECT_EQ(MailIdFromMessageId("<3de0610a.8b09$1[x]>"), "3de0610a-8b09-1x");
    EXPECT_EQ(MailIdFromMessageId(" <  abc@host.example.org >  (comment)"), "abc@host-example-org");
    EXPECT_EQ(MailIdFromMessageId(""), "");
    EXPECT_EQ(MailIdFromMessageId("<>"), "");
}

TEST(MailIdentifier, FromMessageIdIsAlwaysABareFileName)
{
    EXPECT_EQ(MailIdFromMessageId("<a/../../b@x>"), "a_--_--_b@x");
    EXPECT_EQ(MailIdFromMessageId("<-rf@x>"), "_rf@x");
    EXPECT_EQ(MailIdFromMessageId("<..>"), "_-");
    EXPECT_EQ(MailIdFromMessageId("<a\x01" "b>"), "a_b");
}

TEST(MailIdentifier, EditorMailName)
{
    platform::setClockForTesting([] { return QDateTime(QDate(1998, 12, 1), QTime(9, 30, 5)); });
    const QString name = MakeMailName("New Mail", "john.doe@mail.example.com");
    EXPECT_EQ(name, "981201093005-john-doe@mail-example-com");
    EXPECT_FALSE(name.contains('.'));
    // "=" would end the name early in a queue line.
    EXPECT_EQ(MakeMailName("New Mail", "a=b@x.org"), "981201093005-a-b@x-org");
    EXPECT_EQ(MakeMailName("old.name", "ignored@x.org"), "old-name");
    EXPECT_EQ(MakeMailName("New Mail", "/tmp/x"), "981201093005-_tmp_x");
    platform::setClockForTesting({});
}

TEST(MailIdentifier, PackageNames)
{
    EXPECT_EQ(MailIdFromPackageName("/home/u/outbox/981201093005-a@x-org.m"), "981201093005-a@x-org");
    EXPECT_EQ(MailIdFromPackageName("C:\\mail\\abc.def.m"), "abc");
}

TEST(MailIdentifier, RawMessageFileName)
{
    EXPECT_EQ(RawMessageFileName("00000001"), "Msg00000001.txt");
    EXPECT_EQ(RawMessageFileName("a/b+c"), "Msga_b+c.txt");
}

} // namespace
