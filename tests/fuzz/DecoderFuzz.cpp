// libFuzzer target for the incoming message decoder: any bytes must decode without a
// crash or a hang, and every file the decoder writes must lie in its working directory.
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
    try {
        DecodeMessageStream(buffer, work, QStringLiteral("fuzz-uid"),
                            [](const QString &path, DecodedFileKind) {
                                if (!path.startsWith(work) || path.mid(work.size()).contains('/')) {
                                    std::fprintf(stderr, "file outside the work dir: %s\n",
                                                 qPrintable(path));
                                    std::abort();
                                }
                                QFile::remove(path);
                            });
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
