// Archive changes are atomic: a process killed at any moment of an add or a
// replacement leaves the old or the new archive, and a power loss before the batch
// sync leaves the archive as it was at the last sync (or as the rewrite left it).
//
// The killed process is this test program itself, started again to run the
// disabled ArchiveKillChild test with the work described in its environment.

#include "ArchiveTestSupport.h"

#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
#include "common/ZipJournal.h"
#include "platform/ScriptedPrompts.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>

using namespace archivetest;

namespace {

const char kArchiveVar[] = "QUORVEL_KILL_ARCHIVE";
const char kFileVar[] = "QUORVEL_KILL_FILE";
const char kStepVar[] = "QUORVEL_KILL_STEP";

// The child: adds the file to the archive, and kills itself at the named step.
TEST(ArchiveKillChild, DISABLED_Run)
{
    const QString archive = qEnvironmentVariable(kArchiveVar);
    const QString file = qEnvironmentVariable(kFileVar);
    const QByteArray step = qgetenv(kStepVar);
    ASSERT_FALSE(archive.isEmpty());
    zipjournal::setStepHookForTesting([step](const char *name) {
        if (step == name)
            ::raise(SIGKILL);
    });
    platform::ScriptedPrompts prompts;
    TZipArchive zip;
    fputs("ready\n", stdout);
    fflush(stdout);
    ZipFile(zip, archive, file);
}

struct ChildRun {
    bool killed = false;
    bool finishedCleanly = false;
};

// Runs the child; with `killAfterMs` >= 0 kills it that long after it is ready.
ChildRun runChild(const QString &archive, const QString &file, const QByteArray &step,
             int killAfterMs)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kArchiveVar, archive);
    env.insert(kFileVar, file);
    env.insert(kStepVar, QString::fromLatin1(step));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=ArchiveKillChild.DISABLED_Run", "--gtest_also_run_disabled_tests"});
    ChildRun run;
    if (!child.waitForStarted(10000))
        return run;
    while (!child.canReadLine() && child.state() == QProcess::Running)
        child.waitForReadyRead(100);
    if (killAfterMs >= 0) {
        QThread::msleep(ulong(killAfterMs));
        child.kill();
    }
    child.waitForFinished(120000);
    run.killed = child.exitStatus() == QProcess::CrashExit;
    run.finishedCleanly = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    return run;
}

class ArchiveKillTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        archive = tmp.path() + "/INBOX.att";
        oldMembers = {{"one", sampleData(3000, 1)}, {"two", sampleData(5000, 2)}};
        restoreOld();
    }

    // The archive as it stood before each run: two members, synced.
    void restoreOld()
    {
        QFile::remove(archive);
        TZipArchive zip;
        for (auto it = oldMembers.begin(); it != oldMembers.end(); ++it)
            ZipFile(zip, archive, writeFile(tmp.path() + "/src/" + it.key(), it.value()));
        ASSERT_TRUE(syncArchives());
    }

    // Opens the archive as the next run of the program would and checks that it
    // holds exactly the old or exactly the new members. Returns true for new.
    bool expectOldOrNew(const QMap<QString, QByteArray> &newMembers, const std::string &what,
                        bool outsideReaders = true)
    {
        TZipArchive zip;
        EXPECT_NO_THROW(zip.setZipFilename(archive)) << what;
        QStringList listed;
        for (const ZipDirEntry &e : zip.MemberList())
            listed.append(e.fileName);
        const Contents c = readWithLibzip(archive);
        EXPECT_TRUE(c.ok) << what;
        const bool isOld = c.members == oldMembers && listed == QStringList(oldMembers.keys());
        const bool isNew = c.members == newMembers && listed == c.order;
        EXPECT_TRUE(isOld || isNew) << what << ": " << listed.join(',').toStdString();
        EXPECT_FALSE(QFileInfo::exists(zipjournal::journalPath(archive))) << what;
        QString why;
        if (outsideReaders) {
            EXPECT_TRUE(outsideReadersAccept(archive, &why)) << what << why.toStdString();
        }
        // The next change goes through, and cleans up after the killed one.
        EXPECT_TRUE(AddToArchive(zip, archive, writeFile(tmp.path() + "/src/later", "later")));
        EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden).filter(".qvtmp."),
                  QStringList())
            << what;
        return isNew;
    }

    QTemporaryDir tmp;
    platform::ScriptedPrompts prompts;
    QString archive;
    QMap<QString, QByteArray> oldMembers;
};

