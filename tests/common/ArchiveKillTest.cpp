// Archive changes are atomic: a process killed at any moment of an add, a
// replacement or a deletion leaves the old or the new archive. A power loss keeps
// what reached the disk whole and takes an archive that unsynced appends or
// deletions left broken back to the last sync (or to what the rewrite left); a
// command that completed is never undone.
//
// The killed process is this test program itself, started again to run the
// disabled ArchiveKillChild test with the work described in its environment.

#include "ArchiveTestSupport.h"

#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
#include "common/ZipJournal.h"
#include "platform/ScriptedPrompts.h"
#include "support/ChildTest.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <functional>

using namespace archivetest;

namespace {

const char kArchiveVar[] = "QUORVEL_KILL_ARCHIVE";
const char kFileVar[] = "QUORVEL_KILL_FILE";
const char kStepVar[] = "QUORVEL_KILL_STEP";

// The child: adds the files (separated by '|') to the archive, or deletes the member
// a "-" names, and kills itself at the named step ("end": once all are done).
TEST(ArchiveKillChild, DISABLED_Run)
{
    const QString archive = qEnvironmentVariable(kArchiveVar);
    const QStringList files = qEnvironmentVariable(kFileVar).split('|');
    const QByteArray step = qgetenv(kStepVar);
    ASSERT_FALSE(archive.isEmpty());
    // "exit:<step>" ends the program normally (statics and all) at that step.
    zipjournal::setStepHookForTesting([step](const char *name) {
        if (step == name)
            ::raise(SIGKILL);
        if (step == QByteArray("exit:") + name)
            std::exit(0);
    });
    platform::ScriptedPrompts prompts;
    TZipArchive zip;
    fputs("ready\n", stdout);
    fflush(stdout);
    for (const QString &file : files) {
        if (file.startsWith('-'))
            DeleteFromArchive(zip, archive, file.mid(1));
        else
            ZipFile(zip, archive, file);
    }
    if (step == "end")
        ::raise(SIGKILL);
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
    QProcessEnvironment env;
    env.insert(kArchiveVar, archive);
    env.insert(kFileVar, file);
    env.insert(kStepVar, QString::fromLatin1(step));
    testsupport::startChildTest(child, "ArchiveKillChild.DISABLED_Run", env);
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
    // Children journal under the real boot identity; another one here is a reboot.
    void TearDown() override { zipjournal::setBootIdForTesting({}); }
    void simulateReboot(bool reboot)
    {
        zipjournal::setBootIdForTesting(reboot ? "after-reboot" : "");
    }

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

TEST_F(ArchiveKillTest, KilledAtEveryStepOfAnAppendARewriteOrADeletion)
{
    const QByteArray newData = sampleData(20000, 3);
    const QString added = writeFile(tmp.path() + "/new/three", newData);
    QMap<QString, QByteArray> appended = oldMembers;
    appended.insert("three", newData);
    const QString replacing = writeFile(tmp.path() + "/new/two", newData);
    QMap<QString, QByteArray> replaced = oldMembers;
    replaced["two"] = newData;

    for (bool reboot : {false, true}) {
        // The same boot undoes an unfinished append; after a reboot an append whose
        // every byte is there is kept.
        const struct {
            const char *step;
            const QString &file;
            const QMap<QString, QByteArray> &after;
            bool isNew;
        } runs[] = {{"journal", added, appended, false},
                    {"members", added, appended, false},
                    {"directory", added, appended, reboot},
                    {"rewrite-written", replacing, replaced, false},
                    {"renamed", replacing, replaced, true}};
        for (const auto &r : runs) {
            const std::string what = std::string(r.step) + (reboot ? " and a reboot" : "");
            restoreOld();
            EXPECT_TRUE(runChild(archive, r.file, r.step, -1).killed) << what;
            simulateReboot(reboot);
            EXPECT_EQ(expectOldOrNew(r.after, what), r.isNew) << what;
        }
    }

    // A program that ends in the middle of an append keeps the journal that undoes it.
    restoreOld();
    simulateReboot(false);
    EXPECT_TRUE(runChild(archive, added, "exit:members", -1).finishedCleanly);
    EXPECT_FALSE(expectOldOrNew(appended, "exit while appending"));

    // A deletion rewrites the directory in place: undone when cut short on the same
    // boot, kept once it ended; after a reboot kept whenever the new directory is whole.
    oldMembers.insert("big", sampleData(40000, 5));   // so that "one" leaves little space
    QMap<QString, QByteArray> deleted = oldMembers;
    deleted.remove("one");
    for (bool reboot : {false, true}) {
        for (const char *step : {"journal", "directory", "end"}) {
            const std::string what = std::string("deleting, ") + step + (reboot ? " and a reboot" : "");
            restoreOld();
            EXPECT_TRUE(runChild(archive, "-one", step, -1).killed) << what;
            simulateReboot(reboot);
            const bool written = std::string(step) == "end" || (reboot && std::string(step) == "directory");
            EXPECT_EQ(expectOldOrNew(deleted, what), written) << what;
        }
    }
}

TEST_F(ArchiveKillTest, AppendsOfAProgramThatEndedNormallySurviveAReboot)
{
    const QString three = writeFile(tmp.path() + "/new/three", sampleData(7000, 4));
    const QString four = writeFile(tmp.path() + "/new/four", "4");
    QMap<QString, QByteArray> appended = oldMembers;
    appended.insert("three", readFile(three));
    appended.insert("four", "4");
    EXPECT_TRUE(runChild(archive, three + '|' + four, {}, -1).finishedCleanly);
    EXPECT_FALSE(QFileInfo::exists(zipjournal::journalPath(archive)))
        << "a batch journal outlived the process";
    simulateReboot(true);
    EXPECT_TRUE(expectOldOrNew(appended, "after a reboot"));
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
    bool reboot = false;
    for (int delay : {5, 30, 100, 250, 600}) {
        for (const QString &file : {newName, sameName}) {
            restoreOld();
            const ChildRun run = runChild(archive, file, {}, delay);
            killedMidway += run.killed;
            reboot = !reboot;
            simulateReboot(reboot);
            const std::string what = "kill after " + std::to_string(delay) + " ms, "
                + QFileInfo(file).fileName().toStdString() + (reboot ? ", reboot" : "");
            expectOldOrNew(file == newName ? appended : replaced, what, false);
        }
    }
    EXPECT_GT(killedMidway, 0) << "every child finished before it was killed";
}

// A power loss is simulated by forgetting this process's journals (as a new process)
// under another boot identity, after damaging what the appends wrote as a write that
// did not reach the disk would.
class ArchivePowerLossTest : public ArchiveKillTest {
protected:
    QString add(const QString &name, const QByteArray &data)
    {
        TZipArchive zip;
        ZipFile(zip, archive, writeFile(tmp.path() + "/src/" + name, data));
        return name;
    }

    // Rewrites the archive in place (same file) with `damage` applied.
    void damageAndReboot(const std::function<void(QByteArray &)> &damage)
    {
        QByteArray onDisk = readFile(archive);
        damage(onDisk);
        writeFile(archive, onDisk);
        zipjournal::forgetJournalsForTesting();
        zipjournal::setBootIdForTesting("second-boot");
    }

    // Flips a bit in the data of the member `name` (its local header comes first).
    static void spoilData(QByteArray &bytes, const QByteArray &name)
    {
        const qsizetype at = bytes.indexOf(name);
        ASSERT_GT(at, 0);
        bytes[at + name.size() + 3] = char(bytes[at + name.size() + 3] ^ 0x20);
    }
};

TEST_F(ArchivePowerLossTest, AfterARebootWholeAppendsStayAndBrokenOnesGiveWay)
{
    // Larger than the blocks the check reads and inflates.
    const QByteArray fourth = sampleData(700 * 1024, 6);
    QMap<QString, QByteArray> appended = oldMembers;
    appended.insert("third.txt", "3");
    appended.insert("fourth.txt", fourth);
    const struct {
        const char *what;
        std::function<void(QByteArray &)> damage;
    } cases[] = {
        {"every byte there", [](QByteArray &) {}},
        {"the directory cut short", [](QByteArray &b) { b.chop(40); }},
        {"a member's data wrong", [](QByteArray &b) { spoilData(b, "fourth.txt"); }},
    };
    for (const auto &c : cases) {
        zipjournal::setBootIdForTesting("first-boot");
        restoreOld();
        const QByteArray synced = readFile(archive);
        add("third.txt", "3");
        add("fourth.txt", fourth);
        ASSERT_TRUE(QFileInfo::exists(zipjournal::journalPath(archive)));
        damageAndReboot(c.damage);
        zipjournal::recoverArchive(archive);
        const bool kept = std::string(c.what) == "every byte there";
        if (!kept) {
            EXPECT_EQ(readFile(archive), synced) << c.what;
        }
        EXPECT_EQ(expectOldOrNew(appended, c.what), kept) << c.what;
    }
}

TEST_F(ArchivePowerLossTest, APreparedAppendAndDeletionStayWholeOrGoBackAfterAReboot)
{
    oldMembers.insert("big", sampleData(40000, 5));
    QMap<QString, QByteArray> changed = oldMembers;
    changed.insert("three", "3");
    changed.remove("one");
    for (const bool torn : {false, true}) {
        // Journals written ahead for the command, then an append and a deletion in place.
        zipjournal::setBootIdForTesting("first-boot");
        restoreOld();
        const QByteArray synced = readFile(archive);
        zipjournal::prepareChanges({archive, tmp.path() + "/absent.att"});
        ASSERT_TRUE(QFileInfo::exists(zipjournal::journalPath(archive)));
        add("three", "3");
        TZipArchive zip;
        ASSERT_TRUE(DeleteFromArchive(zip, archive, "one"));
        damageAndReboot([torn](QByteArray &b) {
            if (torn)
                b.chop(10);
        });
        zipjournal::recoverArchive(archive);
        if (torn) {
            EXPECT_EQ(readFile(archive), synced);
        }
        EXPECT_EQ(expectOldOrNew(changed, torn ? "torn" : "whole"), !torn);
    }
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
    add("two", "two again");           // a rewrite: a new file
    add("fourth.txt", "4444 4444");    // an append to the new file, then broken
    damageAndReboot([](QByteArray &b) { spoilData(b, "fourth.txt"); });
    QMap<QString, QByteArray> rewritten = oldMembers;
    rewritten.insert("three", "3");
    rewritten["two"] = "two again";
    EXPECT_TRUE(expectOldOrNew(rewritten, "rewritten file"));
    EXPECT_EQ(readWithLibzip(archive).order, (QStringList{"one", "two", "three", "later"}));
}

} // namespace
