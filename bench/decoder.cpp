// The incoming message decoder on its hot path: a message carrying a 2 MiB base64
// attachment (76-character lines), decoded whole into a working directory, and the
// bare base64 stream decoder on the same lines.
//
// Run: cmake --build <build> --target bench_decoder && <build>/bench/bench_decoder

#include "mime/Base64.h"
#include "store/MessageDecoder.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr qsizetype kAttachmentBytes = 2 * 1024 * 1024;

QByteArray attachment()
{
    QByteArray out(kAttachmentBytes, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (char &c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x);
    }
    return out;
}

// The attachment's base64 text in lines of 76 characters, each ending in CR LF.
QByteArray base64Lines()
{
    const QByteArray b64 = attachment().toBase64();
    QByteArray out;
    for (qsizetype at = 0; at < b64.size(); at += 76)
        out += b64.mid(at, 76) + "\r\n";
    return out;
}

QByteArray message()
{
    return "Message-ID: <bench@example.test>\r\n"
           "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n"
           "--B\r\nContent-Type: text/plain\r\n\r\nsee attached\r\n"
           "--B\r\nContent-Type: application/octet-stream; name=\"big.bin\"\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n"
        + base64Lines() + "--B--\r\n";
}

void DecodeMessageWithAttachment(benchmark::State &state)
{
    const QByteArray raw = message();
    QTemporaryDir dir;
    qint64 decoded = 0;
    for (auto _ : state) {
        QBuffer buffer;
        buffer.setData(raw);
        buffer.open(QIODevice::ReadOnly);
        DecodeMessageStream(buffer, dir.path(), QStringLiteral("uid"),
                            [&](const QString &path, DecodedFileKind kind) {
                                if (kind == DecodedFileKind::Attachment)
                                    decoded = QFileInfo(path).size();
                                QFile::remove(path);
                            });
    }
    if (decoded != kAttachmentBytes)
        state.SkipWithError("attachment decoded to the wrong size");
    state.SetBytesProcessed(state.iterations() * raw.size());
}
BENCHMARK(DecodeMessageWithAttachment)->Unit(benchmark::kMillisecond);

void Base64StreamDecoder(benchmark::State &state)
{
    const QList<QByteArray> lines = base64Lines().split('\n');
    QByteArray out;
    for (auto _ : state) {
        mime::Base64Decoder decoder;
        out.clear();
        for (const QByteArray &line : lines)
            decoder.DecodeBase64Line(line, out);
        decoder.finish(out);
        benchmark::DoNotOptimize(out.data());
    }
    if (out.size() != kAttachmentBytes)
        state.SkipWithError("decoded to the wrong size");
    state.SetBytesProcessed(state.iterations() * kAttachmentBytes * 4 / 3);
}
BENCHMARK(Base64StreamDecoder)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
