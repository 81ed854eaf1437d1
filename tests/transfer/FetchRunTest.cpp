// The fetch run against scripted POP3 servers: the exact conversation, the history
// of one day, every row of the failure table, and what the run does so that nothing
// fetched is lost (whole raw files only, a flush before QUIT, no DELE after a broken
// retrieval, leftovers stored first, names from the server made safe, long lines
// written back whole).
#include "net/ScriptedServer.h"

#include "common/ArchiveOps.h"
#include "common/Settings.h"
#include "common/ZipArchive.h"
#include "net/Md5.h"
#include "net/Pop3Client.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/ScriptedPrompts.h"
#include "store/HeaderRecord.h"
#include "store/History.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"
#include "support/ArchiveContents.h"
#include "support/TempHome.h"
#include "transfer/BusyIndicator.h"
#include "transfer/FetchRun.h"
#include "transfer/GetMail.h"
#include "transfer/Popup.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <gtest/gtest.h>

#include <memory>

using nettest::ScriptedServer;
using nettest::Step;
using platform::PromptKind;
using platform::RecordedPrompt;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

QByteArray message(const QByteArray &id, const QByteArray &subject, const QByteArray &body)
{
    QByteArray m;
    if (!id.isEmpty())
        m += "Message-ID: <" + id + ">\r\n";
    m += "From: Ann <ann@example.test>\r\nSubject: " + subject
         + "\r\nDate: Mon, 7 Dec 2026 10:00:00 +0000\r\nContent-Type: text/plain\r\n\r\n" + body;
    return m;
}

// The message as a POP3 server sends it: dot-stuffed, then the end line.
Step onTheWire(const QByteArray &msg)
{
    QByteArray out;
    for (QByteArray line : msg.split('\n')) {
        if (line.isEmpty())
            continue;
        if (line.startsWith('.'))
            line.prepend('.');
        out += line + (line.endsWith('\r') ? "\n" : "\r\n");
    }
    return Step::raw(out + ".\r\n");
}

Step send(const QByteArray &line) { return Step(Step::Send, line + "\r\n"); }
Step expect(const QByteArray &line) { return Step(Step::Expect, line); }

struct Script {
    std::vector<Step> steps;

    Script &operator<<(const Step &s)
    {
        steps.push_back(s);
        return *this;
    }
    // Greeting and USER/PASS.
    Script &logon()
    {
        return *this << "S: +OK POP3 ready <1.2@test>" << "C: USER erin" << "S: +OK"
                     << "C: PASS erin-secret" << "S: +OK logged in";
    }
    // The run's login: greeting, USER/PASS, STAT.
    Script &login(int count, qint64 size = 320)
    {
        return logon() << "C: STAT" << send("+OK " + QByteArray::number(count) + " " + QByteArray::number(size));
    }
    Script &uidl(int n, const QByteArray &uid)
    {
        const QByteArray num = QByteArray::number(n);
        return *this << expect("UIDL " + num) << send("+OK " + num + " " + uid);
    }
    Script &retr(int n, const QByteArray &msg)
    {
        return *this << expect("RETR " + QByteArray::number(n)) << "S: +OK message follows" << onTheWire(msg);
    }
    Script &dele(int n)
    {
        return *this << expect("DELE " + QByteArray::number(n)) << "S: +OK marked";
    }
    Script &quit() { return *this << "C: QUIT" << "S: +OK bye"; }
    Script &pipelining() { return *this << "C: CAPA" << "S: +OK" << "S: UIDL" << "S: PIPELINING" << "S: ."; }
    // Expects `word` n for each of `numbers` before anything is answered.
    Script &ahead(const QByteArray &word, std::initializer_list<int> numbers)
    {
        for (int n : numbers)
            *this << expect(word + " " + QByteArray::number(n));
        return *this;
    }
};

// A window whose flush before QUIT is observed: the lines the server had seen when
// it ran, and whether it works.
class ObservedGetMail : public TfrmGetMail {
public:
    using TfrmGetMail::TfrmGetMail;
    ScriptedServer *server = nullptr;
    QList<QList<QByteArray>> flushes;
    bool flushWorks = true;

protected:
    bool FlushRawFiles() override
    {
        flushes << (server ? server->clientLines() : QList<QByteArray>{});
        return flushWorks && TfrmGetMail::FlushRawFiles();
    }
};

// The progress a run shows, one line per call.
struct RecordingProgress : RunProgress {
    QStringList events;
    void begin(Kind kind, int count, const QString &text) override
    {
        events << QStringLiteral("%1 %2: %3").arg(kind == Kind::Post ? "post" : "fetch").arg(count).arg(text);
    }
    void advance(int position, const QString &text) override
    {
        events << QStringLiteral("%1: %2").arg(position).arg(text);
    }
    void end() override { events << "end"; }
};

