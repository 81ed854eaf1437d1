// The posting run against the real Postfix on loopback, started by the test run
// (scripts/mailservers/start exports QUORVEL_TEST_*): a queued quorvel mail made by
// the store operations arrives whole in the recipient's Maildir, and a refused
// recipient keeps its mail queued. Without the variables the tests are skipped; with
// them, a server that does not answer is a failure.
#include "common/ArchiveOps.h"
#include "platform/ScriptedPrompts.h"
#include "store/OutgoingHeader.h"
#include "store/QueueFile.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"
#include "support/RealServers.h"
#include "support/TempHome.h"
#include "transfer/SendMail.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

using testsupport::clearMailbox;
using testsupport::waitForMessages;

namespace {

QString env(const char *name) { return qEnvironmentVariable(name); }

// The sender and the recipient: spare mailboxes no other test program uses.
const QString kSender = "carol";
const QString kRecipient = "dave";

class PostToPostfix : public ::testing::Test {
protected:
    void SetUp() override
    {
        testsupport::RequireRealServers(lock_, "post-tests");
        if (IsSkipped() || HasFatalFailure())
            return;
        clearMailbox(kRecipient);

        state.SetAppPath(home.path() + "/quorvel");
        QDir().mkpath(state.InboxDir);
        QDir().mkpath(state.OutboxDir);
        state.UserName = "Carol Example";
        state.EmailAddress = address(kSender);
        state.MailServer = env("QUORVEL_TEST_SMTP_HOST");
        state.SMTPport = env("QUORVEL_TEST_SMTP_PORT");
    }

    static QString address(const QString &user) { return testsupport::mailAddress(user); }

    // Queues a mail as the editor does: the outgoing header, the body packed into
    // the package N.m, the queue line.
    QString queueMail(const QString &name, const QStringList &recipients, const QByteArray &body,
                      const QStringList &attachments)
    {
        WriteOutgoingHeader(OutgoingHeaderPath(state.OutboxDir, name), "Figures for " + name, recipients);
        const QString doc = BodyDocumentPath(state.OutboxDir, name);
        EXPECT_TRUE(testsupport::writeFile(doc, body));
        const QString package = PackagePath(state.OutboxDir, name);
        ZipFile(state.ZipArchive1, package, doc);
        QFile::remove(doc);
        AppendQueueLine(QueueFilePath(state.OutboxDir), FormatQueueLine(name, attachments));
        return package;
    }

    testsupport::TempHome home;
    platform::ScriptedPrompts prompts;
    ControlCentreState state;
    TfrmSendMail send{state};
    testsupport::ServerLock lock_;
};

struct Part {
    QList<QByteArray> headers;
    QByteArray body;   // the lines of the part joined by "\n"
};

// The parts of a delivered multipart message, split at its boundary lines.
QList<Part> parts(const QByteArray &message, const QByteArray &boundary, QList<QByteArray> &topHeaders)
{
    QList<QByteArray> lines = message.split('\n');
    for (QByteArray &line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    QList<Part> out;
    Part *part = nullptr;
    bool inHeaders = true;
    for (const QByteArray &line : lines) {
        if (line == "--" + boundary || line == "--" + boundary + "--") {
            out.append(Part());
            part = &out.last();
            inHeaders = true;
        } else if (!part) {
            topHeaders.append(line);
        } else if (inHeaders && line.isEmpty()) {
            inHeaders = false;
        } else if (inHeaders) {
            part->headers.append(line);
        } else {
            part->body += line + "\n";
        }
    }
    if (!out.isEmpty())
        out.removeLast();   // after the closing boundary
    return out;
}

TEST_F(PostToPostfix, AQueuedQuorvelMailArrivesWithItsPackageAndAttachments)
{
    const QString name = "981206142305-carol@example-test";
    const QString notes = home.file("docs/notes.txt");
    const QString photo = home.file("docs/photo.jpg");
    QByteArray picture;
    for (int i = 0; i < 5000; ++i)
        picture += char(i * 31 + i / 7);
    ASSERT_TRUE(testsupport::writeFile(notes, "Line one\r\n.\r\nLine three\r\n"));
    ASSERT_TRUE(testsupport::writeFile(photo, picture));
    const QString packagePath =
        queueMail(name, {address(kRecipient)}, "{\\rtf1\\ansi The figures are attached.\\par}", {notes, photo});
    const QByteArray package = testsupport::readFile(packagePath);
    // A second mail whose recipient the server does not know.
    queueMail("981206142306-carol@example-test", {address("nobody")}, "{\\rtf1 lost}", {});

    send.bnSendClick();
    send.RemoveSentMailFromQueue();

    ASSERT_EQ(prompts.texts().size(), 1) << prompts.texts().join(" | ").toStdString();
    EXPECT_TRUE(prompts.texts()[0].startsWith("Mail Posting Error\r550 ")) << prompts.texts()[0].toStdString();
    EXPECT_EQ(testsupport::readFile(QueueFilePath(state.OutboxDir)), "981206142306-carol@example-test\r\n");
    EXPECT_FALSE(QFile::exists(packagePath));
    EXPECT_FALSE(QFile::exists(OutgoingHeaderPath(state.OutboxDir, name)));
    EXPECT_TRUE(QFile::exists(OutgoingHeaderPath(state.OutboxDir, "981206142306-carol@example-test")));

    const QStringList delivered = waitForMessages(kRecipient, 1);
    ASSERT_EQ(delivered.size(), 1);
    const QByteArray message = testsupport::readFile(delivered[0]);
    const qsizetype quote = message.indexOf("boundary=\"");
    ASSERT_GE(quote, 0);
    const qsizetype start = quote + 10;
    const QByteArray boundary = message.mid(start, message.indexOf('"', start) - start);
    EXPECT_TRUE(boundary.startsWith("= Multipart Boundary ")) << boundary.constData();

    QList<QByteArray> top;
    const QList<Part> got = parts(message, boundary, top);
    EXPECT_TRUE(top.contains("From: Carol Example <" + address(kSender).toUtf8() + ">"));
    EXPECT_TRUE(top.contains("To: " + address(kRecipient).toUtf8()));
    EXPECT_TRUE(top.contains("Subject: Figures for " + name.toUtf8()));
    ASSERT_EQ(got.size(), 4);
    EXPECT_EQ(got[0].body, "--=This is a quorvel\n\n");
    const QList<std::pair<QByteArray, QByteArray>> files{
        {name.toUtf8() + ".m", package}, {"notes.txt", testsupport::readFile(notes)}, {"photo.jpg", picture}};
    for (int i = 0; i < 3; ++i) {
        const Part &part = got[i + 1];
        EXPECT_TRUE(part.headers.contains("\tfilename=\"" + files[i].first + "\"")) << files[i].first.constData();
        EXPECT_EQ(QByteArray::fromBase64(part.body), files[i].second) << files[i].first.constData();
        for (const QByteArray &line : part.body.split('\n'))
            EXPECT_LE(line.size(), 60);
    }
}

} // namespace
