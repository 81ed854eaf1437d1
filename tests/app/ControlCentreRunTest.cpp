// The control centre while a posting or fetching run goes on, with the real windows
// against scripted servers: a close ends the run at a safe point and then the
// program; commands that would disturb the run are refused.
#include "AppTestSupport.h"
#include "net/ScriptedServer.h"

#include "app/Configure.h"
#include "app/ControlCentre.h"
#include "app/Front.h"
#include "app/Startup.h"
#include "common/ArchiveOps.h"
#include "common/Settings.h"
#include "platform/Error.h"
#include "platform/ScriptedPrompts.h"
#include "store/History.h"
#include "store/OutgoingHeader.h"
#include "store/QueueFile.h"
#include "store/StorePaths.h"
#include "support/ArchiveContents.h"
#include "transfer/FetchRun.h"

#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

using nettest::ScriptedServer;
using nettest::Step;
using platform::PromptKind;
using platform::RecordedPrompt;

namespace {

const QByteArray kOne = "Message-ID: <one@test>\r\nSubject: First\r\n\r\nHello one.\r\n";

// The POP3 server's side up to the status line of RETR 1, then `rest`.
std::vector<Step> popRetr(int count, std::initializer_list<Step> rest)
{
    std::vector<Step> s{"S: +OK POP3 ready", "C: USER erin", "S: +OK", "C: PASS erin-secret", "S: +OK",
                        "C: STAT", Step(Step::Send, "+OK " + QByteArray::number(count) + " 320\r\n"),
                        "C: UIDL 1", "S: +OK 1 u1", "C: RETR 1", "S: +OK"};
    s.insert(s.end(), rest);
    return s;
}

// The SMTP server's side of one connection that takes a mail for dave.
std::vector<Step> smtpMail()
{
    return {"S: 220 mx.test ESMTP", "C~ HELO .+", "S: 250 mx.test", "C: MAIL FROM:<ann@example.test>",
            "S: 250 Ok", "C: RCPT TO:<dave@example.test>", "S: 250 Ok", "C: DATA", "S: 354 go", "<data>",
            "S: 250 queued", "C: QUIT", "S: 221 Bye", "<eof>"};
}

// Prompts whose warning box raises an error the run cannot handle.
struct RaisingPrompts : platform::ScriptedPrompts {
    void warning(const QString &text) override
    {
        ScriptedPrompts::warning(text);
        throw platform::Error("interrupted");
    }
};

class ControlCentreRun : public ::testing::Test {
protected:
    ~ControlCentreRun() override { FetchRun::setStepHookForTesting({}); }

    void start(const QString &keepMail = "Yes")
    {
        // An inbox header archive the decoder can add to.
        QFile::remove(home.inboxDir() + "INBOX.hdr");
        testsupport::writeFile(home.file("seed/___.___"), "placeholder");
        TZipArchive zip;
        ZipFile(zip, home.inboxDir() + "INBOX.hdr", home.file("seed/___.___"));
        WriteIniString("PREFERENCE", "KeepMailInServer", keepMail);
        WriteIniString("PERSONAL", "MailServer", "127.0.0.1");
        WriteIniString("POSTOFFICE", "Host", "127.0.0.1");
        WriteIniString("POSTOFFICE", "UserName", "erin");
        cc.reset(CreateWindows(splash));
        WriteIniString("POSTOFFICE", "Password", cc->state().te.EncryptText("erin-secret"));
        cc->show();
        QObject::connect(cc.get(), &TfrmControlCentre::closed, [this] {
            ++closed;
            runningAtClose = cc->state().Runs.active();
        });
        prompts.clear();
    }
    void usePop(const ScriptedServer &server) { WriteIniString("POSTOFFICE", "Port", server.portText()); }
    void useSmtp(quint16 port) { cc->state().SMTPport = QString::number(port); }
    QString outbox(const QString &file) const { return home.outboxDir() + file; }
    void queueMail(const QString &name, const QStringList &attachments = {})
    {
        WriteOutgoingHeader(outbox(name + ".hdr"), "About " + name, {"dave@example.test"});
        testsupport::writeFile(outbox(name + ".m"), "package of " + name.toUtf8());
        AppendQueueLine(home.queueFile(), FormatQueueLine(name, attachments));
    }

