// libFuzzer target for the incoming message decoder: any bytes must decode without a
// crash or a hang, and every file the decoder writes must lie in its working directory.
// The first input byte chooses between pieces written to files and pieces kept in
// memory, so both ways of handing over a piece are exercised; the seeds cover nested
// multiparts, encoded text, charsets and HTML-only mail.
#include "store/MessageDecoder.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir root;
    static const QString work = root.path() + "/inbox/.quorvel-tmp/";
    static bool made = QDir().mkpath(work);
    if (!made)
        std::abort();

    QBuffer buffer;
    buffer.setData(reinterpret_cast<const char *>(data), qsizetype(size));
    buffer.open(QIODevice::ReadOnly);
    const bool inMemory = size > 0 && (data[0] & 1);
    try {
        auto check = [](const QString &path) {
            if (!path.startsWith(work) || path.mid(work.size()).contains('/')) {
                std::fprintf(stderr, "file outside the work dir: %s\n", qPrintable(path));
                std::abort();
            }
            QFile::remove(path);
        };
        if (inMemory) {
            // What the pieces handed over keep in memory is all the budget lost: a
            // piece the decoder dropped gave its share back.
            constexpr qint64 kBudget = 64 * 1024;
            qint64 budget = kBudget, kept = 0;
            DecodeMessagePieces(buffer, work, QStringLiteral("fuzz-uid"), budget,
                                [&](DecodedPiece &piece) {
                                    if (piece.inMemory())
                                        kept += piece.data.size();
                                    else
                                        check(piece.path);
                                });
            if (budget < 0 || budget + kept != kBudget) {
                std::fprintf(stderr, "memory budget %lld with %lld kept\n",
                             static_cast<long long>(budget), static_cast<long long>(kept));
                std::abort();
            }
        } else {
            DecodeMessageStream(buffer, work, QStringLiteral("fuzz-uid"),
                                [&](const QString &path, DecodedFileKind) { check(path); });
        }
    } catch (...) {
        // A file that cannot be written is reported by an exception: acceptable.
    }
    // Nothing may be left behind, in the work dir or beside it.
    const QStringList left = QDir(work).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    const QStringList beside = QDir(root.path() + "/inbox").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    if (!left.isEmpty() || beside != QStringList{".quorvel-tmp"}) {
        std::fprintf(stderr, "files left: %s | %s\n", qPrintable(left.join(',')), qPrintable(beside.join(',')));
        std::abort();
    }
    return 0;
}
