// Costs of the mail body's RTF: writing and reading a body of 2,000 words with N
// stickers (distinct 36 x 36 PNGs), and, for reference, LibreOffice's headless
// conversion of the same 50-sticker file to ODT.
//
// Run: cmake --build <build> --target bench_rtf && <build>/bench/bench_rtf
// Each benchmark reports the median of its repetitions.

#include "BenchSupport.h"
#include "rtf/Rtf.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QUrl>

#include "Stickers.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int Words = 2000;

// 2,000 words in paragraphs of 100, a format change every 20 words, N stickers spread evenly.
void makeBody(QTextDocument &doc, int stickers)
{
    QTextCursor c(&doc);
    quint32 x = 2463534242u;
    const int every = stickers ? Words / stickers : Words + 1;
    int placed = 0;
    QTextCharFormat plain, bold;
    plain.setFontFamilies({QStringLiteral("Arial")});
    plain.setFontPointSize(14);
    plain.setForeground(Qt::blue);
    bold = plain;
    bold.setFontWeight(QFont::Bold);
    bold.setForeground(Qt::darkRed);
    for (int w = 0; w < Words; ++w) {
        QString word;
        x ^= x << 13; x ^= x >> 17; x ^= x << 5;
        for (int k = 0, n = 2 + int(x % 8); k < n; ++k)
            word += QChar('a' + int((x >> k) % 26));
        c.insertText(word + ' ', (w / 20) % 2 ? bold : plain);
        while (stickers && w % every == every - 1 && placed < stickers) {
            rtf::insertPicture(c, bench::stickerPng(placed++));
            if (Words / stickers > 0)
                break;
        }
        if (w % 100 == 99)
            c.insertBlock();
    }
    while (placed < stickers)
        rtf::insertPicture(c, bench::stickerPng(placed++));
}

void BM_WriteRtf(benchmark::State &state)
{
    QTextDocument doc;
    makeBody(doc, int(state.range(0)));
    qint64 size = 0;
    for (auto _ : state) {
        const QByteArray rtf = rtf::writeRtf(doc);
        size = rtf.size();
        benchmark::DoNotOptimize(rtf.constData());
    }
    state.counters["bytes"] = double(size);
}

void BM_ReadRtf(benchmark::State &state)
{
    QByteArray rtf;
    {
        QTextDocument doc;
        makeBody(doc, int(state.range(0)));
        rtf = rtf::writeRtf(doc);
    }
    for (auto _ : state) {
        QTextDocument doc;
        const rtf::ReadResult result = rtf::readRtf(rtf, doc);
        if (!result.ok)
            state.SkipWithError(qPrintable(result.error));
        benchmark::DoNotOptimize(doc.characterCount());
    }
}

// soffice --headless --convert-to odt of the 50-sticker body, a fresh process each time
// (a profile made once beforehand, as on a desktop where LibreOffice has run before).
void BM_LibreOfficeConvert(benchmark::State &state)
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty()) {
        state.SkipWithError("soffice is not installed");
        return;
    }
    QTemporaryDir dir;
    QTextDocument doc;
    makeBody(doc, 50);
    QFile file(dir.filePath("body.rtf"));
    file.open(QIODevice::WriteOnly);
    file.write(rtf::writeRtf(doc));
    file.close();
    const QStringList args{"-env:UserInstallation=" + QUrl::fromLocalFile(dir.filePath("profile")).toString(),
                           "--headless", "--norestore", "--convert-to", "odt", "--outdir", dir.path(), file.fileName()};
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", dir.path());
    auto convert = [&] {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(soffice, args);
        p.waitForFinished(300000);
        return QFile::exists(dir.filePath("body.odt"));
    };
    convert();   // makes the profile
    for (auto _ : state) {
        QFile::remove(dir.filePath("body.odt"));
        if (!convert())
            state.SkipWithError("soffice did not write body.odt");
    }
}

} // namespace

BENCHMARK(BM_WriteRtf)->Arg(50)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ReadRtf)->Arg(50)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_LibreOfficeConvert)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);

int main(int argc, char **argv) { return bench::runBenchmarks(argc, argv); }