    apptest::Installation home;
    platform::ScriptedPrompts prompts;
    TfrmFront splash;
    std::unique_ptr<TfrmControlCentre> cc;
    int closed = 0;
    bool runningAtClose = false;
};

TEST_F(ControlCentreRun, ClosingDuringAFetchEndsTheRunAfterTheMessageInProgress)
{
    testsupport::writeFile(home.appPath + "/quorvel.hst", "20261201 old.txt\r\n");
    start("No");
    // The close comes while RETR 1 waits; message 2 is neither retrieved nor deleted.
    ScriptedServer server(popRetr(2, {Step::raw(kOne.left(40)), "<pause 300>", Step::raw(kOne.mid(40) + ".\r\n"),
                                      "C: DELE 1", "S: +OK", "C: QUIT", "S: +OK bye"}));
    usePop(server);
    QStringList historyAtQuit;
    bool asked = false;
    FetchRun::setStepHookForTesting([&](const char *step) {
        if (QByteArray(step) == "retr-line" && !std::exchange(asked, true)) {
            QTimer::singleShot(0, cc.get(), [&] { cc->close(); });
        } else if (QByteArray(step) == "quit" && closed == 0) {
            historyAtQuit = cc->state().HistoryList;
        }
    });
    cc->tbFetch->trigger();

    EXPECT_EQ(server.verdict(), "");
    EXPECT_EQ(historyAtQuit, QStringList{"20261201 old.txt"});
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(runningAtClose);
    EXPECT_FALSE(cc->isVisible());
    EXPECT_EQ(prompts.recorded, QList<RecordedPrompt>());
    const QStringList history = LoadHistory(HistoryFilePath(home.appPath));
    ASSERT_EQ(history.size(), 2);
    EXPECT_EQ(history[0], "20261201 old.txt");
    EXPECT_TRUE(history[1].endsWith(" u1.txt"));
    EXPECT_EQ(testsupport::memberNames(home.inboxDir() + "INBOX.hdr"), QStringList({"___.___", "one@test"}));
}

TEST_F(ControlCentreRun, ClosingDuringAPostEndsTheRunAfterTheMailInProgress)
{
    start();
    queueMail("mail1");
    queueMail("mail2");
    ScriptedServer server(smtpMail());
    useSmtp(server.port());
    // The close comes while the first mail's connection is opened.
    QTimer::singleShot(0, cc.get(), [&] { cc->close(); });
    cc->tbPost->trigger();

    EXPECT_EQ(server.verdict(), "");
    EXPECT_EQ(server.clientLines().count("DATA"), 1);
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(runningAtClose);
    EXPECT_EQ(prompts.recorded, QList<RecordedPrompt>());
    EXPECT_EQ(testsupport::readFile(home.queueFile()), "mail2\r\n");
    EXPECT_FALSE(QFile::exists(outbox("mail1.hdr")));
    EXPECT_TRUE(QFile::exists(outbox("mail2.hdr")));
}

TEST_F(ControlCentreRun, CommandsThatWouldDisturbARunAreRefused)
{
    start();
    queueMail("mail1");
    const QString inbox = cc->state().InboxDir;
    const RecordedPrompt refused{PromptKind::Information, RunState::kRefusal};
    {
        // During a Fetch: Post, and the configuration's Save with another directory.
        ScriptedServer server(popRetr(1, {Step::raw(kOne + ".\r\n"), "C: QUIT", "S: +OK"}));
        usePop(server);
        FetchRun::setStepHookForTesting([&](const char *step) {
            if (QByteArray(step) != "retr-line" || prompts.recorded.size() > 0)
                return;
            cc->PostMail1->trigger();
            cc->frmConfigure->edAppPath->setText(home.path());
            cc->frmConfigure->bnSave->click();
        });
        cc->tbFetch->trigger();
        EXPECT_EQ(server.verdict(), "");
        EXPECT_EQ(prompts.recorded,
                  (QList<RecordedPrompt>{refused, refused, {PromptKind::Information, "You have 1 new mail(s)"}}));
        EXPECT_EQ(cc->state().InboxDir, inbox);
        EXPECT_EQ(ReadIniString("quorvel", "Application Path", ""), home.appPath);
        EXPECT_EQ(testsupport::readFile(home.queueFile()), "mail1\r\n");
    }
    prompts.clear();
    {
        // During a Post: Fetch.
        ScriptedServer server(smtpMail());
        useSmtp(server.port());
        QTimer::singleShot(0, cc.get(), [&] { cc->FetchMail1->trigger(); });
        cc->tbPost->trigger();
        EXPECT_EQ(server.verdict(), "");
        EXPECT_EQ(prompts.recorded, QList<RecordedPrompt>{refused});
        EXPECT_EQ(testsupport::readFile(home.queueFile()), "");
    }
    EXPECT_FALSE(cc->state().Runs.active());
    EXPECT_EQ(closed, 0);
}

// An error ends a posting run: the mails posted before it leave the queue (their
// files are gone), the others stay, and Post starts a new run afterwards.
TEST_F(ControlCentreRun, AFailedPostingRunDropsThePostedMailsAndPostIsAvailableAgain)
{
    start();
    const QString gone = home.file("gone.txt");
    queueMail("mail1");
    queueMail("mail2", {gone});
    queueMail("mail3");
    ScriptedServer server(smtpMail());
    useSmtp(server.port());
    {
        RaisingPrompts raising;
        cc->tbPost->trigger();
        EXPECT_EQ(server.verdict(), "");
        EXPECT_EQ(raising.recorded, (QList<RecordedPrompt>{{PromptKind::Warning, "Unable to locate attachment " + gone},
                                                           {PromptKind::Error, "interrupted"}}));
    }
    EXPECT_EQ(testsupport::readFile(home.queueFile()), FormatQueueLine("mail2", {gone}).toUtf8() + "\r\nmail3\r\n");
    EXPECT_FALSE(QFile::exists(outbox("mail1.hdr")));
    EXPECT_TRUE(QFile::exists(outbox("mail3.hdr")));
    EXPECT_FALSE(cc->state().PostingBusy);

    useSmtp(ScriptedServer::deadPort());
    cc->tbPost->trigger();
    EXPECT_EQ(prompts.texts(), QStringList({"Unable to locate attachment " + gone, "Unable to connect to Mail server",
                                            "Unable to connect to Mail server"}));
}

} // namespace
