// Costs of the folder window's work on a folder of 10,000 mails: listing it, opening
// one mail, moving and trashing one mail (attachment archive of 20 MB and of 200 MB),
// and sorting the 10,000 rows of the window by a column. A deletion leaves the
// member's bytes unused until they pass a quarter of the archive, when that deletion
// rewrites it: BM_RewriteAttachments gives the cost of such a rewrite.
//
// Run: cmake --build <build> --target bench_folder && <build>/bench/bench_folder
// Each benchmark reports the median of its repetitions. The fixtures (about 460 MB)
// are made once in a temporary directory.

#include "BenchSupport.h"
#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
#include "common/ZipWriter.h"
#include "folder/Folder.h"
#include "platform/ScriptedPrompts.h"
#include "store/AttachmentDescriptor.h"
#include "store/FolderOps.h"
#include "store/HeaderRecord.h"
#include "store/SharedState.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

namespace {

constexpr int kMails = 10000;
constexpr int kAttachments = 200;   // mails 0..199 carry one attachment each

// Incompressible, so the archive holds what it says.
QByteArray filler(qint64 size, quint32 seed)
{
    return bench::pseudoRandom(size, seed, [](quint32 x) { return char(x); });
}

QString mailId(int i) { return QString("m%1@bench-test").arg(i, 5, 10, QChar('0')); }

// One installation per attachment-archive size (in MB): INBOX with the 10,000 mails,
// READ empty.
struct Store {
    QTemporaryDir dir{QDir::tempPath() + "/quorvel-bench-XXXXXX"};
    QString inbox;

    explicit Store(int attachmentMb)
    {
        inbox = dir.path() + "/inbox/";
        QDir().mkpath(inbox);
        QList<zipwrite::MemberSource> records{zipwrite::MemberSource::bytes(kPlaceholderMember, "placeholder")};
        QList<zipwrite::MemberSource> bodies, attachments;
        const qint64 attachmentSize = qint64(attachmentMb) * 1024 * 1024 / kAttachments;
        static const char *days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
        for (int i = 0; i < kMails; ++i) {
            const bool attached = i < kAttachments;
            const QString name = QString("file-%1.bin").arg(i);
            const QByteArray attach = attached ? FormatAttachmentDescriptor(1, {name}) : FormatAttachmentDescriptor(0, {});
            const QByteArray raw = "\r\nFrom: Sender " + QByteArray::number(i % 97) + " <s@x>\r\nMessage-ID: <"
                + mailId(i).toUtf8() + ">";
            records << zipwrite::MemberSource::bytes(
                mailId(i), FormatHeaderRecord(QByteArray(days[i % 7]) + ", " + QByteArray::number(i % 28 + 1)
                                                  + " Dec 2026 10:00:00 +0100",
                                              false, "NEW", attach, raw, "Subject " + QByteArray::number(i * 7919 % kMails),
                                              "Sender " + QByteArray::number(i % 97) + " <s@x>"));
            bodies << zipwrite::MemberSource::bytes(mailId(i), filler(2048, quint32(i)).toBase64());
            if (attached)
                attachments << zipwrite::MemberSource::bytes(name, filler(attachmentSize, quint32(i + kMails)));
        }
        zipwrite::addMembers(inbox + "INBOX.hdr", records, 9);
        zipwrite::addMembers(inbox + "INBOX.fdr", bodies, 9);
        zipwrite::addMembers(inbox + "INBOX.att", attachments, 0);
        zipwrite::addMembers(inbox + "READ.hdr", {zipwrite::MemberSource::bytes(kPlaceholderMember, "placeholder")}, 9);
        syncArchives();
    }
};

Store &store(int attachmentMb)
{
    static std::map<int, std::unique_ptr<Store>> stores;
    auto &s = stores[attachmentMb];
    if (!s)
        s = std::make_unique<Store>(attachmentMb);
    return *s;
}

void BM_ListFolder(benchmark::State &state)
{
    const Store &s = store(20);
    for (auto _ : state) {
        const QList<FolderMail> mails = ListFolder(s.inbox, "INBOX");
        if (mails.size() != kMails)
            state.SkipWithError("wrong listing");
    }
}

void BM_ViewMail(benchmark::State &state)
{
    const Store &s = store(20);
    TZipArchive zip;
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadMail(zip, s.inbox, "INBOX", mailId(5000), OpenMode::View));
}