class FetchRun : public ::testing::Test {
protected:
    FetchRun()
    {
        platform::setClockForTesting([this] { return clock; });
        state.SetAppPath(home.path() + "/app");
        QDir().mkpath(state.InboxDir);
        QDir().mkpath(state.OutboxDir);
        writeFile(home.file("seed/___.___"), "placeholder");
        ZipFile(state.ZipArchive1, state.InboxHeaderArchive(), home.file("seed/___.___"));
        state.KeepMailInServer = "Yes";
        WriteIniString("POSTOFFICE", "Host", "127.0.0.1");
        WriteIniString("POSTOFFICE", "UserName", "erin");
        WriteIniString("POSTOFFICE", "Password", state.te.EncryptText("erin-secret"));
        get = std::make_unique<ObservedGetMail>(state);
        get->frmPopup = &popup;
    }
    ~FetchRun() override
    {
        TfrmGetMail::setStepHookForTesting({});
        platform::setClockForTesting({});
    }

    // Runs the Fetch command's part against `server`: the run with NewMailList cleared.
    void fetch(ScriptedServer &server)
    {
        WriteIniString("POSTOFFICE", "Port", server.portText());
        get->server = &server;
        fetchOnly();
    }
    void fetchOnly()
    {
        state.NewMailList.clear();
        get->GetAllButtonClick();
    }
    // The run itself without a window: its own client with a quick wait, and a
    // recording progress.
    void runCore(ScriptedServer &server, int pipelineFrom = 8)
    {
        TPop3Client client;
        client.SetWait(&wait.wait);
        QStringList files;
        progress.events.clear();
        ::FetchRun run(state, client, progress, prompts, files);
        run.Account = {"127.0.0.1", server.portText(), "erin", "erin-secret"};
        run.PipelineFrom = pipelineFrom;
        run.FlushRawFiles = [&] {
            flushes << server.clientLines();
            return true;
        };
        state.NewMailList.clear();
        run.Run();
    }

    QStringList members(const QString &archive) { return testsupport::memberNames(state.InboxDir + archive); }
    QByteArray member(const QString &archive, const QString &name)
    {
        return testsupport::memberData(state.ZipArchive1, state.InboxDir + archive, name, home.file("out"));
    }
    QStringList rawFilesLeft() const
    {
        return QDir(state.InboxDir).entryList({"Msg*"}, QDir::Files);
    }
    QStringList partialFilesLeft() const
    {
        return QDir(platform::workDir(state.InboxDir) + "fetch").entryList(QDir::Files);
    }
    QString historyText() const { return QString::fromUtf8(readFile(HistoryFilePath(state.AppPath))); }
    void linesAndNames(bool held);

    testsupport::TempHome home;
    platform::ScriptedPrompts prompts;
    QDateTime clock{QDate(2026, 12, 7), QTime(12, 0, 0)};
    ControlCentreState state;
    TfrmPopup popup;
    std::unique_ptr<ObservedGetMail> get;
    nettest::HiddenWait wait{40};
    RecordingProgress progress;
    QList<QList<QByteArray>> flushes; // of runCore
};

const QByteArray kOne = message("one@test", "First", "Hello one.\r\n");
const QByteArray kTwo = message("two@test", "Second", "Hello two.\r\n");
const QByteArray kThree = message("three@test", "Third", "Hello three.\r\n");
const QByteArray kFour = message("four@test", "Fourth", "Hello four.\r\n");

TEST_F(FetchRun, LoadsThePostOfficeSettingsWithThePasswordInClear)
{
    EXPECT_EQ(get->windowTitle(), "Retrieving Mails...");
    EXPECT_EQ(get->HostEdit->text(), "127.0.0.1");
    EXPECT_EQ(get->PortEdit->text(), "pop3");
    EXPECT_EQ(get->UserNameEdit->text(), "erin");
    EXPECT_EQ(get->PassWordEdit->text(), "erin-secret");
    EXPECT_EQ(get->MsgLinesEdit->text(), "0");
    EXPECT_EQ(get->Pop3Client->Port, "pop3");
    EXPECT_EQ(get->Pop3Client->TimeOut, 15);
    EXPECT_EQ(get->Pop3Client->Wait(), get->Wait1);

    WriteIniString("POSTOFFICE", "Host", "pop.example.test");
    WriteIniString("POSTOFFICE", "Password", "damaged");
    get->InfoLabel->setText("Stat ok");
    get->FormShow();
    EXPECT_EQ(get->HostEdit->text(), "pop.example.test");
    EXPECT_EQ(get->PassWordEdit->text(), "");
    EXPECT_EQ(get->InfoLabel->text(), "");
}

