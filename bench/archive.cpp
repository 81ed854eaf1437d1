// Costs of the archive store: adding a member with a new name (in-place append),
// reading the member list, extracting, and replacing (a rewrite).
//
// Run: cmake --build <build> --target bench_archive && <build>/bench/bench_archive
// Each benchmark reports the median of its repetitions. Fixtures are made once in a
// temporary directory on the same file system as /tmp (about 230 MB).

#include "BenchSupport.h"
#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
#include "common/ZipFormat.h"
#include "common/ZipIo.h"
#include "common/ZipWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <map>
#include <sys/stat.h>

namespace {

QByteArray text(qint64 size, quint32 seed)
{
    return bench::pseudoRandom(size, seed,
                               [](quint32 x) { return (x % 7 == 0) ? ' ' : char('a' + (x % 26)); });
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size())
        qFatal("cannot write %s", qPrintable(path));
}

struct Fixtures {
    QTemporaryDir dir{QDir::tempPath() + "/quorvel-bench-XXXXXX"};
    std::map<int, QString> small;   // member count -> archive of 1 KB members
    QString large;                  // one 200 MB member and one 1 KB member
    QString oneKb;                  // a 1 KB file to add

    QString path(const QString &rel) const { return dir.path() + "/" + rel; }

    Fixtures()
    {
        QDir().mkpath(path("src"));
        QDir().mkpath(path("out"));
        oneKb = path("src/new-member");
        writeFile(oneKb, text(1024, 99));
        for (int count : {100, 1000, 10000}) {
            QStringList files;
            for (int i = 0; i < count; ++i) {
                // Named like stored mails: a time stamp and an address.
                const QString name = QString("2612%1-user-example-com").arg(i, 8, 10, QChar('0'));
                files.append(path("src/" + name));
                writeFile(files.back(), text(1024, quint32(i)));
            }
            small[count] = path(QString("small%1.att").arg(count));
            zipwrite::addFiles(small[count], files, 9);
            for (const QString &f : files)
                QFile::remove(f);
        }
        large = path("large.att");
        const QString big = path("src/big.bin");
        writeFile(big, text(200 * 1024 * 1024, 7));
        zipwrite::addFiles(large, {big}, 1);
        QFile::remove(big);
        const QString note = path("src/note.txt");
        writeFile(note, text(1024, 8));
        zipwrite::addFiles(large, {note}, 9);
        syncArchives();
    }
};

Fixtures &fixtures()
{
    static Fixtures f;
    return f;
}

// Puts an archive back to its state before an append, so that every iteration adds
// to an archive of the same size.
class Restorer {
public:
    explicit Restorer(const QString &archive) : archive_(archive)
    {
        zipio::Fd fd = zipio::openFile(archive, O_RDONLY);
        struct stat st;
        ::fstat(fd.get(), &st);
        size_ = st.st_size;
        offset_ = qint64(zipfmt::readCentralDirectory(fd.get(), size_).offset);
        tail_ = zipio::readAt(fd.get(), offset_, size_ - offset_);
    }
    void restore() const
    {
        zipio::Fd fd = zipio::openFile(archive_, O_RDWR);
        zipio::writeAt(fd.get(), offset_, tail_);
        zipio::truncateTo(fd.get(), size_);
    }

private:
    QString archive_;
    qint64 size_ = 0;
    qint64 offset_ = 0;
    QByteArray tail_;
};

void addNewMember(benchmark::State &state, const QString &archive, bool component)
{
    const Restorer restorer(archive);
    TZipArchive zip;
    for (auto _ : state) {
        if (component)
            AddToArchive(zip, archive, fixtures().oneKb);
        else
            zipwrite::addFiles(archive, {fixtures().oneKb}, 9);
        state.PauseTiming();
        restorer.restore();
        state.ResumeTiming();
    }
}

void BM_AddNewMember(benchmark::State &state)
{
    addNewMember(state, fixtures().small.at(int(state.range(0))), true);
}

void BM_AddNewMemberWriterOnly(benchmark::State &state)
{
    addNewMember(state, fixtures().small.at(int(state.range(0))), false);
}

void BM_AddNewMemberTo200MB(benchmark::State &state)
{
    addNewMember(state, fixtures().large, true);
}

void BM_AddNewMemberAndSync(benchmark::State &state)
{
    const QString archive = fixtures().small.at(int(state.range(0)));
    const Restorer restorer(archive);
    TZipArchive zip;
    for (auto _ : state) {
        AddToArchive(zip, archive, fixtures().oneKb);
        syncArchives();
        state.PauseTiming();
        restorer.restore();
        syncArchives();
        state.ResumeTiming();
    }
}

void BM_ReadMemberList(benchmark::State &state)
{
    TZipArchive zip;
    for (auto _ : state) {
        zip.setZipFilename(fixtures().small.at(int(state.range(0))));
        benchmark::DoNotOptimize(zip.MemberList().size());
    }
}

void BM_ExtractSmallFrom200MB(benchmark::State &state)
{
    TZipArchive zip;
    const QString out = fixtures().path("out");
    for (auto _ : state) {
        ExtractFile(zip, fixtures().large, "note.txt", out);
        state.PauseTiming();
        QFile::remove(out + "/note.txt");
        state.ResumeTiming();
    }
}

void BM_Extract200MBMember(benchmark::State &state)
{
    TZipArchive zip;
    const QString out = fixtures().path("out");
    for (auto _ : state) {
        ExtractFile(zip, fixtures().large, "big.bin", out);
        state.PauseTiming();
        QFile::remove(out + "/big.bin");
        state.ResumeTiming();
    }
}

void BM_ReplaceMember(benchmark::State &state)
{
    const QString archive = fixtures().small.at(int(state.range(0)));
    const QString same = fixtures().path("src/2612" + QString("%1").arg(5, 8, 10, QChar('0'))
                                         + "-user-example-com");
    writeFile(same, text(1024, 1234));
    TZipArchive zip;
    for (auto _ : state)
        AddToArchive(zip, archive, same);
}

constexpr int kReps = 7;

BENCHMARK(BM_AddNewMember)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)
    ->Iterations(40)->Repetitions(kReps)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_AddNewMemberWriterOnly)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond)
    ->Iterations(40)->Repetitions(kReps)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_AddNewMemberTo200MB)->Unit(benchmark::kMillisecond)
    ->Iterations(40)->Repetitions(kReps)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_AddNewMemberAndSync)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond)
    ->Iterations(10)->Repetitions(kReps)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_ReadMemberList)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond)
    ->Iterations(20)->Repetitions(kReps)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_ExtractSmallFrom200MB)->Unit(benchmark::kMillisecond)
    ->Iterations(40)->Repetitions(kReps)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_Extract200MBMember)->Unit(benchmark::kMillisecond)
    ->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_ReplaceMember)->Arg(10000)->Unit(benchmark::kMillisecond)
    ->Iterations(5)->Repetitions(kReps)->ReportAggregatesOnly(true)->UseRealTime();

} // namespace

int main(int argc, char **argv) { return bench::runBenchmarks(argc, argv, [] { fixtures(); }); }
