#include "common/Settings.h"

#include "platform/Error.h"
#include "platform/Paths.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <sys/stat.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    testsupport::TempHome home;
    QString ini() const { return home.configDir() + "/quorvel.ini"; }
    QByteArray content() const { return readFile(ini()); }
};

TEST_F(SettingsTest, MissingFileReadsDefaultAndWritesItBack)
{
    EXPECT_EQ(ReadIniString("POSTOFFICE", "Port", "pop3"), "pop3");
    EXPECT_EQ(ReadIniString("POSTOFFICE", "Host", ""), "");
    EXPECT_EQ(content(), "[POSTOFFICE]\r\nPort=pop3\r\nHost=\r\n");
    // It holds the scrambled password: readable by its owner only.
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(ini()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(SettingsTest, SectionsAndKeysMatchWithoutCase)
{
    WriteIniString("PERSONAL", "UserName", "Ann");
    EXPECT_EQ(ReadIniString("personal", "USERNAME", "x"), "Ann");
    WriteIniString("Personal", "username", "Bea");
    EXPECT_EQ(content(), "[PERSONAL]\r\nUserName=Bea\r\n");
}

TEST_F(SettingsTest, ReadValueDifferentFromDefaultLeavesFileAlone)
{
    const QByteArray before = "[PREFERENCE]\nKeepCopy = yes\n";
    ASSERT_TRUE(writeFile(ini(), before));
    // "yes" is not the default "Yes": nothing is written back.
    EXPECT_EQ(ReadIniString("PREFERENCE", "KeepCopy", "Yes"), "yes");
    EXPECT_EQ(content(), before);
}

TEST_F(SettingsTest, ReadEqualToDefaultDoesNotRewriteAnExistingEntry)
{
    const QByteArray before = "[POSTOFFICE]\nPort = pop3\n";
    ASSERT_TRUE(writeFile(ini(), before));
    EXPECT_EQ(ReadIniString("POSTOFFICE", "Port", "pop3"), "pop3");
    EXPECT_EQ(content(), before);
}

TEST_F(SettingsTest, WriteKeepsOtherLinesByteForByte)
{
    ASSERT_TRUE(writeFile(ini(), "; written by hand\n"
                                 "[quorvel]\n"
                                 "Application Path=/opt/q\n"
                                 "\n"
                                 "[PERSONAL]\r\n"
                                 "# note\r\n"
                                 "UserName = Ann \r\n"
                                 "EmailAddress=ann@example.org\r\n"
                                 "\r\n"
                                 "[POSTOFFICE]\n"
                                 "Host=pop.example.org"));
    WriteIniString("PERSONAL", "USERNAME", "Bea");
    WriteIniString("personal", "MailServer", "smtp.example.org");
    WriteIniString("POSTOFFICE", "Port", "110");
    WriteIniString("PREFERENCE", "KeepCopy", "No");
    EXPECT_EQ(content(), "; written by hand\n"
                         "[quorvel]\n"
                         "Application Path=/opt/q\n"
                         "\n"
                         "[PERSONAL]\r\n"
                         "# note\r\n"
                         "UserName=Bea\r\n"
                         "EmailAddress=ann@example.org\r\n"
                         "MailServer=smtp.example.org\r\n"
                         "\r\n"
                         "[POSTOFFICE]\n"
                         "Host=pop.example.org\r\n"
                         "Port=110\r\n"
                         "\r\n"
                         "[PREFERENCE]\r\n"
                         "KeepCopy=No\r\n");
    EXPECT_EQ(ReadIniString("quorvel", "Application Path", ""), "/opt/q");
}

TEST_F(SettingsTest, CommentsAndLinesOutsideSectionsAreNotEntries)
{
    ASSERT_TRUE(writeFile(ini(), "Host=outside\r\n[POSTOFFICE]\r\n;Host=commented\r\n"));
    EXPECT_EQ(ReadIniString("POSTOFFICE", "Host", "none"), "none");
    EXPECT_EQ(content(),
              "Host=outside\r\n[POSTOFFICE]\r\n;Host=commented\r\nHost=none\r\n");
}

TEST_F(SettingsTest, ByteOrderMarkDoesNotHideTheFirstSection)
{
    ASSERT_TRUE(writeFile(ini(), "\xEF\xBB\xBF[PERSONAL]\r\nUserName=Ann\r\n"));
    EXPECT_EQ(ReadIniString("PERSONAL", "UserName", ""), "Ann");
}

TEST_F(SettingsTest, ValuesAreCutAt1023CharactersWhenRead)
{
    const QString longValue(1500, 'v');
    WriteIniString("PERSONAL", "UserName", longValue);
    EXPECT_EQ(ReadIniString("PERSONAL", "UserName", ""), QString(kMaxIniValueLength, 'v'));
    // The stored value itself is whole.
    EXPECT_TRUE(content().contains(longValue.toUtf8()));
}

TEST_F(SettingsTest, NonAsciiValuesAreStoredAsUtf8)
{
    WriteIniString("PERSONAL", "UserName", QString::fromUtf8("Zoë Ørsted"));
    EXPECT_EQ(content(), "[PERSONAL]\r\nUserName=Zo\xC3\xAB \xC3\x98rsted\r\n");
    EXPECT_EQ(ReadIniString("PERSONAL", "UserName", ""), QString::fromUtf8("Zoë Ørsted"));
}

TEST_F(SettingsTest, LineBreakInValueCannotAddEntries)
{
    WriteIniString("PERSONAL", "UserName", "Ann\r\n[POSTOFFICE]\nHost=evil");
    EXPECT_EQ(ReadIniString("POSTOFFICE", "Host", "safe"), "safe");
    EXPECT_EQ(ReadIniString("PERSONAL", "UserName", ""), "Ann  [POSTOFFICE] Host=evil");
}

TEST_F(SettingsTest, RefusedWriteRaisesUnableToWrite)
{
    // A directory where the file should be cannot be replaced by a file.
    ASSERT_TRUE(QDir().mkpath(ini()));
    try {
        WriteIniString("PERSONAL", "UserName", "Ann");
        FAIL() << "no error raised";
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.message(), "Unable to write to " + platform::settingsFilePath());
    }
    // Reading cannot write the default back, and must not replace what it cannot read.
    EXPECT_EQ(ReadIniString("PERSONAL", "UserName", "dflt"), "dflt");
    EXPECT_TRUE(QFileInfo(ini()).isDir());
}

TEST_F(SettingsTest, ReadOnlyFileIsNeverReplaced)
{
    const QByteArray before = "[PERSONAL]\r\nUserName=Ann\r\n";
    ASSERT_TRUE(writeFile(ini(), before));
    ASSERT_EQ(::chmod(QFile::encodeName(ini()).constData(), 0444), 0);
    QString error;
    try {
        WriteIniString("PERSONAL", "UserName", "Bea");
    } catch (const platform::Error &e) {
        error = e.message();
    }
    EXPECT_EQ(error, "Unable to write to " + platform::settingsFilePath());
    EXPECT_THROW(ReadIniString("PERSONAL", "EmailAddress", ""), platform::Error);
    EXPECT_EQ(ReadIniString("PERSONAL", "UserName", ""), "Ann");
    EXPECT_EQ(content(), before);
}

TEST_F(SettingsTest, UnwritableConfigurationDirectoryRaises)
{
    QDir(home.configDir()).removeRecursively();
    ASSERT_TRUE(writeFile(home.configDir(), "a file, not a directory"));
    EXPECT_THROW(WriteIniString("PERSONAL", "UserName", "Ann"), platform::Error);
    EXPECT_THROW(ReadIniString("PERSONAL", "UserName", ""), platform::Error);
}

TEST_F(SettingsTest, MissingConfigurationDirectoryIsCreated)
{
    QDir(home.configDir()).removeRecursively();
    WriteIniString("PERSONAL", "UserName", "Ann");
    EXPECT_EQ(content(), "[PERSONAL]\r\nUserName=Ann\r\n");
}

TEST_F(SettingsTest, FileNameIsFoundWithoutRegardToCase)
{
    ASSERT_TRUE(writeFile(home.configDir() + "/QUORVEL.INI", "[PERSONAL]\r\nUserName=Ann\r\n"));
    EXPECT_EQ(ReadIniString("PERSONAL", "UserName", ""), "Ann");
    WriteIniString("PERSONAL", "EmailAddress", "ann@example.org");
    EXPECT_FALSE(QFileInfo::exists(ini()));
    EXPECT_EQ(readFile(home.configDir() + "/QUORVEL.INI"),
              "[PERSONAL]\r\nUserName=Ann\r\nEmailAddress=ann@example.org\r\n");
}

TEST_F(SettingsTest, SymbolicLinkStaysALink)
{
    const QString target = home.file("dotfiles/quorvel.ini");
    ASSERT_TRUE(writeFile(target, "[PERSONAL]\r\nUserName=Ann\r\n"));
    ASSERT_TRUE(QFile::link(target, ini()));
    WriteIniString("PERSONAL", "UserName", "Bea");
    EXPECT_TRUE(QFileInfo(ini()).isSymLink());
    EXPECT_EQ(readFile(target), "[PERSONAL]\r\nUserName=Bea\r\n");
}

} // namespace