TEST_F(FetchRun, FetchesDecodesAndDeletesWhenMailIsNotKept)
{
    state.KeepMailInServer = "No";
    Script s;
    s.login(2).uidl(1, "uid-one").retr(1, kOne).dele(1).uidl(2, "uid-two").retr(2, kTwo).dele(2).quit();
    ScriptedServer server(s.steps);

    // What the progress window shows while the first message arrives.
    bool looked = false;
    TfrmGetMail::setStepHookForTesting([&](const char *step) {
        if (looked || QByteArray(step) != "retr-line")
            return;
        looked = true;
        EXPECT_TRUE(popup.isVisible());
        EXPECT_TRUE(popup.gaFetch->isRunning());
        EXPECT_FALSE(popup.gaPost->isVisible());
        EXPECT_EQ(popup.pbBar->maximum(), 2);
        EXPECT_EQ(popup.Panel1->text(), "2 mail(s) to be fetched");
        EXPECT_EQ(get->meMsgFile, QStringList());
    });
    fetch(server);
    EXPECT_EQ(server.verdict(), "");
    EXPECT_TRUE(looked);
    EXPECT_EQ(prompts.recorded, QList<RecordedPrompt>());

    EXPECT_EQ(get->meMsgFile, QStringList({state.InboxDir + "Msguid-one.txt", state.InboxDir + "Msguid-two.txt"}));
    EXPECT_EQ(state.NewMailList.size(), 2);
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "one@test", "two@test"}));
    EXPECT_EQ(member("INBOX.fdr", "two@test"), "Hello two.\r\n");
    const HeaderRecord record = ParseHeaderRecord(member("INBOX.hdr", "one@test"));
    EXPECT_EQ(record.status, "NEW");
    EXPECT_EQ(record.subject, "First");
    EXPECT_EQ(historyText(), "20261207 uid-one.txt\r\n20261207 uid-two.txt\r\n");
    EXPECT_EQ(rawFilesLeft(), QStringList());
    EXPECT_EQ(partialFilesLeft(), QStringList());

    // One flush, after the last DELE and before QUIT.
    ASSERT_EQ(get->flushes.size(), 1);
    EXPECT_EQ(get->flushes[0].last(), "DELE 2");
    EXPECT_FALSE(popup.isVisible());
    EXPECT_FALSE(popup.gaFetch->isRunning());
    EXPECT_EQ(popup.pbBar->value(), 2);
    EXPECT_EQ(popup.Panel1->text(), "2 out of 2 fetched");
    EXPECT_EQ(get->InfoLabel->text(), "Quit ok");
    EXPECT_TRUE(get->DisplayMemo.contains("Message 2"));
    EXPECT_TRUE(get->DisplayMemo.contains("> DELE 2"));
    EXPECT_TRUE(get->DisplayMemo.contains("< +OK bye"));
}

TEST_F(FetchRun, KeptMailIsFetchedOnceWhateverTheDay)
{
    {
        Script s;
        s.login(2).uidl(1, "uid-one").retr(1, kOne).uidl(2, "uid-two").retr(2, kTwo).quit();
        ScriptedServer server(s.steps);
        fetch(server);
        EXPECT_EQ(server.verdict(), "");
        EXPECT_EQ(state.NewMailList.size(), 2);
        // Nothing was deleted, so nothing needed flushing before QUIT.
        EXPECT_TRUE(get->flushes.isEmpty());
    }
    {
        // The same day: both already fetched, neither retrieved nor deleted. The
        // unique-id comparison ignores case.
        Script s;
        s.login(2).uidl(1, "uid-one").uidl(2, "UID-TWO").quit();
        ScriptedServer server(s.steps);
        fetch(server);
        EXPECT_EQ(server.verdict(), "");
        EXPECT_EQ(popup.Panel1->text(), "Mail 2 is already fetched");
        EXPECT_EQ(popup.pbBar->value(), 0);
        EXPECT_EQ(prompts.texts(PromptKind::Information), QStringList{"There is no mail to fetch."});
        EXPECT_TRUE(state.NewMailList.isEmpty());
    }
    {
        // A later day: still on the server, still not fetched again; a new message is.
        clock = clock.addDays(3);
        Script s;
        s.login(3).uidl(1, "uid-one").uidl(2, "uid-two").uidl(3, "uid-three").retr(3, kThree).quit();
        ScriptedServer server(s.steps);
        fetch(server);
        EXPECT_EQ(server.verdict(), "");
        EXPECT_EQ(state.NewMailList.size(), 1);
        EXPECT_EQ(historyText(), "20261207 uid-one.txt\r\n20261207 uid-two.txt\r\n20261210 uid-three.txt\r\n");
    }
    {
        // The server no longer lists the first two: their lines go, and nothing else.
        Script s;
        s.login(2).uidl(1, "uid-three").uidl(2, "uid-four").retr(2, kFour).quit();
        ScriptedServer server(s.steps);
        fetch(server);
        EXPECT_EQ(server.verdict(), "");
        EXPECT_EQ(historyText(), "20261210 uid-three.txt\r\n20261210 uid-four.txt\r\n");
    }
    {
        // A run whose listing was cut short prunes nothing.
        Script s;
        s.login(2) << "C: UIDL 1" << "S: -ERR busy";
        s.uidl(2, "uid-four").quit();
        ScriptedServer server(s.steps);
        fetch(server);
        EXPECT_EQ(server.verdict(), "");
        EXPECT_EQ(historyText(), "20261210 uid-three.txt\r\n20261210 uid-four.txt\r\n");
    }
    {
        // Mail not kept: a message stored by a run whose QUIT never came is deleted,
        // not stored again.
        state.KeepMailInServer = "No";
        Script s;
        s.login(1).uidl(1, "uid-four").dele(1).quit();
        ScriptedServer server(s.steps);
        fetch(server);
        EXPECT_EQ(server.verdict(), "");
        EXPECT_TRUE(state.NewMailList.isEmpty());
        EXPECT_EQ(members("INBOX.hdr").size(), 5);
    }
}

