// Opening the address book: the file read into its line list, the entries parsed and
// shown in the window's list, the window shown and painted; and the file's part alone.
//
// Run: cmake --build <build> --target bench_address_book &&
//      QT_QPA_PLATFORM=offscreen <build>/bench/bench_address_book
// Each benchmark reports the median of its repetitions (goal: 5,000 entries open in
// at most 200 ms).

#include "BenchSupport.h"
#include "compose/AddressBook.h"
#include "store/AddressBookFile.h"
#include "store/SharedState.h"
#include "store/TextOps.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// An installation directory holding an address book of `entries` entries, a few of
// them with non-ASCII names and several addresses.
QString fixture(int entries)
{
    static QTemporaryDir dir;
    const QString appPath = dir.path() + "/" + QString::number(entries);
    if (QFile::exists(appPath + "/quorvel.adk"))
        return appPath;
    QDir().mkpath(appPath);
    QStringList lines;
    for (int i = 0; i < entries; ++i) {
        const QString n = QString::number(i);
        if (i % 10 == 0)
            lines << QString::fromUtf8("Zoë Ωmega ") + n + "[zo" + n + "]zoe" + n + "@example.test, z"
                         + n + "@example.org";
        else
            lines << "Correspondent " + n + "[c" + n + "]correspondent" + n + "@example.test";
    }
    WriteStoreFile(appPath + "/quorvel.adk", JoinLines(lines), false);
    return appPath;
}

void BM_OpenAddressBook(benchmark::State &state)
{
    ControlCentreState shared;
    shared.SetAppPath(fixture(int(state.range(0))));
    TfrmAddressBook book(shared);
    for (auto _ : state) {
        book.LoadAddressBook();
        book.ShowAddressBook();
        book.show();
        QApplication::processEvents();
        state.PauseTiming();
        book.hide();
        QApplication::processEvents();
        state.ResumeTiming();
    }
}

void BM_LoadAndParse(benchmark::State &state)
{
    ControlCentreState shared;
    shared.SetAppPath(fixture(int(state.range(0))));
    AddressBookFile book(shared);
    for (auto _ : state) {
        book.LoadAddressBook();
        benchmark::DoNotOptimize(book.ShowAddressBook().size());
    }
}

constexpr int kReps = 9;

BENCHMARK(BM_OpenAddressBook)->Arg(5000)->Unit(benchmark::kMillisecond)
    ->Iterations(10)->Repetitions(kReps)->ReportAggregatesOnly(true)->UseRealTime();
BENCHMARK(BM_LoadAndParse)->Arg(5000)->Unit(benchmark::kMillisecond)
    ->Iterations(20)->Repetitions(kReps)->ReportAggregatesOnly(true)->UseRealTime();

} // namespace

int main(int argc, char **argv) { return bench::runBenchmarks(argc, argv); }
