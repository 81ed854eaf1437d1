#include "store/AttachmentDescriptor.h"

#include <gtest/gtest.h>

namespace {

TEST(AttachmentDescriptor, Format)
{
    EXPECT_EQ(FormatAttachmentDescriptor(2, {"notes.txt", "photo.jpg"}),
              "2     notes.txt;photo.jpg;");
    EXPECT_EQ(FormatAttachmentDescriptor(0, {}), "0     ");
    EXPECT_EQ(FormatAttachmentDescriptor(1, {QString::fromUtf8("Überblick.pdf")}),
              "1     \xC3\x9C" "berblick.pdf;");
}

TEST(AttachmentDescriptor, ReadingAFetchedMailsDescriptor)
{
    const QByteArray d = "2     notes.txt;photo.jpg;";
    EXPECT_EQ(DescriptorCount(d), 2);
    EXPECT_EQ(DescriptorEntryList(d), "notes.txt;photo.jpg;");
    EXPECT_EQ(DescriptorEntries(d), QStringList({"notes.txt", "photo.jpg"}));
    // Text after the last ";" is no entry.
    EXPECT_EQ(DescriptorEntries("2     a;b;tail"), QStringList({"a", "b"}));
    EXPECT_EQ(DescriptorCount("0     "), 0);
    EXPECT_TRUE(DescriptorEntries("0     ").isEmpty());
    EXPECT_TRUE(DescriptorEntries("").isEmpty());
    EXPECT_EQ(DescriptorCount("garbage"), 0);
    EXPECT_EQ(DescriptorEntryList("3"), "");
}

TEST(AttachmentDescriptor, ReadingAQuorvelMailsDescriptor)
{
    const QByteArray sent = "1     981201093005-a@x-org.m;/home/a/one.txt;/home/a/two.jpg;";
    EXPECT_EQ(DescriptorPackageName(sent), "981201093005-a@x-org.m");
    EXPECT_EQ(DescriptorEntriesAfterPackage(sent),
              QStringList({"/home/a/one.txt", "/home/a/two.jpg"}));
    EXPECT_TRUE(DescriptorEntriesAfterPackage("1     N.m;").isEmpty());
    EXPECT_TRUE(DescriptorEntriesAfterPackage("0     ").isEmpty());
}

TEST(AttachmentDescriptor, OnlyBareSafeNamesAreMembers)
{
    EXPECT_TRUE(IsMemberName("photo.jpg"));
    EXPECT_TRUE(IsMemberName("___.___"));
    EXPECT_FALSE(IsMemberName("/home/a/one.txt"));
    EXPECT_FALSE(IsMemberName(".."));
    EXPECT_FALSE(IsMemberName("-x"));
    EXPECT_FALSE(IsMemberName(""));
}

} // namespace