// One mail with its attachment to READ and back: two moves per iteration.
void BM_MoveMailThereAndBack(benchmark::State &state)
{
    const Store &s = store(int(state.range(0)));
    TZipArchive zip;
    for (auto _ : state) {
        if (moveMail(zip, s.inbox, "INBOX", "READ", mailId(7)).isEmpty()
            || moveMail(zip, s.inbox, "READ", "INBOX", mailId(7)).isEmpty())
            state.SkipWithError("move failed");
    }
}

// Trashes one mail with its attachment; putting it back is not timed.
void BM_TrashMail(benchmark::State &state)
{
    const Store &s = store(int(state.range(0)));
    TZipArchive zip;
    for (auto _ : state) {
        if (!deleteMail(zip, s.inbox, "INBOX", mailId(9)))
            state.SkipWithError("trash failed");
        state.PauseTiming();
        const QString name = "file-9.bin";
        zipwrite::addMembers(s.inbox + "INBOX.att", {zipwrite::MemberSource::bytes(name, "back")}, 0);
        zipwrite::addMembers(s.inbox + "INBOX.fdr", {zipwrite::MemberSource::bytes(mailId(9), "body")}, 9);
        zipwrite::addMembers(s.inbox + "INBOX.hdr",
                             {zipwrite::MemberSource::bytes(
                                 mailId(9), FormatHeaderRecord("Mon", false, "NEW", FormatAttachmentDescriptor(1, {name}),
                                                               {}, "s", "f"))},
                             9);
        state.ResumeTiming();
    }
}

// One rewrite of the whole attachment archive (a replaced member), as a compaction
// after deletions costs.
void BM_RewriteAttachments(benchmark::State &state)
{
    const Store &s = store(int(state.range(0)));
    const QByteArray data = filler(qint64(state.range(0)) * 1024 * 1024 / kAttachments, 100 + kMails);
    for (auto _ : state) {
        zipwrite::addMembers(s.inbox + "INBOX.att", {zipwrite::MemberSource::bytes("file-100.bin", data)}, 0);
        syncArchives();
    }
}

// The window's column click over 10,000 listed rows.
void BM_SortRows(benchmark::State &state)
{
    const Store &s = store(20);
    ControlCentreState cc;
    cc.SetAppPath(s.dir.path());
    TfrmFolder folder(cc);
    folder.show();
    folder.TabSet1Click();
    if (folder.MailIds().size() != kMails)
        state.SkipWithError("wrong listing");
    auto *header = folder.findChild<QTreeWidget *>("ListView1")->header();
    const int column = int(state.range(0));
    for (auto _ : state)
        emit header->sectionClicked(column);
}

constexpr int kReps = 5;

BENCHMARK(BM_ListFolder)->Unit(benchmark::kMillisecond)->Repetitions(kReps)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_ViewMail)->Unit(benchmark::kMillisecond)->Repetitions(kReps)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_MoveMailThereAndBack)->Arg(20)->Arg(200)->Iterations(5)->Unit(benchmark::kMillisecond)
    ->Repetitions(kReps)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_TrashMail)->Arg(20)->Arg(200)->Iterations(5)->Unit(benchmark::kMillisecond)
    ->Repetitions(kReps)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_RewriteAttachments)->Arg(20)->Arg(200)->Iterations(1)->Unit(benchmark::kMillisecond)
    ->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_SortRows)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->Repetitions(kReps)
    ->ReportAggregatesOnly(true)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    platform::ScriptedPrompts prompts;
    return bench::runBenchmarks(argc, argv);
}
