// What the fetch run's storing relies on for its speed: members added from memory,
// data that does not compress stored as it is, and small pieces of a decoded message
// kept in memory instead of becoming files.
#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
#include "platform/Error.h"
#include "platform/ScriptedPrompts.h"
#include "store/MessageDecoder.h"
#include "support/TempHome.h"

#include <QBuffer>
#include <QDir>
#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <zip.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

struct Member {
    QByteArray data;
    int method = -1;
};

// The archive as libzip reads it, member by member in order; an empty map when it
// does not open or a member fails its check.
QMap<QString, Member> readArchive(const QString &path, QStringList *order = nullptr)
{
    int error = 0;
    zip_t *z = zip_open(QFile::encodeName(path).constData(), ZIP_CHECKCONS | ZIP_RDONLY, &error);
    if (!z)
        return {};
    QMap<QString, Member> out;
    for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(z, zip_uint64_t(i), 0, &st);
        zip_file_t *f = zip_fopen_index(z, zip_uint64_t(i), 0);
        QByteArray data(qsizetype(st.size), Qt::Uninitialized);
        const bool ok = f && zip_fread(f, data.data(), st.size) == zip_int64_t(st.size);
        if (f)
            zip_fclose(f);
        if (!ok) {
            zip_close(z);
            return {};
        }
        out[QString::fromUtf8(st.name)] = {data, int(st.comp_method)};
        if (order)
            *order << QString::fromUtf8(st.name);
    }
    zip_close(z);
    return out;
}

QByteArray randomBytes(qsizetype n, quint32 seed)
{
    QByteArray b(n, Qt::Uninitialized);
    QRandomGenerator rng(seed);
    for (char &c : b)
        c = char(rng.bounded(256));
    return b;
}

QByteArray text(qsizetype n)
{
    QByteArray t;
    while (t.size() < n)
        t += "post fetch queue folder sticker inbox archive message\r\n";
    return t.left(n);
}

TEST(FetchStore, MembersFromMemoryAndFilesShareOneChange)
{
    testsupport::TempHome home;
    platform::ScriptedPrompts prompts;
    const QString archive = home.file("INBOX.att");
    TZipArchive zip;

    ASSERT_TRUE(writeFile(home.file("src/first"), "first as a file"));
    const QByteArray randomSmall = randomBytes(3000, 1);
    const QByteArray randomLarge = randomBytes(300 * 1024, 2);
    const QByteArray textLarge = text(300 * 1024);
    ASSERT_TRUE(writeFile(home.file("src/large.bin"), randomLarge));
    ASSERT_TRUE(writeFile(home.file("src/large.txt"), textLarge));

    zip.setZipFilename(archive);
    zip.AddMembers({zipwrite::MemberSource::file(home.file("src/first")),
                    zipwrite::MemberSource::bytes("record", text(600)),
                    zipwrite::MemberSource::bytes("../../escape", "a name from outside"),
                    zipwrite::MemberSource::bytes("small.bin", randomSmall),
                    zipwrite::MemberSource::file(home.file("src/large.bin")),
                    zipwrite::MemberSource::file(home.file("src/large.txt")),
                    zipwrite::MemberSource::bytes("empty", {})});
    EXPECT_EQ(zip.SuccessCount(), 7);
    EXPECT_EQ(zip.MemberList().size(), 7);

    QStringList order;
    QMap<QString, Member> m = readArchive(archive, &order);
    EXPECT_EQ(order, QStringList({"first", "record", "escape", "small.bin", "large.bin",
                                  "large.txt", "empty"}));
    EXPECT_EQ(m["first"].data, "first as a file");
    EXPECT_EQ(m["record"].data, text(600));
    // A name from outside becomes a bare member name, nothing else.
    EXPECT_EQ(m["escape"].data, "a name from outside");
    EXPECT_EQ(QDir(home.path()).entryList(QDir::Files), QStringList{"INBOX.att"});
    EXPECT_EQ(m["empty"].data, "");
    // Text is deflated; random bytes, small or large, are stored as they are.
    EXPECT_EQ(m["record"].method, ZIP_CM_DEFLATE);
    EXPECT_EQ(m["large.txt"].method, ZIP_CM_DEFLATE);
    EXPECT_EQ(m["large.txt"].data, textLarge);
    EXPECT_EQ(m["small.bin"].method, ZIP_CM_STORE);
    EXPECT_EQ(m["small.bin"].data, randomSmall);
    EXPECT_EQ(m["large.bin"].method, ZIP_CM_STORE);
    EXPECT_EQ(m["large.bin"].data, randomLarge);
    EXPECT_EQ(m["empty"].method, ZIP_CM_STORE);

    // Appending to it, and replacing a member from memory (a rewrite) keeps the rest.
    zip.AddMembers({zipwrite::MemberSource::bytes("later", text(70 * 1024))});
    zip.AddMembers({zipwrite::MemberSource::bytes("first", "first replaced"),
                    zipwrite::MemberSource::bytes("first", "the later one wins")});
    EXPECT_EQ(zip.SuccessCount(), 1);
    m = readArchive(archive);
    ASSERT_EQ(m.size(), 8);
    EXPECT_EQ(m["first"].data, "the later one wins");
    EXPECT_EQ(m["later"].data, text(70 * 1024));
    EXPECT_EQ(m["large.bin"].data, randomLarge);

    // Extraction through the component reads what was stored either way.
    const QString out = home.file("out/");
    QDir().mkpath(out);
    ExtractFile(zip, archive, "large.bin", out);
    ExtractFile(zip, archive, "later", out);
    EXPECT_EQ(readFile(out + "large.bin"), randomLarge);
    EXPECT_EQ(readFile(out + "later"), text(70 * 1024));
    EXPECT_EQ(prompts.recorded, QList<platform::RecordedPrompt>());
}

