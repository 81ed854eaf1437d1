// What the fetch run stores from the real Dovecot (scripts/mailservers/start exports
// QUORVEL_TEST_*): mail written by real tools reads as its sender wrote it; mails that
// share attachment names and a Message-ID keep their own members, also when one of
// them is trashed; a message the server keeps is stored once whatever the day and
// however often the program restarts; a run killed before QUIT stores nothing twice.
// Messages are put straight into the Maildir. Without the variables the tests are
// skipped.
//
// The killed runs are this test program itself, started again to run the disabled
// StoreKillChild test with the kill point named in its environment.
#include "net/ScriptedServer.h"

#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
#include "net/Pop3Client.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/ScriptedPrompts.h"
#include "store/AttachmentDescriptor.h"
#include "store/FolderNames.h"
#include "store/FolderOps.h"
#include "store/HeaderRecord.h"
#include "store/History.h"
#include "store/InboxDecoder.h"
#include "store/MessageDecoder.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"
#include "support/ArchiveContents.h"
#include "support/ChildTest.h"
#include "support/RealServers.h"
#include "support/RealToolMail.h"
#include "support/TempHome.h"
#include "transfer/FetchRun.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>

using testsupport::messageFiles;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// The fetch tests' mailbox: every user of it holds the "fetch-tests" lock.
const QString kUser = "frank";

using Attachments = QList<QPair<QString, QByteArray>>;

// What a mail holds: its body and its attachments in order, by the name the decoder
// gives each part (a folder may store it under a numbered form of that name).
struct MailParts {
    QByteArray subject, rawHeader, body;
    Attachments attachments;
};

struct NoProgress : RunProgress {
    void begin(Kind, int, const QString &) override {}
    void advance(int, const QString &) override {}
    void end() override {}
};

// The control centre at start-up on the installation `app`: the history loaded and
// trimmed as it does, mail kept on the server or not.
std::unique_ptr<ControlCentreState> startUp(const QString &app, const char *keepMailInServer)
{
    auto state = std::make_unique<ControlCentreState>();
    state->SetAppPath(app);
    state->KeepMailInServer = keepMailInServer;
    const QString history = HistoryFilePath(app);
    if (QFileInfo::exists(history))
        state->HistoryList = LoadHistory(history);
    TrimHistory(state->HistoryList, history);
    return state;
}

// A new installation at `app` as setup leaves it, started up.
std::unique_ptr<ControlCentreState> install(const QString &app, const char *keepMailInServer)
{
    {
        ControlCentreState state;
        state.SetAppPath(app);
        QDir().mkpath(state.InboxDir);
        const QString seed = platform::workDir(state.InboxDir) + kPlaceholderMember;
        writeFile(seed, "placeholder");
        ZipFile(state.ZipArchive1, state.InboxHeaderArchive(), seed);
        QFile::remove(seed);
    }
    return startUp(app, keepMailInServer);
}

// One fetch run against the real server; the number of mails it stored.
qsizetype fetch(ControlCentreState &state, platform::Prompts &prompts)
{
    nettest::HiddenWait wait{1000};
    TPop3Client client;
    client.SetWait(&wait.wait);
    NoProgress progress;
    QStringList files;
    ::FetchRun run(state, client, progress, prompts, files);
    run.Account = {qEnvironmentVariable("QUORVEL_TEST_POP3_HOST"), qEnvironmentVariable("QUORVEL_TEST_POP3_PORT"),
                   kUser, kUser + "-secret"};
    run.Run();
    return state.NewMailList.size();
}

QByteArray simpleMail(const QByteArray &tag, int n)
{
    const QByteArray num = QByteArray::number(n);
    return "Message-ID: <" + tag + "-" + num + "@example.test>\r\nFrom: Ann <ann@example.test>\r\nSubject: "
           + tag + " " + num + "\r\nDate: Mon, 7 Dec 2026 10:00:00 +0000\r\n\r\nText of " + tag + " " + num
           + ".\r\n.starts with a dot\r\n";
}

// The sample message `file` as the decoder reads it on its own, outside any folder.
MailParts decodedAlone(const QString &file)
{
    QByteArray raw = testsupport::realToolMailFile(file);
    QBuffer buffer(&raw);
    buffer.open(QIODevice::ReadOnly);
    QTemporaryDir work;
    MailParts parts;
    const DecodedMessage msg = DecodeMessageStream(buffer, work.path(), "uid", [&](const QString &path, DecodedFileKind kind) {
        if (kind == DecodedFileKind::Body)
            parts.body = readFile(path);
        else
            parts.attachments.append({QFileInfo(path).fileName(), readFile(path)});
        QFile::remove(path);
    });
    parts.subject = msg.subject;
    parts.rawHeader = msg.rawHeader;
    return parts;
}

class StoreRealServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        testsupport::RequireRealServers(lock_, "fetch-tests");
        if (IsSkipped() || HasFatalFailure())
            return;
        testsupport::clearMailbox(kUser);
        platform::setClockForTesting([this] { return now; });
    }
    void TearDown() override
    {
        platform::setClockForTesting({});
        if (!IsSkipped())
            testsupport::clearMailbox(kUser);
    }

    void deliver(const QByteArray &message) { ASSERT_TRUE(testsupport::deliverToMaildir(kUser, message)); }

    QByteArray member(ControlCentreState &state, const QString &archive, const QString &name)
    {
        return testsupport::memberData(state.ZipArchive1, state.InboxDir + archive, name, home.file("out"));
    }
    // The mails of INBOX (the placeholder left out).
    static QStringList mails(const ControlCentreState &state)
    {
        QStringList ids = testsupport::memberNames(state.InboxDir + "INBOX.hdr");
        ids.removeAll(kPlaceholderMember);
        return ids;
    }
    // The INBOX mail whose subject is `subject`; empty (a failure) unless exactly one.
    QString mailWithSubject(ControlCentreState &state, const QByteArray &subject)
    {
        QStringList found;
        for (const QString &id : mails(state))
            if (ParseHeaderRecord(member(state, "INBOX.hdr", id)).subject == subject)
                found << id;
        EXPECT_EQ(found.size(), 1) << subject.constData() << ": " << found.join(", ").toStdString();
        return found.size() == 1 ? found[0] : QString();
    }

    // Mail `id` of INBOX holds exactly `expected`: body, and each attachment byte for
    // byte in a member of its own, named by the part's name or a numbered form of it.
    // Returns the member names of its attachments.
    QStringList expectStored(ControlCentreState &state, const QString &id, const MailParts &expected)
    {
        const HeaderRecord record = ParseHeaderRecord(member(state, "INBOX.hdr", id));
        EXPECT_EQ(record.subject, expected.subject) << id.toStdString();
        EXPECT_EQ(member(state, "INBOX.fdr", id), expected.body) << id.toStdString();
        const QStringList entries = DescriptorEntries(record.attach);
        EXPECT_EQ(entries.size(), expected.attachments.size()) << id.toStdString();
        for (qsizetype i = 0; i < qMin(entries.size(), expected.attachments.size()); ++i) {
            const auto &[name, bytes] = expected.attachments[i];
            QStringList forms{name};
            for (int k = 2; k <= 4; ++k)
                forms << NumberedAttachmentName(name, k);
            EXPECT_TRUE(forms.contains(entries[i])) << id.toStdString() << ": " << entries[i].toStdString()
                                                    << " stores " << name.toStdString();
            EXPECT_EQ(member(state, "INBOX.att", entries[i]), bytes) << id.toStdString() << ": " << name.toStdString();
        }
        return entries;
    }

    // Runs this program again as a fetch run on `app` with mail not kept, killed at
    // the `count`th passing of the run's point `step`.
    void runKilled(const QString &app, const char *step, int count)
    {
        QProcess child;
        QProcessEnvironment e;
        e.insert("QUORVEL_STOREKILL_APP", app);
        e.insert("QUORVEL_STOREKILL_STEP", step);
        e.insert("QUORVEL_STOREKILL_COUNT", QString::number(count));
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        testsupport::startChildTest(child, "StoreKillChild.DISABLED_Run", e);
        ASSERT_TRUE(child.waitForStarted(10000));
        ASSERT_TRUE(child.waitForFinished(60000));
        EXPECT_EQ(child.exitStatus(), QProcess::CrashExit)
            << step << " " << count << ": " << child.readAllStandardOutput().constData();
    }

    testsupport::TempHome home;
    platform::ScriptedPrompts prompts;
    QDateTime now{QDate(2026, 12, 7), QTime(12, 0, 0)};

private:
    testsupport::ServerLock lock_;
};