TEST_F(FetchRun, ServerWithoutUniqueIdsOrWithOneFailing)
{
    {
        Script s;
        s.login(2) << "C: UIDL 1" << "S: -ERR unknown command" << "C: UIDL 2"
                   << "S: -ERR unknown command";
        s.quit();
        ScriptedServer server(s.steps);
        fetch(server);
        EXPECT_EQ(server.verdict(), "");
        EXPECT_EQ(prompts.recorded, QList<RecordedPrompt>({{PromptKind::Information, "There is no mail to fetch."}}));
        EXPECT_EQ(members("INBOX.hdr"), QStringList{"___.___"});
    }
    prompts.clear();
    {
        // Message 2's unique-id is refused, and message 3 has none and its header
        // cannot be read to make one: both are skipped without a word; the bar stays
        // where the last fetched message left it.
        state.KeepMailInServer = "No";
        Script s;
        s.login(4).uidl(1, "u1").retr(1, kOne).dele(1) << "C: UIDL 2" << "S: -ERR no such message"
                                                        << "C: UIDL 3" << "S: +OK 3" << "C: TOP 3 0"
                                                        << "S: -ERR no such message";
        s.uidl(4, "u4").retr(4, kTwo).dele(4).quit();
        ScriptedServer server(s.steps);
        fetch(server);
        EXPECT_EQ(server.verdict(), "");
        EXPECT_EQ(prompts.recorded, QList<RecordedPrompt>());
        EXPECT_EQ(state.NewMailList.size(), 2);
        EXPECT_EQ(popup.pbBar->value(), 4);
        EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "one@test", "two@test"}));
    }
}

TEST_F(FetchRun, PostOfficeUnreachableOrRefusingOrEmpty)
{
    const QString unableToConnect = "Unable to conect the Postoffice!";
    {
        WriteIniString("POSTOFFICE", "Port", QString::number(ScriptedServer::deadPort()));
        fetchOnly();
        EXPECT_EQ(prompts.recorded, QList<RecordedPrompt>({{PromptKind::Warning, unableToConnect}}));
        EXPECT_EQ(get->InfoLabel->text(), "Connect failed");
    }
    prompts.clear();
    {
        ScriptedServer server{"S: -ERR go away"};
        fetch(server);
        EXPECT_EQ(prompts.texts(), QStringList{unableToConnect});
    }
    prompts.clear();
    {
        ScriptedServer server{"S: +OK ready", "C: USER erin", "S: +OK", "C: PASS erin-secret",
                              "S: -ERR wrong password"};
        fetch(server);
        EXPECT_EQ(server.verdict(), "");
        EXPECT_EQ(prompts.texts(), QStringList{unableToConnect});
        EXPECT_EQ(get->InfoLabel->text(), "Stat failed");
    }
    prompts.clear();
    {
        // An empty mailbox leaves the connection for the next run's QUIT.
        Script s;
        s.login(0, 0) << "C: QUIT" << "S: +OK bye" << Step(Step::Accept) << "S: -ERR busy";
        ScriptedServer server(s.steps);
        fetch(server);
        EXPECT_EQ(get->InfoLabel->text(), "Stat ok, 0 messages 0 bytes");
        EXPECT_EQ(prompts.recorded, QList<RecordedPrompt>({{PromptKind::Information, "There is no mail to fetch."}}));
        fetch(server);
        EXPECT_EQ(server.verdict(), "");
        EXPECT_EQ(prompts.texts().last(), unableToConnect);
    }
    EXPECT_TRUE(state.NewMailList.isEmpty());
    EXPECT_EQ(members("INBOX.hdr"), QStringList{"___.___"});
}

TEST_F(FetchRun, AConnectionLostInsideAMessageDeletesNothingUnfinished)
{
    state.KeepMailInServer = "No";
    const QByteArray longBody = QByteArray(3000, 'x') + "\r\n";
    Script s;
    s.login(3).uidl(1, "u1").retr(1, kOne).dele(1).uidl(2, "u2") << "C: RETR 2" << "S: +OK"
        << Step::raw("Message-ID: <two@test>\r\nSubject: cut\r\n\r\npart of the") << "<close>"
        // Message 3 comes through a new connection, whose QUIT commits only its DELE.
        << "<accept>";
    s.logon().uidl(3, "u3").retr(3, message("three@test", "Third", longBody)).dele(3).quit();
    ScriptedServer server(s.steps);
    fetch(server);
    EXPECT_EQ(server.verdict(), "");
    EXPECT_EQ(prompts.texts(), QStringList{"1 mail(s) could not be fetched (Mail 2: -ERR Disconneced "
                                           "unexpectedly).\rThey stay on the server for the next fetch."});
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "one@test", "three@test"}));
    EXPECT_EQ(member("INBOX.fdr", "three@test"), longBody);
    EXPECT_EQ(state.NewMailList.size(), 2);
    EXPECT_FALSE(historyText().contains("u2.txt"));
    EXPECT_EQ(rawFilesLeft(), QStringList());
    EXPECT_EQ(partialFilesLeft(), QStringList());
}

