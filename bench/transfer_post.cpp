// The posting run as a command-line program, for bench/peers.sh to time beside the
// peer clients against the same Postfix (bench/peers.d/post.sh):
//
//   bench_transfer_post HOST PORT FROM TO DIR APPDIR
//
// queues the body of every DIR/*.eml as a mail to TO in a fresh installation tree
// APPDIR (outgoing header, body file N.doc, queue line), then runs the Post command's
// two steps, bnSendClick and RemoveSentMailFromQueue, as the user FROM. Each mail
// goes out in a connection of its own as the marker line plus its body file in base64.
// Exit status 0 when every mail was posted and the queue is empty; the time of the
// run alone (without queueing) goes to standard error.
#include "platform/ScriptedPrompts.h"
#include "store/OutgoingHeader.h"
#include "store/QueueFile.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"
#include "transfer/SendMail.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace {

int fail(const QString &what)
{
    std::fprintf(stderr, "bench_transfer_post: %s\n", qPrintable(what));
    return 1;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// Queues every message of `dir` for `to`: the subject from its header, the text after
// its header as the body file. Plain writes to plain paths (the names are new and
// safe): queueing is not what is measured.
int queueWorkload(const QString &dir, const QString &to, const QString &outbox, int &count)
{
    QStringList queue;
    const QDir source(dir);
    for (const QString &name : source.entryList({"*.eml"}, QDir::Files, QDir::Name)) {
        QFile file(source.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            return fail("cannot read " + file.fileName());
        const QByteArray message = file.readAll();
        const qsizetype blank = message.indexOf("\r\n\r\n");
        const QByteArray header = message.left(blank);
        QString subject;
        for (const QByteArray &line : header.split('\n'))
            if (line.startsWith("Subject: "))
                subject = QString::fromUtf8(line.mid(9).trimmed());
        const QString mail = "bench" + QFileInfo(name).completeBaseName();
        if (!writeFile(outbox + mail + ".hdr", FormatOutgoingHeader(subject, {to}))
            || !writeFile(outbox + mail + ".doc", message.mid(blank + 4)))
            return fail("cannot write the outbox files of " + mail);
        queue << mail;
    }
    SaveQueue(QueueFilePath(outbox), queue);
    count = int(queue.size());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 6)
        return fail("usage: bench_transfer_post HOST PORT FROM TO DIR APPDIR");

    ControlCentreState state;
    state.SetAppPath(args[5]);
    if (!QDir().mkpath(state.OutboxDir) || !QDir().mkpath(state.InboxDir))
        return fail("cannot create " + state.OutboxDir);
    state.UserName = "quorvel bench";
    state.EmailAddress = args[2];
    state.MailServer = args[0];
    state.SMTPport = args[1];
    int count = 0;
    if (const int rc = queueWorkload(args[4], args[3], state.OutboxDir, count))
        return rc;

    platform::ScriptedPrompts prompts;
    TfrmSendMail send(state);
    QElapsedTimer clock;
    clock.start();
    send.bnSendClick();
    send.RemoveSentMailFromQueue();
    const qint64 ms = clock.elapsed();

    if (!prompts.recorded.isEmpty())
        return fail("the run reported: " + prompts.texts().join(" | "));
    if (!LoadQueue(QueueFilePath(state.OutboxDir)).isEmpty())
        return fail("mails left in the queue");
    std::fprintf(stderr, "posted %d mails in %lld ms\n", count, static_cast<long long>(ms));
    return 0;
}
