// Costs of the editor's sticker strip over collections of 200 BMP stickers: choosing a
// collection's tab until its first page shows (the previous collection's copies
// removed, the archive unpacked, eleven slots filled), and showing the next page.
//
// Run: cmake --build <build> --target bench_stickers && <build>/bench/bench_stickers
// Each benchmark reports the median of its repetitions.

#include "BenchSupport.h"
#include "common/ZipWriter.h"
#include "compose/Editor.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include "Stickers.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int kStickers = 200;

struct Strip {
    Strip()
    {
        state.SetAppPath(dir.path());
        QDir().mkpath(state.InboxDir);
        const QString stickers = StickerDir(state.AppPath);
        QDir().mkpath(stickers);
        for (const char *name : {"animals.zip", "faces.zip"}) {
            QList<zipwrite::MemberSource> members;
            for (int i = 0; i < kStickers; ++i) {
                QByteArray bmp;
                QBuffer buffer(&bmp);
                buffer.open(QIODevice::WriteOnly);
                QImage::fromData(bench::stickerPng(i)).save(&buffer, "BMP");
                members << zipwrite::MemberSource::bytes(QStringLiteral("s%1.bmp").arg(i), bmp);
            }
            zipwrite::addMembers(stickers + name, members, 9);
        }
        editor = std::make_unique<TfrmEditor>(state);
        editor->show();
    }
    QTemporaryDir dir;
    ControlCentreState state;
    std::unique_ptr<TfrmEditor> editor;
};

void BM_ChooseCollection(benchmark::State &s)
{
    Strip strip;
    int tab = 0;
    for (auto _ : s) {
        tab = 1 - tab;
        strip.editor->TabSet1Click(tab);
        QApplication::processEvents();
    }
    if (strip.editor->StickerNames.size() != kStickers)
        s.SkipWithError("the collection did not load");
}

void BM_NextPage(benchmark::State &s)
{
    Strip strip;
    TfrmEditor &editor = *strip.editor;
    for (auto _ : s) {
        editor.PageStart = editor.PageStart + 11 <= kStickers ? editor.PageStart + 11 : 1;
        editor.LoadPicture(editor.PageStart, 11);
        QApplication::processEvents();
    }
}

} // namespace

BENCHMARK(BM_ChooseCollection)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_NextPage)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

int main(int argc, char **argv) { return bench::runBenchmarks(argc, argv); }
