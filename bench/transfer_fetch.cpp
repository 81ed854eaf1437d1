// The whole fetch run as the Fetch command starts it, for bench/peers.sh to time
// beside the peer clients against the same Dovecot (bench/peers.d/fetch.sh):
//
//   bench_transfer_fetch HOST PORT USER PASSWORD WORKDIR EXPECTED
//
// makes a fresh installation in WORKDIR (settings, inbox with its INBOX header
// archive), runs TfrmGetMail::GetAllButtonClick with KeepMailInServer "Yes" (the
// mailbox stays as it is), and exits 0 when EXPECTED messages were stored in INBOX
// and nothing was reported. With QUORVEL_BENCH_PHASES set it prints how long the
// run spent fetching and decoding.
#include "common/ArchiveOps.h"
#include "common/Settings.h"
#include "common/ZipArchive.h"
#include "platform/ScriptedPrompts.h"
#include "store/SharedState.h"
#include "transfer/GetMail.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

namespace {

int fail(const QString &what)
{
    std::fprintf(stderr, "bench_transfer_fetch: %s\n", qPrintable(what));
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc != 7)
        return fail("usage: bench_transfer_fetch HOST PORT USER PASSWORD WORKDIR EXPECTED");
    const QString work = QDir(QString::fromLocal8Bit(argv[5])).absolutePath();
    // The settings file lives in the configuration directory of the work directory.
    qputenv("HOME", QFile::encodeName(work));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(work + "/config"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(work + "/data"));
    QApplication app(argc, argv);
    platform::ScriptedPrompts prompts;

    ControlCentreState state;
    state.SetAppPath(work + "/quorvel");
    if (!QDir().mkpath(state.InboxDir) || !QDir().mkpath(work + "/config"))
        return fail("cannot create " + state.InboxDir);
    const QString placeholder = work + "/___.___";
    QFile seed(placeholder);
    if (!seed.open(QIODevice::WriteOnly) || seed.write("placeholder") < 0)
        return fail("cannot write " + placeholder);
    seed.close();
    ZipFile(state.ZipArchive1, state.InboxHeaderArchive(), placeholder);
    WriteIniString("POSTOFFICE", "Host", QString::fromLocal8Bit(argv[1]));
    WriteIniString("POSTOFFICE", "Port", QString::fromLocal8Bit(argv[2]));
    WriteIniString("POSTOFFICE", "UserName", QString::fromLocal8Bit(argv[3]));
    WriteIniString("POSTOFFICE", "Password", state.te.EncryptText(QString::fromLocal8Bit(argv[4])));
    state.KeepMailInServer = "Yes";

    TfrmGetMail get(state);
    QElapsedTimer clock;
    qint64 fetched = -1;
    TfrmGetMail::setStepHookForTesting([&](const char *step) {
        if (qstrcmp(step, "decode") == 0)
            fetched = clock.elapsed();
    });
    clock.start();
    get.GetAllButtonClick();
    const qint64 total = clock.elapsed();
    if (!qEnvironmentVariableIsEmpty("QUORVEL_BENCH_PHASES"))
        std::fprintf(stderr, "fetch %lld ms, decode %lld ms\n", fetched, total - fetched);

    if (!prompts.recorded.isEmpty())
        return fail("the run reported: " + prompts.texts().join(" | "));
    const qsizetype expected = QByteArray(argv[6]).toLongLong();
    if (state.NewMailList.size() != expected)
        return fail(QStringLiteral("%1 messages stored, expected %2").arg(state.NewMailList.size()).arg(expected));
    TZipArchive check;
    check.setZipFilename(state.InboxHeaderArchive());
    if (check.MemberList().size() != expected + 1)
        return fail(QStringLiteral("INBOX holds %1 records").arg(check.MemberList().size() - 1));
    return 0;
}