TEST_F(FetchRun, AConnectionThatCannotBeOpenedAgainEndsTheRun)
{
    get->Wait1->setInterval(100);
    state.KeepMailInServer = "No";
    Script s;
    s.login(3).uidl(1, "u1").retr(1, kOne).dele(1).uidl(2, "u2") << "C: RETR 2" << "S: +OK"
                                                                 << Step::raw("Subject: cut\r\n") << "<close>";
    ScriptedServer server(s.steps);
    fetch(server);
    EXPECT_EQ(server.verdict(), "");
    ASSERT_EQ(prompts.texts().size(), 1);
    EXPECT_TRUE(prompts.texts()[0].startsWith("2 mail(s) could not be fetched (Mail 2: -ERR Disconneced"));
    // What arrived whole is stored.
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "one@test"}));
}

TEST_F(FetchRun, ARetrievalThatTimesOutEndsItsConnection)
{
    get->Wait1->setInterval(40);
    state.KeepMailInServer = "No";
    Script s;
    s.login(2).uidl(1, "u1").retr(1, kOne).dele(1).uidl(2, "u2") << "C: RETR 2" << "S: +OK"
        << Step::raw("Subject: slow\r\n") << "<pause 2500>";
    // The conversation is out of step: the run ends it. The flush comes first, since
    // the QUIT may commit DELE 1.
    s << "C: QUIT" << "<silence>";
    ScriptedServer server(s.steps);
    fetch(server);
    EXPECT_EQ(server.verdict(), "");
    ASSERT_FALSE(get->flushes.isEmpty());
    EXPECT_EQ(get->flushes[0].last(), "RETR 2");
    EXPECT_EQ(prompts.texts(PromptKind::Warning).size(), 1);
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "one@test"}));
    EXPECT_EQ(partialFilesLeft(), QStringList());
}

// After a session that committed deletions the server numbers its messages anew:
// the run learns the numbers again and fetches each message it has not handled once.
TEST_F(FetchRun, AfterCommittedDeletionsTheNumbersAreLearntAgain)
{
    state.KeepMailInServer = "No";
    const QByteArray three = message("three@test", "Third", "Hello three.\r\n");
    Script s;
    s.login(3).uidl(1, "u1").retr(1, kOne).dele(1).uidl(2, "u2") << "C: RETR 2" << "S: +OK"
        << Step::raw("Subject: slow\r\n") << "C: QUIT" << "<silence>" << "<accept>";
    // DELE 1 was committed: u2 and u3 are messages 1 and 2 now.
    s.logon() << "C: STAT" << "S: +OK 2 200" << "C: UIDL" << "S: +OK" << "S: 1 u2" << "S: 2 u3" << "S: .";
    s.retr(2, three).dele(2).quit();
    ScriptedServer server(s.steps);
    runCore(server);
    EXPECT_EQ(server.verdict(), "");
    ASSERT_EQ(prompts.texts().size(), 1);
    EXPECT_TRUE(prompts.texts()[0].startsWith("1 mail(s) could not be fetched (Mail 2: "));
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "one@test", "three@test"}));
    EXPECT_EQ(historyText(), "20261207 u1.txt\r\n20261207 u3.txt\r\n");
    EXPECT_EQ(progress.events, QStringList({"fetch 3: 3 mail(s) to be fetched", "1: 1 out of 3 fetched",
                                            "2: 2 out of 3 fetched", "3: 3 out of 3 fetched", "end"}));
}

// A message whose unique-id the server leaves empty is named by the MD5 of its
// header, the same in every session: fetched once, then known as fetched.
TEST_F(FetchRun, AMessageWithAnEmptyUniqueIdIsFetchedOnce)
{
    const QByteArray header = "Message-ID: <anon@test>\r\nSubject: Anonymous\r\n\r\n";
    const QString uid = "md5-" + QString::fromLatin1(net::Md5::hexDigest(header));
    auto session = [&](bool retrieve) {
        Script s;
        s.login(1) << "C: UIDL 1" << "S: +OK 1" << "C: TOP 1 0" << "S: +OK" << onTheWire(header);
        if (retrieve)
            s.retr(1, header + "No id.\r\n");
        s.quit();
        return s.steps;
    };
    {
        ScriptedServer server(session(true));
        runCore(server);
        EXPECT_EQ(server.verdict(), "");
        EXPECT_EQ(prompts.recorded, QList<RecordedPrompt>());
        EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "anon@test"}));
        EXPECT_EQ(historyText(), "20261207 " + uid + ".txt\r\n");
    }
    {
        ScriptedServer server(session(false));
        runCore(server);
        EXPECT_EQ(server.verdict(), "");
        EXPECT_EQ(prompts.texts(), QStringList{"There is no mail to fetch."});
        EXPECT_EQ(progress.events,
                  QStringList({"fetch 1: 1 mail(s) to be fetched", "0: Mail 1 is already fetched", "end"}));
        EXPECT_TRUE(state.NewMailList.isEmpty());
    }
}

TEST_F(FetchRun, DeletionsAreTakenBackWhenTheRawFilesCannotBeFlushed)
{
    state.KeepMailInServer = "No";
    get->flushWorks = false;
    Script s;
    s.login(1).uidl(1, "u1").retr(1, kOne).dele(1) << "C: RSET" << "S: +OK";
    s.quit();
    ScriptedServer server(s.steps);
    fetch(server);
    EXPECT_EQ(server.verdict(), "");
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "one@test"}));
}

