// The posting run against scripted SMTP servers: the exact conversation of a posted
// quorvel mail, every row of the failure table, and mails queued while a run goes on.
#include "net/ScriptedServer.h"

#include "net/SmtpClient.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/ScriptedPrompts.h"
#include "store/OutgoingHeader.h"
#include "store/QueueFile.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"
#include "support/TempHome.h"
#include "transfer/BusyIndicator.h"
#include "transfer/Popup.h"
#include "transfer/SendMail.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTimeZone>
#include <gtest/gtest.h>

using nettest::ScriptedServer;
using nettest::Step;
using platform::PromptKind;
using platform::RecordedPrompt;

namespace {

const QDateTime kNow(QDate(1998, 12, 6), QTime(14, 23, 5), QTimeZone(3600));
const QByteArray kBoundary = "= Multipart Boundary Dec06981423";

class PostRun : public ::testing::Test {
protected:
    PostRun()
    {
        platform::setClockForTesting([] { return kNow; });
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        state.SetAppPath(home.path() + "/quorvel");
        QDir().mkpath(state.OutboxDir);
        state.UserName = "Carol Example";
        state.EmailAddress = "carol@example.test";
        state.MailServer = "127.0.0.1";
        send.frmPopup = &popup;
    }

    ~PostRun() override
    {
        platform::setClockForTesting({});
        QLocale::setDefault(QLocale::system());
    }

    QString outbox(const QString &file) const { return state.OutboxDir + file; }
    QString queueFile() const { return QueueFilePath(state.OutboxDir); }

    // Queues mail `name` as the editor leaves it: the outgoing header, the body file
    // (`bodyExt` ".m" or ".doc") and the queue line.
    void queueMail(const QString &name, const QStringList &recipients, const QByteArray &body,
                   const QStringList &attachments = {}, const QString &bodyExt = ".m")
    {
        WriteOutgoingHeader(outbox(name + ".hdr"), "About " + name, recipients);
        ASSERT_TRUE(testsupport::writeFile(outbox(name + bodyExt), body));
        AppendQueueLine(queueFile(), FormatQueueLine(name, attachments));
    }

    // The Post command's part of a run: the run, then the clean-up.
    void post(quint16 port)
    {
        state.SMTPport = QString::number(port);
        send.bnSendClick();
        send.RemoveSentMailFromQueue();
    }

