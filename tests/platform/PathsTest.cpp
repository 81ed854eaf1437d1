#include "platform/CaseResolver.h"
#include "platform/FileUtil.h"
#include "platform/Paths.h"
#include "platform/Sanitiser.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace platform;
using testsupport::TempHome;

TEST(Paths, FollowXdgVariablesAndFallBackToHome)
{
    TempHome home;
    EXPECT_EQ(configDir(), home.configDir());
    EXPECT_EQ(dataDir(), home.dataDir());
    EXPECT_EQ(settingsFilePath(), home.configDir() + "/quorvel.ini");
    EXPECT_EQ(defaultAppPath(), home.dataDir() + "/quorvel");
    EXPECT_EQ(applicationsMenuDir(), home.dataDir() + "/applications/quorvel");

    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");
    EXPECT_EQ(configDir(), home.path() + "/.config");
    EXPECT_EQ(dataDir(), home.path() + "/.local/share");

    // Relative XDG values are ignored.
    qputenv("XDG_CONFIG_HOME", "relative/dir");
    EXPECT_EQ(configDir(), home.path() + "/.config");
}

TEST(Paths, JoinAndWorkDir)
{
    TempHome home;
    EXPECT_EQ(joinPath("/a/b", "c"), "/a/b/c");
    EXPECT_EQ(joinPath("/a/b/", "c"), "/a/b/c");
    EXPECT_EQ(joinPath("", "c"), "c");

    const QString inbox = home.file("inbox/");
    QDir().mkpath(inbox);
    const QString work = workDir(inbox);
    EXPECT_EQ(work, inbox + ".quorvel-tmp/");
    EXPECT_TRUE(QFileInfo(work).isDir());
    EXPECT_EQ(QFileInfo(work).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
    EXPECT_EQ(workDir(home.file("inbox")), work);
}

TEST(CaseResolver, FindsCaseVariantsOfEveryComponent)
{
    TempHome home;
    testsupport::writeFile(home.file("Inst/inbox/inbox.hdr"), "x");

    // Exists as spelled: unchanged.
    EXPECT_EQ(resolveCase(home.file("Inst/inbox/inbox.hdr")), home.file("Inst/inbox/inbox.hdr"));
    // Differs in case in the file name and in a directory.
    EXPECT_EQ(resolveCase(home.file("Inst/inbox/INBOX.hdr")), home.file("Inst/inbox/inbox.hdr"));
    EXPECT_EQ(resolveCase(home.file("inst/INBOX/INBOX.HDR")), home.file("Inst/inbox/inbox.hdr"));
    // A new file keeps its spelling but lands in the existing directory.
    EXPECT_EQ(resolveCase(home.file("INST/Inbox/READ.hdr")), home.file("Inst/inbox/READ.hdr"));
    // Below a missing directory nothing is looked up.
    EXPECT_EQ(resolveCase(home.file("Inst/none/INBOX.hdr")), home.file("Inst/none/INBOX.hdr"));
    // A trailing slash is kept.
    EXPECT_EQ(resolveCase(home.file("INST/INBOX/")), home.file("Inst/inbox/"));
}

TEST(Sanitiser, NamesFromOutsideStayInTheirDirectory)
{
    EXPECT_EQ(sanitizeFileName("notes.txt"), "notes.txt");
    EXPECT_EQ(sanitizeFileName("Msg<x>.txt"), "Msg<x>.txt");
    EXPECT_EQ(sanitizeFileName("../../x"), ".._.._x");
    EXPECT_EQ(sanitizeFileName("/etc/passwd"), "_etc_passwd");
    EXPECT_EQ(sanitizeFileName("a\\b"), "a_b");
    EXPECT_EQ(sanitizeFileName(QString("a") + QChar(0) + "b"), "a_b");
    EXPECT_EQ(sanitizeFileName("line\r\nbreak"), "line__break");
    EXPECT_EQ(sanitizeFileName("."), "_");
    EXPECT_EQ(sanitizeFileName(".."), "__");
    EXPECT_EQ(sanitizeFileName(""), "_");
    EXPECT_EQ(sanitizeFileName("-rf"), "_rf");
    EXPECT_EQ(sanitizeFileName(".hidden"), ".hidden");

    const QString longName = QString(300, 'a') + ".pdf";
    const QString cut = sanitizeFileName(longName);
    EXPECT_LE(cut.toUtf8().size(), kMaxFileNameBytes);
    EXPECT_TRUE(cut.endsWith(".pdf"));

    // Multi-byte characters are cut whole.
    const QString wide = QString(200, QChar(0x00e9)) + ".txt";
    const QString wideCut = sanitizeFileName(wide);
    EXPECT_LE(wideCut.toUtf8().size(), kMaxFileNameBytes);
    EXPECT_EQ(QString::fromUtf8(wideCut.toUtf8()), wideCut);

    EXPECT_EQ(bareFileName("C:\\docs\\a.txt"), "a.txt");
    EXPECT_EQ(bareFileName("/tmp/dir/b.jpg"), "b.jpg");
    EXPECT_EQ(bareFileName("dir/.."), "__");
    EXPECT_EQ(bareFileName("dir/"), "_");
}

TEST(FileUtil, AtomicWriteReplacesWholeAndKeepsMode)
{
    TempHome home;
    const QString path = home.file("settings.ini");
    ASSERT_TRUE(writeFileAtomically(path, "first", 0600));
    EXPECT_EQ(testsupport::readFile(path), "first");
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Without a mode the old file's mode is kept.
    ASSERT_TRUE(writeFileAtomically(path, "second", 0, true));
    EXPECT_EQ(testsupport::readFile(path), "second");
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Nothing but the file itself is left in the directory.
    EXPECT_EQ(QDir(home.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);

    // A directory that cannot be written leaves the old content.
    EXPECT_FALSE(writeFileAtomically(home.file("missing/dir/file"), "x"));
    EXPECT_TRUE(syncPath(path));
    EXPECT_FALSE(syncPath(home.file("nothing")));
}