TEST_F(FetchRun, LeftoversOfAnEarlierRunAreStoredFirst)
{
    // A raw file a killed run left, and a partial one of a retrieval it never finished.
    writeFile(state.InboxDir + "Msgold.txt", message("old@test", "Old", "kept\r\n"));
    writeFile(platform::workDir(state.InboxDir) + "fetch/Msghalf.txt", "Subject: ha");
    {
        WriteIniString("POSTOFFICE", "Port", QString::number(ScriptedServer::deadPort()));
        fetchOnly();
        EXPECT_EQ(prompts.texts(), QStringList{"Unable to conect the Postoffice!"});
        EXPECT_EQ(state.NewMailList, QStringList{state.InboxDir + "Msgold.txt"});
        EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "old@test"}));
        EXPECT_EQ(rawFilesLeft(), QStringList());
        EXPECT_EQ(partialFilesLeft(), QStringList());
    }
    {
        // Stored today, so the server's copy is not fetched again.
        writeFile(state.InboxDir + "Msgnext.txt", message("next@test", "Next", "kept\r\n"));
        Script s;
        s.login(2).uidl(1, "old").uidl(2, "next").quit();
        ScriptedServer server(s.steps);
        fetch(server);
        EXPECT_EQ(server.verdict(), "");
        EXPECT_EQ(state.NewMailList.size(), 1);
        EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "old@test", "next@test"}));
    }
}

// Long, cut and dotted lines come out as the server's message had them, and hostile
// unique-ids name nothing outside the inbox, whether the messages wait for decoding in
// raw files or held in memory.
void FetchRun::linesAndNames(bool held)
{
    get->MaxHeldBytes = held ? get->MaxHeldBytes : 0;
    const QByteArray a254(254, 'a');
    const QByteArray body = QByteArray(600, 'c') + "\r\n" + a254 + ".\r\n" + a254 + "\r\n.\r\n..\r\n"
                            + a254 + a254 + "\r\nend\r\n";
    const QByteArray first = message("long@test", "Long", body);
    const QByteArray second = message("", "No id", "hostile\r\n");
    Script s;
    s.login(3).uidl(1, "../../x").retr(1, first).uidl(2, "/").retr(2, second).uidl(3, "Msgx.txt").retr(3, kOne).quit();
    ScriptedServer server(s.steps);
    QMap<QString, QByteArray> raw;
    QStringList listed;
    TfrmGetMail::setStepHookForTesting([&](const char *step) {
        if (QByteArray(step) == "decode") {
            listed = get->meMsgFile;
            for (const QString &path : get->meMsgFile) {
                if (QFileInfo::exists(path))
                    raw[QFileInfo(path).fileName()] = readFile(path);
            }
        }
    });
    fetch(server);
    EXPECT_EQ(server.verdict(), "");
    EXPECT_EQ(prompts.recorded, QList<RecordedPrompt>());

    const QStringList names({"Msg.._.._x.txt", "MsgMsgx.txt.txt", "Msg_.txt"});
    QStringList listedNames;
    for (const QString &path : listed) {
        EXPECT_EQ(QFileInfo(path).absolutePath() + '/', state.InboxDir);
        listedNames << QFileInfo(path).fileName();
    }
    EXPECT_EQ(listedNames, QStringList({"Msg.._.._x.txt", "Msg_.txt", "MsgMsgx.txt.txt"}));
    if (held) {
        EXPECT_EQ(raw.keys(), QStringList());
    } else {
        EXPECT_EQ(raw.keys(), names);
        EXPECT_EQ(raw["Msg.._.._x.txt"], first);
        EXPECT_EQ(raw["Msg_.txt"], second);
    }
    EXPECT_EQ(member("INBOX.fdr", "long@test"), body);
    EXPECT_EQ(member("INBOX.fdr", "_"), "hostile\r\n");
    // The message without a Message-ID is named by its (safe) unique-id.
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "long@test", "_", "one@test"}));
    EXPECT_EQ(LoadHistory(HistoryFilePath(state.AppPath)),
              QStringList({"20261207 .._.._x.txt", "20261207 _.txt", "20261207 Msgx.txt.txt"}));

    QStringList outside;
    for (QDirIterator it(home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        if (!path.startsWith(state.InboxDir) && !path.startsWith(home.path() + "/.config/")
            && !path.startsWith(home.path() + "/seed/") && !path.startsWith(home.path() + "/out/")
            && path != HistoryFilePath(state.AppPath))
            outside << path;
    }
    EXPECT_EQ(outside, QStringList());
    EXPECT_EQ(QDir(state.InboxDir).entryList(QDir::Files), QStringList({"INBOX.fdr", "INBOX.hdr"}));
}

TEST_F(FetchRun, LinesArriveAsTheyWereSentAndUniqueIdsNeverLeaveTheInbox) { linesAndNames(false); }

TEST_F(FetchRun, HeldMessagesAreStoredAsTheyArrivedWithoutRawFiles) { linesAndNames(true); }