// Members made ready ahead (on the decoding thread) are written as they were made
// ready: compressed by the same rule, their check matching; one made ready for
// another level is compressed again.
TEST(FetchStore, MembersMadeReadyAheadAreWrittenAsPrepared)
{
    testsupport::TempHome home;
    platform::ScriptedPrompts prompts;
    const QString archive = home.file("INBOX.fdr");
    TZipArchive zip;
    zip.setZipFilename(archive);
    const QByteArray textLarge = text(200 * 1024), randomLarge = randomBytes(100 * 1024, 3);
    zipwrite::DataPreparer ahead(9), other(1);
    zip.AddMembers({zipwrite::MemberSource::ready("text", ahead.prepare(textLarge)),
                    zipwrite::MemberSource::ready("small", ahead.prepare(text(500))),
                    zipwrite::MemberSource::ready("random", ahead.prepare(randomLarge)),
                    zipwrite::MemberSource::ready("empty", ahead.prepare({}))});
    zip.setAddCompLevel(0);
    zip.AddMembers({zipwrite::MemberSource::ready("other", other.prepare(textLarge))});
    const QMap<QString, Member> m = readArchive(archive);
    ASSERT_EQ(m.size(), 5);
    EXPECT_EQ(m["text"].data, textLarge);
    EXPECT_EQ(m["text"].method, ZIP_CM_DEFLATE);
    EXPECT_EQ(m["small"].data, text(500));
    EXPECT_EQ(m["small"].method, ZIP_CM_DEFLATE);
    EXPECT_EQ(m["random"].data, randomLarge);
    EXPECT_EQ(m["random"].method, ZIP_CM_STORE);
    EXPECT_EQ(m["empty"].data, "");
    EXPECT_EQ(m["other"].data, textLarge);
    EXPECT_EQ(m["other"].method, ZIP_CM_STORE);
}

TEST(FetchStore, SmallPiecesOfAMessageStayInMemory)
{
    testsupport::TempHome home;
    // The line break before a boundary line belongs to the boundary, not to the part.
    const QByteArray big = text(kMaxPieceInMemory + 100);
    QByteArray raw = "Message-ID: <m@x>\r\nSubject: s\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                     "preamble\r\n--b\r\nContent-Type: text/plain\r\n\r\nshort body\r\n--b\r\n"
                     "Content-Type: application/octet-stream; name=\"big.txt\"\r\n\r\n"
                     + big + "\r\n--b\r\nContent-Type: application/octet-stream; name=\"small.txt\"\r\n\r\n"
                     "tiny\r\n--b--\r\n";
    const QString work = home.file("work/msg/");
    struct Seen {
        QString name;
        bool inMemory;
        QByteArray bytes;
    };
    QList<Seen> seen;
    auto sink = [&](DecodedPiece &p) {
        seen.append({p.name, p.inMemory(), p.inMemory() ? p.data : readFile(p.path)});
    };

    qint64 budget = 1024 * 1024;
    QBuffer buffer(&raw);
    buffer.open(QIODevice::ReadOnly);
    const DecodedMessage msg = DecodeMessagePieces(buffer, work, "uid", budget, sink);
    EXPECT_EQ(msg.identifier, "m@x");
    ASSERT_EQ(seen.size(), 3);
    EXPECT_EQ(seen[0].name, "m@x");
    EXPECT_TRUE(seen[0].inMemory);
    EXPECT_EQ(seen[0].bytes, "short body\r\n");
    EXPECT_EQ(seen[1].name, "big.txt");
    EXPECT_FALSE(seen[1].inMemory);
    EXPECT_EQ(seen[1].bytes, big);
    EXPECT_EQ(seen[2].name, "small.txt");
    EXPECT_TRUE(seen[2].inMemory);
    // What stays in memory is taken from the budget; the discarded preamble is given back.
    EXPECT_EQ(budget, 1024 * 1024 - qint64(strlen("short body\r\n") + strlen("tiny")));
    EXPECT_EQ(QDir(work).entryList(QDir::Files), QStringList{"big.txt"});

    // With the budget spent every piece is a file, created where it is asked for.
    seen.clear();
    budget = 0;
    QDir(home.file("work")).removeRecursively();
    buffer.seek(0);
    DecodeMessagePieces(buffer, work, "uid", budget, sink);
    ASSERT_EQ(seen.size(), 3);
    EXPECT_FALSE(seen[0].inMemory);
    EXPECT_EQ(seen[0].bytes, "short body\r\n");
    EXPECT_FALSE(seen[2].inMemory);
    EXPECT_EQ(QDir(work).entryList(QDir::Files), QStringList({"big.txt", "m@x", "small.txt"}));

    // Overdrawn and without a directory, nothing is written anywhere: it raises.
    seen.clear();
    budget = -1;
    const QString before = QDir::currentPath();
    QDir().mkpath(home.file("cwd"));
    QDir::setCurrent(home.file("cwd"));
    buffer.seek(0);
    EXPECT_THROW(DecodeMessagePieces(buffer, QString(), "uid", budget, sink), platform::Error);
    EXPECT_EQ(QDir().entryList(QDir::Files), QStringList());
    QDir::setCurrent(before);
    EXPECT_TRUE(seen.isEmpty());
}

} // namespace