    testsupport::TempHome home;
    platform::ScriptedPrompts prompts;
    ControlCentreState state;
    TfrmPopup popup;
    TfrmSendMail send{state};
};

Step sendLine(const QByteArray &line) { return Step(Step::Send, line + "\r\n"); }
Step expectLine(const QByteArray &line) { return Step(Step::Expect, line); }

// The server's side of one connection that takes a mail from carol for `recipients`.
// With `refusal`, the last recipient is refused with it and the client must give up.
std::vector<Step> connection(const QList<QByteArray> &recipients, const QByteArray &refusal = {})
{
    std::vector<Step> s{"S: 220 mx.test ESMTP", "C~ HELO .+", "S: 250 mx.test",
                        "C: MAIL FROM:<carol@example.test>", "S: 250 2.1.0 Ok"};
    for (const QByteArray &r : recipients) {
        s.push_back(expectLine("RCPT TO:<" + r + ">"));
        s.push_back(sendLine(&r == &recipients.last() && !refusal.isEmpty() ? refusal : "250 2.1.5 Ok"));
    }
    if (refusal.isEmpty())
        s.insert(s.end(), {"C: DATA", "S: 354 End data with <CR><LF>.<CR><LF>", "<data>", "S: 250 2.0.0 Ok: queued"});
    s.insert(s.end(), {"C: QUIT", "S: 221 2.0.0 Bye", "<eof>"});
    return s;
}

std::vector<Step> connections(std::initializer_list<std::vector<Step>> parts)
{
    std::vector<Step> all;
    for (const std::vector<Step> &part : parts) {
        if (!all.empty())
            all.push_back("<accept>");
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// The data blocks of every message the client sent, in order.
QList<QList<QByteArray>> messages(const ScriptedServer &server)
{
    QList<QList<QByteArray>> out;
    QList<QByteArray> *current = nullptr;
    for (const QByteArray &line : server.clientLines()) {
        if (!current && line == "DATA") {
            out.append(QList<QByteArray>());
            current = &out.last();
        } else if (current && line == ".") {
            current = nullptr;
        } else if (current) {
            current->append(line);
        }
    }
    return out;
}

// The lines of one attachment part: its headers, an empty line and its base64.
QList<QByteArray> attachmentPart(const QByteArray &fileName, const QByteArray &content)
{
    QList<QByteArray> lines{"",
                            "--" + kBoundary,
                            "Content-Type: application/octet-stream;",
                            "\tname=\"" + fileName + "\"",
                            "Content-Transfer-Encoding: base64",
                            "Content-Disposition: attachment;",
                            "\tfilename=\"" + fileName + "\"",
                            ""};
    for (qsizetype at = 0; at < content.size() || at == 0; at += 45)
        lines.append(content.mid(at, 45).toBase64());
    return lines;
}

TEST_F(PostRun, APostedMailIsTheMarkerLineWithThePackageAndTheAttachmentsInQueueOrder)
{
    QByteArray package;
    for (int i = 0; i < 100; ++i)
        package += char(i * 7);
    const QString first = home.file("docs/first notes.txt");
    const QString second = home.file("docs/photo.jpg");
    ASSERT_TRUE(testsupport::writeFile(first, QByteArray(46, 'n')));
    ASSERT_TRUE(testsupport::writeFile(second, ""));
    const QString name = "981206142305-carol@example-test";
    queueMail(name, {"  dave@example.test ", "erin@example.test"}, package, {second, first});

    ScriptedServer server(connection({"dave@example.test", "erin@example.test"}));
    post(server.port());
    ASSERT_EQ(server.verdict(), "");

    const QList<QByteArray> data = server.dataBlock();
    ASSERT_GT(data.size(), 6);
    EXPECT_EQ(data.mid(0, 3), (QList<QByteArray>{"From: Carol Example <carol@example.test>",
                                                  "To: dave@example.test, erin@example.test",
                                                  "Subject: About " + name.toUtf8()}));
    EXPECT_EQ(data[3], "Date: Sun, 06 Dec 1998 14:23:05 +0100");
    EXPECT_TRUE(data[4].startsWith("Message-ID: <")) << data[4].constData();
    QList<QByteArray> expected{"Mime-Version: 1.0",
                               "Content-Type: multipart/mixed;",
                               "\tboundary=\"" + kBoundary + "\"",
                               "",
                               "This is a multipart MIME message.",
                               "",
                               "--" + kBoundary,
                               "Content-Type: text/plain; charset=\"iso-8859-1\"",
                               "Content-Transfer-Encoding: 7bit",
                               "",
                               "--=This is a quorvel"};
    expected += attachmentPart(name.toUtf8() + ".m", package);
    expected += attachmentPart("photo.jpg", "");
    expected += attachmentPart("first notes.txt", QByteArray(46, 'n'));
    expected += {"", "--" + kBoundary + "--"};
    EXPECT_EQ(data.mid(5), expected);

    EXPECT_TRUE(prompts.recorded.isEmpty()) << prompts.texts().join(" | ").toStdString();
    EXPECT_FALSE(QFile::exists(outbox(name + ".m")));
    EXPECT_FALSE(QFile::exists(outbox(name + ".hdr")));
    EXPECT_TRUE(QFile::exists(first));
    EXPECT_EQ(testsupport::readFile(queueFile()), "");

    EXPECT_EQ(popup.Panel1->text(), "1 out of 1 sent");
    EXPECT_EQ(popup.pbBar->maximum(), 1);
    EXPECT_EQ(popup.pbBar->value(), 1);
    EXPECT_FALSE(popup.isVisible());
    EXPECT_FALSE(popup.gaPost->isRunning());
}

TEST_F(PostRun, ARefusedRecipientKeepsItsMailQueuedAndTheOthersGo)
{
    queueMail("mail1", {"dave@example.test"}, "one");
    queueMail("mail2", {"frank@example.test", "nobody@example.test"}, "two");
    queueMail("mail3", {"erin@example.test"}, "three", {home.file("missing/SENT.txt")});

    // The progress text as each mail's connection starts.
    QStringList progress;
    send.SmtpClient->OnDisplay = [&](TCustomSmtpClient *, const QString &line) {
        if (line == "Connected with SMTP server")
            progress << popup.Panel1->text();
    };
    const QByteArray refusal = "550 5.1.1 <nobody@example.test>: Recipient address rejected";
    ScriptedServer server(connections({connection({"dave@example.test"}),
                                       connection({"frank@example.test", "nobody@example.test"}, refusal),
                                       connection({"erin@example.test"})}));
    post(server.port());
    ASSERT_EQ(server.verdict(), "");

    EXPECT_EQ(prompts.recorded,
              (QList<RecordedPrompt>{{PromptKind::Warning, "Mail Posting Error\r" + QString(refusal)},
                                     {PromptKind::Warning, "Unable to locate attachment " + home.file("missing/SENT.txt")}}));
    EXPECT_EQ(progress, (QStringList{"3 mail(s) to be sent", "1 out of 3 sent", "2 out of 3 sent"}));
    EXPECT_EQ(popup.Panel1->text(), "3 out of 3 sent");
    EXPECT_EQ(popup.pbBar->value(), 3);

    // Each message names only its own recipients; mail 3 went without its attachment.
    const QList<QList<QByteArray>> sent = messages(server);
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[0][1], "To: dave@example.test");
    EXPECT_EQ(sent[1][1], "To: erin@example.test");
    EXPECT_EQ(sent[1].count("--" + kBoundary), 2);
    EXPECT_TRUE(sent[1].contains("\tfilename=\"mail3.m\""));

    EXPECT_EQ(testsupport::readFile(queueFile()), "mail2\r\n");
    EXPECT_TRUE(QFile::exists(outbox("mail2.hdr")));
    EXPECT_TRUE(QFile::exists(outbox("mail2.m")));
    for (const char *gone : {"mail1.hdr", "mail1.m", "mail3.hdr", "mail3.m"})
        EXPECT_FALSE(QFile::exists(outbox(gone))) << gone;
}

TEST_F(PostRun, UnusableLinesAreDroppedAfterAWarningAndLeaveTheProgressAlone)
{
    queueMail("docmail", {"dave@example.test"}, "rich text");
    ASSERT_TRUE(testsupport::writeFile(outbox("docmail.doc"), "{\\rtf1 the document}"));
    ASSERT_TRUE(testsupport::writeFile(outbox("nobody.hdr"), "SUBJECT\r\nx\r\nRECEIPT\r\ndave@example.test\r\n"));
    ASSERT_TRUE(testsupport::writeFile(outbox("nohdr.m"), "package"));
    // The first line ends in "=", the second names a mail without its header, the third
    // is empty, the last names a mail without a body file.
    ASSERT_TRUE(testsupport::writeFile(queueFile(), "docmail=\r\nnohdr\r\n\r\nnobody\r\n"));

    ScriptedServer server(connection({"dave@example.test"}));
    post(server.port());
    ASSERT_EQ(server.verdict(), "");

    EXPECT_EQ(prompts.recorded, (QList<RecordedPrompt>{{PromptKind::Warning, "quorvel nohdr Mail header corrupted"},
                                                        {PromptKind::Warning, "quorvel  Mail header corrupted"},
                                                        {PromptKind::Warning, "One mail in queue is corrupted"}}));
    const QList<QByteArray> data = server.dataBlock();
    EXPECT_TRUE(data.contains("\tfilename=\"docmail.doc\""));
    EXPECT_FALSE(data.contains("\tfilename=\"docmail.m\""));
    EXPECT_EQ(data.count("--" + kBoundary), 2);

    EXPECT_EQ(testsupport::readFile(queueFile()), "");
    EXPECT_FALSE(QFile::exists(outbox("docmail.doc")));
    EXPECT_TRUE(QFile::exists(outbox("docmail.m")));
    EXPECT_TRUE(QFile::exists(outbox("nohdr.m")));
    EXPECT_TRUE(QFile::exists(outbox("nobody.hdr")));
    EXPECT_EQ(popup.Panel1->text(), "1 out of 4 sent");
    EXPECT_EQ(popup.pbBar->value(), 1);
}

TEST_F(PostRun, AnUnreachableServerLeavesTheQueueAsItWas)
{
    queueMail("mail1", {"dave@example.test"}, "one");
    queueMail("mail2", {"dave@example.test"}, "two", {outbox("mail1.m")});
    queueMail("mail3", {"dave@example.test"}, "three");
    const QByteArray queueBefore = testsupport::readFile(queueFile());

    post(ScriptedServer::deadPort());

    EXPECT_EQ(prompts.recorded, QList<RecordedPrompt>(3, {PromptKind::Plain, "Unable to connect to Mail server"}));
    EXPECT_EQ(testsupport::readFile(queueFile()), queueBefore);
    for (const char *kept : {"mail1.hdr", "mail1.m", "mail2.hdr", "mail2.m", "mail3.hdr", "mail3.m"})
        EXPECT_TRUE(QFile::exists(outbox(kept))) << kept;
    EXPECT_EQ(popup.Panel1->text(), "3 out of 3 sent");
}

TEST_F(PostRun, AServerThatFailsMidMessageKeepsTheMail)
{
    queueMail("mail1", {"dave@example.test"}, "one");
    ScriptedServer server{"S: 220 mx.test ESMTP", "C~ HELO .+", "S: 250 mx.test",
                          "C: MAIL FROM:<carol@example.test>", "S: 250 Ok",
                          "C: RCPT TO:<dave@example.test>", "S: 250 Ok",
                          "C: DATA", "S: 354 go ahead", "<data>", "<close>"};
    post(server.port());
    ASSERT_EQ(server.verdict(), "");

    EXPECT_EQ(prompts.texts(), QStringList{"Mail Posting Error\r554 not connected"});
    EXPECT_EQ(testsupport::readFile(queueFile()), "mail1\r\n");
    EXPECT_TRUE(QFile::exists(outbox("mail1.hdr")));
    EXPECT_TRUE(QFile::exists(outbox("mail1.m")));
}

TEST_F(PostRun, AnEmptyQueueIsReportedAndNoQueueFileIsNothingToDo)
{
    send.bnSendClick();
    EXPECT_TRUE(prompts.recorded.isEmpty());
    EXPECT_FALSE(QFile::exists(queueFile()));

    ASSERT_TRUE(testsupport::writeFile(queueFile(), ""));
    send.bnSendClick();
    EXPECT_EQ(prompts.recorded, (QList<RecordedPrompt>{{PromptKind::Information, "No mail in queue"}}));
    EXPECT_FALSE(popup.gaPost->isRunning());
    EXPECT_EQ(popup.Panel1->text(), "");
}

TEST_F(PostRun, MailQueuedDuringTheRunIsInTheQueueFileAfterIt)
{
    queueMail("mail1", {"dave@example.test"}, "one");
    queueMail("mail2", {"dave@example.test", "nobody@example.test"}, "two");
    // The editor queues two mails while the run waits for the server, one of them
    // with the same line as one the run holds.
    send.SmtpClient->OnDisplay = [this](TCustomSmtpClient *, const QString &line) {
        if (line == "> QUIT" && !QFile::exists(outbox("mail1.hdr")) && !QFile::exists(outbox("late.m"))) {
            queueMail("late", {"dave@example.test"}, "late");
            AppendQueueLine(queueFile(), "mail2");
        }
    };
    ScriptedServer server(connections({connection({"dave@example.test"}),
                                       connection({"dave@example.test", "nobody@example.test"}, "550 no")}));
    post(server.port());
    ASSERT_EQ(server.verdict(), "");

    EXPECT_EQ(testsupport::readFile(queueFile()), "mail2\r\nlate\r\nmail2\r\n");
    EXPECT_EQ(state.meTemp, (QStringList{"mail2", "late", "mail2"}));
}

// Prompts whose warning box raises an error the run cannot handle, as an unreadable
// header file would.
struct RaisingPrompts : platform::ScriptedPrompts {
    void warning(const QString &text) override
    {
        ScriptedPrompts::warning(text);
        throw platform::Error("interrupted");
    }
};

TEST_F(PostRun, AnErrorEndsTheRunClosesTheProgressAndLeavesTheQueueFile)
{
    // An error the run cannot handle ends the run after its clean-up.
    RaisingPrompts raising;
    queueMail("mail1", {"dave@example.test"}, "one", {home.file("gone.txt")});
    const QByteArray queueBefore = testsupport::readFile(queueFile());
    state.SMTPport = QString::number(ScriptedServer::deadPort());

    EXPECT_THROW(send.bnSendClick(), platform::Error);
    EXPECT_EQ(raising.texts(), QStringList{"Unable to locate attachment " + home.file("gone.txt")});
    EXPECT_FALSE(popup.isVisible());
    EXPECT_FALSE(popup.gaPost->isRunning());
    EXPECT_EQ(testsupport::readFile(queueFile()), queueBefore);
    EXPECT_TRUE(QFile::exists(outbox("mail1.m")));
}

TEST_F(PostRun, AnErrorAfterAPostedMailTakesThatMailOffTheQueue)
{
    RaisingPrompts raising;
    queueMail("mail1", {"dave@example.test"}, "one");
    queueMail("mail2", {"dave@example.test"}, "two", {home.file("gone.txt")});
    queueMail("mail3", {"dave@example.test"}, "three");
    ScriptedServer server(connection({"dave@example.test"}));
    state.SMTPport = QString::number(server.port());

    EXPECT_THROW(send.bnSendClick(), platform::Error);
    EXPECT_EQ(server.verdict(), "");
    EXPECT_FALSE(QFile::exists(outbox("mail1.hdr")));
    // The posted mail's line is gone; the mail the error stopped at and the one
    // after it wait for the next run.
    EXPECT_EQ(testsupport::readFile(queueFile()),
              FormatQueueLine("mail2", {home.file("gone.txt")}).toUtf8() + "\r\nmail3\r\n");
    EXPECT_TRUE(QFile::exists(outbox("mail2.m")));
    EXPECT_TRUE(QFile::exists(outbox("mail3.m")));
}

} // namespace