// A message that would take the run past what it may hold is written to its raw file
// part-way through; smaller ones after it are still held; all are stored alike.
TEST_F(FetchRun, AMessageBeyondTheHeldBoundGoesToItsRawFile)
{
    const QByteArray big = message("big@test", "Big", QByteArray(3000, 'b') + "\r\n");
    get->MaxHeldBytes = 2000;
    Script s;
    s.login(3).uidl(1, "u1").retr(1, kOne).uidl(2, "u2").retr(2, big).uidl(3, "u3").retr(3, kTwo).quit();
    ScriptedServer server(s.steps);
    QStringList onDisk;
    TfrmGetMail::setStepHookForTesting([&](const char *step) {
        if (QByteArray(step) == "decode")
            onDisk = QDir(state.InboxDir).entryList({"Msg*"}, QDir::Files);
    });
    fetch(server);
    EXPECT_EQ(server.verdict(), "");
    EXPECT_EQ(prompts.recorded, QList<RecordedPrompt>());
    EXPECT_EQ(onDisk, QStringList({"Msgu2.txt"}));
    EXPECT_EQ(member("INBOX.fdr", "big@test"), QByteArray(3000, 'b') + "\r\n");
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "one@test", "big@test", "two@test"}));
    EXPECT_EQ(state.NewMailList.size(), 3);
    EXPECT_EQ(QDir(state.InboxDir).entryList({"Msg*"}, QDir::Files), QStringList());
}

TEST_F(FetchRun, UnwritableRawFilesDeleteNothing)
{
    state.KeepMailInServer = "No";
    // The directory for partial raw files is taken by a file.
    writeFile(platform::workDir(state.InboxDir) + "fetch", "in the way");
    {
        Script s;
        s.login(2).uidl(1, "u1").uidl(2, "u2").quit();
        ScriptedServer server(s.steps);
        fetch(server);
        EXPECT_EQ(server.verdict(), "");
        ASSERT_EQ(prompts.texts(PromptKind::Warning).size(), 1);
        EXPECT_TRUE(prompts.texts()[0].startsWith("2 mail(s) could not be fetched (Unable to create "));
        EXPECT_TRUE(state.NewMailList.isEmpty());
    }
    prompts.clear();
    {
        // With pipelining the messages asked for ahead are read and dropped.
        Script s;
        s.login(2).pipelining().ahead("UIDL", {1, 2}) << "S: +OK 1 u1" << "S: +OK 2 u2";
        s.ahead("RETR", {1, 2}) << "S: +OK" << onTheWire(kOne) << "S: +OK" << onTheWire(kTwo);
        s.quit();
        ScriptedServer server(s.steps);
        runCore(server, 2);
        EXPECT_EQ(server.verdict(), "");
        ASSERT_EQ(prompts.texts().size(), 1);
        EXPECT_TRUE(prompts.texts()[0].startsWith("2 mail(s) could not be fetched (Unable to create "));
    }
}

TEST_F(FetchRun, ARunIsNotStartedTwice)
{
    Script s;
    s.login(1).uidl(1, "u1").retr(1, kOne).quit();
    ScriptedServer server(s.steps);
    int inner = 0;
    TfrmGetMail::setStepHookForTesting([&](const char *step) {
        // A Fetch click that the event loop delivers while a line is being handled.
        if (QByteArray(step) == "retr-line" && inner++ == 0) {
            EXPECT_TRUE(get->Running());
            get->GetAllButtonClick();
        }
    });
    EXPECT_FALSE(get->Running());
    fetch(server);
    EXPECT_FALSE(get->Running());
    EXPECT_EQ(server.verdict(), "");
    EXPECT_EQ(state.NewMailList.size(), 1);
    EXPECT_EQ(prompts.recorded, QList<RecordedPrompt>());
}

TEST_F(FetchRun, TraceHandlersOutsideARun)
{
    ScriptedServer server{"S: +OK ready", "C: USER erin", "S: +OK", "C: PASS erin-secret", "S: +OK",
                          "C: UIDL", "S: +OK", "S: 1 abc", "S: .",
                          "C: LIST", "S: +OK", "S: 1 120", "S: .",
                          "C: RETR 1", "S: +OK", "S: Subject: x", "S: .",
                          "C: QUIT", "S: +OK"};
    get->PortEdit->setText(server.portText());
    get->MsgNumEdit->setText("0");
    EXPECT_TRUE(get->ExecCommand("Uidl", &TPop3Client::Uidl));
    EXPECT_TRUE(get->ExecCommand("List", &TPop3Client::List));
    get->MsgNumEdit->setText("1");
    EXPECT_TRUE(get->ExecCommand("Retr", &TPop3Client::Retr));
    EXPECT_EQ(get->InfoLabel->text(), "Retr ok");
    get->ExecCommand("Quit", &TPop3Client::Quit);
    EXPECT_EQ(server.verdict(), "");
    const QStringList expected{"*** Uidl begin ***", "MsgNum = 1 MsgUidl = abc'", "*** Uidl end ***",
                               "*** List begin ***", "MsgNum = 1 MsgSize = 120 Line = '1 120'",
                               "*** List End ***", "*** Message 1 begin ***", "Subject: x",
                               "*** Message 1 end ***"};
    QStringList events;
    for (const QString &line : get->DisplayMemo) {
        if (!line.startsWith("> ") && !line.startsWith("< ") && !line.startsWith("Connected"))
            events << line;
    }
    EXPECT_EQ(events, expected);
}

