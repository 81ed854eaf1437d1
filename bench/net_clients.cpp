// quorvel's own SMTP and POP3 clients as command-line programs, for bench/peers.sh
// to time beside the peer clients against the same servers (bench/peers.d/net.sh):
//
//   bench_net_clients fetch HOST PORT USER PASSWORD OUTDIR
//       logs in with USER/PASS and retrieves every message into OUTDIR/N.eml
//   bench_net_clients send HOST PORT FROM TO DIR
//       posts the body of every DIR/*.eml to TO, one connection per message
//
// Exit status 0 when every operation succeeded.
#include "net/Pop3Client.h"
#include "net/SmtpClient.h"
#include "net/Wait.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>
#include <QWidget>
#include <cstdio>

namespace {

int fail(const QString &what)
{
    std::fprintf(stderr, "bench_net_clients: %s\n", qPrintable(what));
    return 1;
}

int fetch(TWait &wait, const QStringList &args)
{
    TPop3Client pop;
    pop.SetWait(&wait);
    pop.Host = args[0];
    pop.Port = args[1];
    pop.UserName = args[2];
    pop.PassWord = args[3];
    const QString out = args[4];
    QFile file;
    pop.OnMessageLine = [&file](TPop3Client *client) {
        file.write(client->LastResponse());
        file.write("\r\n", 2);
    };
    if (!pop.Stat())
        return fail("login or STAT failed: " + pop.ErrorMessage() + QString::fromUtf8(pop.LastResponse()));
    const int count = pop.MsgCount();
    for (int n = 1; n <= count; ++n) {
        file.setFileName(out + "/" + QString::number(n) + ".eml");
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail("cannot write " + file.fileName());
        pop.MsgNum = n;
        const bool ok = pop.Retr();
        file.close();
        if (!ok)
            return fail(QStringLiteral("RETR %1 failed: %2").arg(n).arg(pop.ErrorMessage()));
    }
    pop.Quit();
    return 0;
}

int send(TWait &wait, const QStringList &args)
{
    TSmtpClient smtp;
    smtp.SetWait(&wait);
    smtp.Host = args[0];
    smtp.Port = args[1];
    smtp.FromName = args[2];
    smtp.HdrFrom = args[2];
    smtp.RcptName = {args[3]};
    smtp.HdrTo = args[3] + ";";
    QList<QByteArray> body;
    smtp.OnGetData = [&body](TCustomSmtpClient *, int n, QByteArray &line, int, bool &more) {
        if (n > body.size())
            more = false;
        else
            line = body[n - 1];
    };
    const QDir dir(args[4]);
    for (const QString &name : dir.entryList({"*.eml"}, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            return fail("cannot read " + file.fileName());
        // The client writes its own header block: take the subject and the body.
        QList<QByteArray> lines = file.readAll().split('\n');
        for (QByteArray &line : lines)
            if (line.endsWith('\r'))
                line.chop(1);
        const qsizetype blank = lines.indexOf(QByteArray());
        smtp.HdrSubject.clear();
        for (qsizetype i = 0; i < blank; ++i)
            if (lines[i].startsWith("Subject: "))
                smtp.HdrSubject = QString::fromUtf8(lines[i].mid(9));
        body = lines.mid(blank + 1);
        if (!body.isEmpty() && body.last().isEmpty())
            body.removeLast();
        if (!smtp.Connect())
            return fail("connect failed: " + smtp.ErrorMessage());
        smtp.SendMail();
        smtp.Quit();
        if (!smtp.ErrorMessage().isEmpty())
            return fail(name + ": " + smtp.ErrorMessage());
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 6 || (args[0] != "fetch" && args[0] != "send"))
        return fail("usage: bench_net_clients fetch HOST PORT USER PASSWORD OUTDIR | "
                    "send HOST PORT FROM TO DIR");
    QWidget host; // never shown: the wait control counts, it is not seen
    TWait wait(&host);
    wait.setInterval(1000);
    return args[0] == "fetch" ? fetch(wait, args.mid(1)) : send(wait, args.mid(1));
}