TEST_F(ArchiveKillTest, KilledAtEveryStepOfAnAppendOrARewrite)
{
    const QByteArray newData = sampleData(20000, 3);
    const QString added = writeFile(tmp.path() + "/new/three", newData);
    QMap<QString, QByteArray> appended = oldMembers;
    appended.insert("three", newData);
    for (const char *step : {"journal", "members", "directory"}) {
        restoreOld();
        const ChildRun run = runChild(archive, added, step, -1);
        EXPECT_TRUE(run.killed) << step;
        EXPECT_FALSE(expectOldOrNew(appended, step)) << step << ": the append was undone";
    }

    const QString replacing = writeFile(tmp.path() + "/new/two", newData);
    QMap<QString, QByteArray> replaced = oldMembers;
    replaced["two"] = newData;
    for (const char *step : {"rewrite-written", "renamed"}) {
        restoreOld();
        const ChildRun run = runChild(archive, replacing, step, -1);
        EXPECT_TRUE(run.killed) << step;
        EXPECT_EQ(expectOldOrNew(replaced, step), std::string(step) == "renamed") << step;
    }

    restoreOld();
    EXPECT_TRUE(runChild(archive, added, {}, -1).finishedCleanly);
    EXPECT_TRUE(expectOldOrNew(appended, "not killed"));
}

TEST_F(ArchiveKillTest, KilledAtRandomMomentsWhileAddingALargeFile)
{
    const QByteArray big = sampleData(16 * 1024 * 1024, 9);
    QMap<QString, QByteArray> appended = oldMembers;
    appended.insert("big", big);
    QMap<QString, QByteArray> replaced = oldMembers;
    replaced["one"] = big;
    const QString newName = writeFile(tmp.path() + "/new/big", big);
    const QString sameName = writeFile(tmp.path() + "/new/one", big);

    int killedMidway = 0;
    for (int delay : {5, 30, 100, 250, 600}) {
        for (const QString &file : {newName, sameName}) {
            restoreOld();
            const ChildRun run = runChild(archive, file, {}, delay);
            killedMidway += run.killed;
            const std::string what = "kill after " + std::to_string(delay) + " ms, "
                + QFileInfo(file).fileName().toStdString();
            expectOldOrNew(file == newName ? appended : replaced, what, false);
        }
    }
    EXPECT_GT(killedMidway, 0) << "every child finished before it was killed";
}

// A power loss is simulated by forgetting this process's journals (as a new process)
// under another boot identity, after damaging what the appends wrote.
class ArchivePowerLossTest : public ArchiveKillTest {
protected:
    void TearDown() override { zipjournal::setBootIdForTesting({}); }

    QString add(const QString &name, const QByteArray &data)
    {
        TZipArchive zip;
        ZipFile(zip, archive, writeFile(tmp.path() + "/src/" + name, data));
        return name;
    }
};

TEST_F(ArchivePowerLossTest, UnsyncedAppendsGiveWayToTheLastSyncedArchive)
{
    zipjournal::setBootIdForTesting("first-boot");
    restoreOld();
    const QByteArray synced = readFile(archive);
    add("three", "3");
    add("four", "4");
    ASSERT_TRUE(QFileInfo::exists(zipjournal::journalPath(archive)));

    // Only part of the appends reached the disk.
    QByteArray onDisk = readFile(archive);
    onDisk.chop(40);
    writeFile(archive, onDisk);
    zipjournal::forgetJournalsForTesting();
    zipjournal::setBootIdForTesting("second-boot");
    zipjournal::recoverArchive(archive);
    EXPECT_EQ(readFile(archive), synced);
    EXPECT_FALSE(expectOldOrNew({}, "after the power loss"));
}

TEST_F(ArchivePowerLossTest, SameBootKeepsWhatADeadProcessCompleted)
{
    zipjournal::setBootIdForTesting("one-boot");
    restoreOld();
    add("three", "3");
    zipjournal::forgetJournalsForTesting();
    QMap<QString, QByteArray> withThree = oldMembers;
    withThree.insert("three", "3");
    EXPECT_TRUE(expectOldOrNew(withThree, "same boot"));
}

TEST_F(ArchivePowerLossTest, ARewriteInTheBatchStartsANewBatchRecord)
{
    zipjournal::setBootIdForTesting("first-boot");
    restoreOld();
    add("three", "3");
    add("two", "two again");   // a rewrite: a new file
    add("four", "4");          // an append to the new file
    zipjournal::forgetJournalsForTesting();
    zipjournal::setBootIdForTesting("second-boot");
    QMap<QString, QByteArray> rewritten = oldMembers;
    rewritten.insert("three", "3");
    rewritten["two"] = "two again";
    EXPECT_TRUE(expectOldOrNew(rewritten, "rewritten file"));
    EXPECT_EQ(readWithLibzip(archive).order, (QStringList{"one", "two", "three", "later"}));
}

} // namespace