// A server that offers pipelining gets the UIDL commands in one batch and the RETR
// commands ahead of their replies, each DELE only after its message is written;
// refused replies in the middle are handled as one at a time, in message order.
TEST_F(FetchRun, PipelinedCommandsGoOutAheadAndRepliesAreHandledInOrder)
{
    state.KeepMailInServer = "No";
    state.HistoryList << "20261207 u3.txt";
    Script s;
    s.login(5).pipelining().ahead("UIDL", {1, 2, 3, 4, 5});
    s << "S: +OK 1 u1" << "S: -ERR no such message" << "S: +OK 3 u3" << "S: +OK 4 u4" << "S: +OK 5 u5";
    s.ahead("RETR", {1, 4, 5}) << "S: +OK" << onTheWire(kOne) << "S: -ERR locked" << "S: +OK" << onTheWire(kTwo);
    s.ahead("DELE", {1, 3, 5}) << "S: +OK" << "S: +OK" << "S: +OK";
    s.quit();
    ScriptedServer server(s.steps);
    runCore(server, 2);
    EXPECT_EQ(server.verdict(), "");
    EXPECT_EQ(prompts.texts(), QStringList{"1 mail(s) could not be fetched (Mail 4: -ERR locked).\rThey stay on the "
                                           "server for the next fetch."});
    EXPECT_EQ(progress.events, QStringList({"fetch 5: 5 mail(s) to be fetched", "1: 1 out of 5 fetched",
                                            "1: Mail 3 is already fetched", "4: 4 out of 5 fetched",
                                            "5: 5 out of 5 fetched", "end"}));
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "one@test", "two@test"}));
    ASSERT_EQ(flushes.size(), 1);
    EXPECT_EQ(flushes[0].last(), "DELE 5");
}

// A connection lost inside the UIDL batch or a pipelined retrieval voids the commands
// sent after it: the rest of the run goes one command at a time through a new one.
TEST_F(FetchRun, AConnectionLostInsideAPipeline)
{
    {
        Script s;
        s.login(2).pipelining().ahead("UIDL", {1, 2}) << "S: +OK 1 u1" << "<close>" << "<accept>";
        s.logon().retr(1, kOne).uidl(2, "u2").retr(2, kTwo).quit();
        ScriptedServer server(s.steps);
        runCore(server, 2);
        EXPECT_EQ(server.verdict(), "");
        EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "one@test", "two@test"}));
    }
    state.KeepMailInServer = "No";
    Script s;
    s.login(3).pipelining().ahead("UIDL", {1, 2, 3}) << "S: +OK 1 u3" << "S: +OK 2 u4" << "S: +OK 3 u5";
    s.ahead("RETR", {1, 2, 3}) << "S: +OK" << onTheWire(kThree) << "C: DELE 1" << "S: +OK"
                               << Step::raw("Subject: cut\r\n") << "<close>" << "<accept>";
    s.logon().retr(3, kFour).dele(3).quit();
    ScriptedServer server(s.steps);
    runCore(server, 3);
    EXPECT_EQ(server.verdict(), "");
    EXPECT_EQ(prompts.texts(), QStringList{"1 mail(s) could not be fetched (Mail 2: -ERR Disconneced "
                                           "unexpectedly).\rThey stay on the server for the next fetch."});
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "one@test", "two@test", "three@test", "four@test"}));
    ASSERT_EQ(flushes.size(), 1);
    EXPECT_EQ(flushes[0].last(), "DELE 3");
}

// A stop request during a pipelined run: the messages asked for up to the next one
// that is not are stored; the reply to a RETR still out is read and dropped.
TEST_F(FetchRun, AStopDuringAPipelinedRunKeepsTheConversationInStep)
{
    state.HistoryList << "20261207 u3.txt";
    Script s;
    s.login(4).pipelining().ahead("UIDL", {1, 2, 3, 4}) << "S: +OK 1 u1" << "S: +OK 2 u2" << "S: +OK 3 u3"
                                                       << "S: +OK 4 u4";
    s.ahead("RETR", {1, 2, 4}) << "S: +OK" << onTheWire(kOne) << "S: +OK" << onTheWire(kTwo) << "S: +OK"
                               << onTheWire(kFour);
    s.quit();
    ScriptedServer server(s.steps);
    TfrmGetMail::setStepHookForTesting([&](const char *step) {
        if (QByteArray(step) == "retr-line")
            state.Runs.requestStop();
    });
    runCore(server, 4);
    EXPECT_EQ(server.verdict(), "");
    EXPECT_EQ(prompts.recorded, QList<RecordedPrompt>());
    EXPECT_EQ(progress.events, QStringList({"fetch 4: 4 mail(s) to be fetched", "1: 1 out of 4 fetched",
                                            "2: 2 out of 4 fetched", "end"}));
    EXPECT_EQ(members("INBOX.hdr"), QStringList({"___.___", "one@test", "two@test"}));
}

} // namespace
