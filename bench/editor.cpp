// Costs of the mail editor: queueing a mail of 50 stickers and two 1 MB attachments
// (outgoing header, RTF body, package, SENT copy, queue line, sync included), opening
// a 50-sticker package again, and the relayout of one key press in a body of 1,000
// stickers.
//
// Run: cmake --build <build> --target bench_editor && <build>/bench/bench_editor
// Each benchmark reports the median of its repetitions.

#include "BenchSupport.h"
#include "compose/MailWriter.h"
#include "platform/Clock.h"
#include "rtf/Rtf.h"
#include "store/SharedState.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextEdit>

#include "Stickers.h"

#include <benchmark/benchmark.h>

namespace {

// `perParagraph` stickers to a paragraph.
void fill(QTextDocument &doc, int stickers, int perParagraph = 10)
{
    QTextCursor cursor(&doc);
    for (int i = 0; i < stickers; ++i) {
        if (i > 0 && i % perParagraph == 0)
            cursor.insertBlock();
        cursor.insertText(QStringLiteral("A line of words before sticker %1 ").arg(i));
        rtf::insertPicture(cursor, bench::stickerPng(i));
    }
}

struct Outbox {
    Outbox()
    {
        state.SetAppPath(dir.path());
        QDir().mkpath(state.InboxDir);
        QDir().mkpath(state.OutboxDir);
        state.EmailAddress = "bench@example.test";
        state.KeepCopy = "Yes";
        for (const char *name : {"/a.bin", "/b.bin"}) {
            QFile f(dir.path() + name);
            f.open(QIODevice::WriteOnly);
            f.write(QByteArray(1024 * 1024, 'x'));
            attachments += f.fileName();
        }
    }
    QTemporaryDir dir;
    ControlCentreState state;
    QStringList attachments;
};

void BM_QueueMail(benchmark::State &s)
{
    Outbox outbox;
    MailWriter writer(outbox.state);
    QTextDocument body;
    fill(body, 50);
    int n = 0;
    for (auto _ : s) {
        // A distinct name each time, as a new mail has.
        const QString name = QStringLiteral("mail%1").arg(n++);
        writer.Queue({name, {"dave@example.test"}, "Stickers", outbox.attachments, false}, true, body);
    }
}

void BM_OpenPackage(benchmark::State &s)
{
    Outbox outbox;
    MailWriter writer(outbox.state);
    QTextDocument body;
    fill(body, 50);
    writer.FileSave({"package", {"dave@example.test"}, "Stickers", {}, false}, body);
    const QString package = outbox.state.OutboxDir + "package.m";
    for (auto _ : s) {
        QTextDocument opened;
        writer.PerformFileOpen(package, opened);
        benchmark::DoNotOptimize(opened.characterCount());
    }
}

void BM_KeyPressIn1000Stickers(benchmark::State &s)
{
    QTextEdit edit;
    edit.resize(538, 300);
    fill(*edit.document(), 1000, int(s.range(0)));
    edit.show();
    edit.moveCursor(QTextCursor::End);
    edit.document()->documentLayout()->documentSize();   // the first full layout
    for (auto _ : s) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
        QApplication::sendEvent(&edit, &press);
        // The relayout that the key press asks for.
        benchmark::DoNotOptimize(edit.document()->documentLayout()->documentSize());
        QApplication::processEvents();
    }
}

} // namespace

BENCHMARK(BM_QueueMail)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenPackage)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
// Stickers per paragraph: ten, or all of them in one paragraph.
BENCHMARK(BM_KeyPressIn1000Stickers)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

int main(int argc, char **argv) { return bench::runBenchmarks(argc, argv); }