TEST_F(StoreRealServer, MailFromRealToolsReadsAsSent)
{
    const QList<testsupport::RealToolMail> sent = testsupport::realToolMails();
    for (const testsupport::RealToolMail &m : sent)
        deliver(testsupport::realToolMailFile(m.file));
    auto state = install(home.file("app"), "Yes");
    ASSERT_EQ(fetch(*state, prompts), sent.size());
    EXPECT_EQ(prompts.recorded, QList<platform::RecordedPrompt>());

    qsizetype attachments = 0;
    for (const testsupport::RealToolMail &m : sent) {
        SCOPED_TRACE(m.file.toStdString());
        const QString id = mailWithSubject(*state, m.subject);
        if (!id.isEmpty())
            expectStored(*state, id, {m.subject, {}, m.body, m.attachments});
        attachments += m.attachments.size();
    }
    // Parts of the same name in different mails (blob.bin, part-2.html) were kept apart.
    EXPECT_EQ(testsupport::memberNames(state->InboxDir + "INBOX.att").size(), attachments);
}

// Three mails as a common client sends them (an alternative part, image001.png,
// signature.asc, an unnamed part), the third reusing the first's Message-ID, fetched
// in one run or one by one, kept on the server or not: each is stored as it reads on
// its own, and trashing the first leaves the others whole.
TEST_F(StoreRealServer, MailsWithTheSameNamesKeepTheirOwnRecordsAndMembers)
{
    QList<MailParts> alone;
    for (int n = 1; n <= 3; ++n)
        alone << decodedAlone(QString("python-inline-%1.eml").arg(n));
    int installs = 0;
    for (const char *keep : {"Yes", "No"}) {
        for (const bool oneRun : {true, false}) {
            SCOPED_TRACE(std::string("kept on the server: ") + keep + (oneRun ? ", one run" : ", one run each"));
            testsupport::clearMailbox(kUser);
            auto state = install(home.file(QString("app%1").arg(++installs)), keep);
            QList<qsizetype> stored;
            for (int n = 1; n <= 3; ++n) {
                deliver(testsupport::realToolMailFile(QString("python-inline-%1.eml").arg(n)));
                if (!oneRun)
                    stored << fetch(*state, prompts);
            }
            if (oneRun)
                stored << fetch(*state, prompts);
            EXPECT_EQ(stored, oneRun ? QList<qsizetype>({3}) : QList<qsizetype>({1, 1, 1}));
            EXPECT_EQ(prompts.recorded, QList<platform::RecordedPrompt>());
            EXPECT_EQ(messageFiles(kUser).size(), QByteArray(keep) == "Yes" ? 3 : 0);

            QStringList ids = mails(*state);
            ASSERT_EQ(ids.size(), 3);
            ids.sort();   // list-1@example-test, list-1@example-test-2, list-2@example-test
            const QStringList order = {ids[0], ids[2], ids[1]};
            QSet<QString> members;
            for (int n = 0; n < 3; ++n) {
                EXPECT_EQ(ParseHeaderRecord(member(*state, "INBOX.hdr", order[n])).rawHeader, alone[n].rawHeader);
                for (const QString &name : expectStored(*state, order[n], alone[n]))
                    members.insert(name.toLower());
            }
            EXPECT_EQ(members.size(), 12);
            EXPECT_EQ(testsupport::memberNames(state->InboxDir + "INBOX.att").size(), 12);

            // Trash the first: the two others keep every byte.
            EXPECT_TRUE(deleteMail(state->ZipArchive1, state->InboxDir, "INBOX", order[0]));
            EXPECT_EQ(mails(*state), QStringList({order[1], order[2]}));
            for (int n = 1; n < 3; ++n)
                expectStored(*state, order[n], alone[n]);
            EXPECT_EQ(testsupport::memberNames(state->InboxDir + "INBOX.att").size(), 8);
            // Nor does the trashed mail come back, though the server may still hold it.
            EXPECT_EQ(fetch(*state, prompts), 0);
            EXPECT_EQ(mails(*state), QStringList({order[1], order[2]}));
            prompts.clear();
        }
    }
}

// A mailbox the server keeps, fetched on one day, after a restart, and days later:
// each message is stored once; the history follows what the server holds.
TEST_F(StoreRealServer, AKeptMessageIsStoredOnceWhateverTheDayAndRestarts)
{
    const int count = 150;
    for (int n = 1; n <= count; ++n)
        deliver(simpleMail("kept", n));
    const QString app = home.file("app");
    const QString historyFile = HistoryFilePath(app);
    auto state = install(app, "Yes");
    EXPECT_EQ(fetch(*state, prompts), count);
    EXPECT_EQ(mails(*state).size(), count);
    EXPECT_EQ(member(*state, "INBOX.fdr", "kept-77@example-test"), "Text of kept 77.\r\n.starts with a dot\r\n");
    // Mail the user trashed or filed elsewhere does not come back either.
    for (int n = 1; n <= 5; ++n) {
        EXPECT_TRUE(deleteMail(state->ZipArchive1, state->InboxDir, "INBOX", QString("kept-%1@example-test").arg(n)));
        EXPECT_FALSE(moveMail(state->ZipArchive1, state->InboxDir, "INBOX", "Filed",
                              QString("kept-%1@example-test").arg(n + 5)).isEmpty());
    }
    const int inInbox = count - 10;

    state = startUp(app, "Yes");
    EXPECT_EQ(fetch(*state, prompts), 0);
    now = now.addDays(3);
    state = startUp(app, "Yes");
    EXPECT_EQ(fetch(*state, prompts), 0);
    EXPECT_EQ(mails(*state).size(), inInbox);
    EXPECT_EQ(testsupport::memberNames(state->InboxDir + "Filed.hdr").size(), 5);
    EXPECT_EQ(LoadHistory(historyFile).size(), count);
    EXPECT_EQ(prompts.texts(), QStringList({"There is no mail to fetch.", "There is no mail to fetch."}));

    // Messages gone from the server leave the history; the store keeps their mails.
    const QStringList onServer = messageFiles(kUser);
    ASSERT_EQ(onServer.size(), count);
    for (int i = 0; i < 10; ++i)
        QFile::remove(onServer[i]);
    EXPECT_EQ(fetch(*state, prompts), 0);
    EXPECT_EQ(LoadHistory(historyFile).size(), count - 10);
    EXPECT_EQ(state->HistoryList, LoadHistory(historyFile));
    EXPECT_EQ(mails(*state).size(), inInbox);
}

// The child: a fetch run on an installation, mail not kept, killed at a point of it.
TEST(StoreKillChild, DISABLED_Run)
{
    const QString app = qEnvironmentVariable("QUORVEL_STOREKILL_APP");
    const QByteArray step = qgetenv("QUORVEL_STOREKILL_STEP");
    const int count = qEnvironmentVariableIntValue("QUORVEL_STOREKILL_COUNT");
    ASSERT_FALSE(app.isEmpty());
    int passed = 0;
    ::FetchRun::setStepHookForTesting([&](const char *name) {
        if (step == name && ++passed == count)
            ::raise(SIGKILL);
    });
    platform::ScriptedPrompts prompts;
    auto state = startUp(app, "No");
    fetch(*state, prompts);
    ADD_FAILURE() << "the run was not killed at " << step.constData() << " " << count;
}

// Mail not kept: a run killed before QUIT leaves its deletions uncommitted. The next
// run stores what the killed one left and is killed before its QUIT too, after storing;
// the run after it stores nothing twice and deletes everything it stored.
TEST_F(StoreRealServer, ARunKilledAfterStoringBeforeQuitStoresNothingTwice)
{
    const int count = 4;
    for (int n = 1; n <= count; ++n)
        deliver(simpleMail("killed", n));
    const QString app = home.file("app");
    install(app, "No");

    // Killed after DELE of the second message: two raw files wait, nothing is stored.
    runKilled(app, "dele", 2);
    auto state = startUp(app, "No");
    EXPECT_EQ(mails(*state), QStringList());
    EXPECT_EQ(PendingRawMessages(state->InboxDir).size(), 2);
    EXPECT_EQ(messageFiles(kUser).size(), count);

    // Killed while retrieving the third message, after storing the first two.
    runKilled(app, "retr-line", 1);
    state = startUp(app, "No");
    EXPECT_EQ(mails(*state), QStringList({"killed-1@example-test", "killed-2@example-test"}));
    EXPECT_EQ(state->HistoryList.size(), 2);
    EXPECT_EQ(PendingRawMessages(state->InboxDir), QStringList());
    EXPECT_EQ(messageFiles(kUser).size(), count);

    EXPECT_EQ(fetch(*state, prompts), 2);
    EXPECT_EQ(prompts.recorded, QList<platform::RecordedPrompt>());
    EXPECT_EQ(messageFiles(kUser).size(), 0);
    QStringList expected;
    for (int n = 1; n <= count; ++n)
        expected << QString("killed-%1@example-test").arg(n);
    EXPECT_EQ(mails(*state), expected);
    for (int n = 1; n <= count; ++n)
        EXPECT_EQ(member(*state, "INBOX.fdr", expected[n - 1]),
                  "Text of killed " + QByteArray::number(n) + ".\r\n.starts with a dot\r\n");
    EXPECT_EQ(QDir(state->InboxDir).entryList({"Msg*"}, QDir::Files), QStringList());
}

} // namespace
