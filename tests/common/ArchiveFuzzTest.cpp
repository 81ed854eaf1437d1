// Damaged input: thousands of truncated and mutated archives go through the
// member-list scan, extraction and the writer. Each gives a list, a clear error or
// a result, never a crash or a hang; the writer never turns a damaged archive into
// a worse one, and extraction leaves nothing but whole files behind.

#include "ArchiveTestSupport.h"

#include "common/ZipArchive.h"
#include "common/ZipFormat.h"
#include "common/ZipScan.h"
#include "common/ZipWriter.h"
#include "platform/Error.h"
#include "platform/ScriptedPrompts.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace archivetest;

namespace {

class ArchiveFuzzTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        QDir().mkpath(path("out"));
        const QString own = path("own.zip");
        zipwrite::addFiles(own,
                           {writeFile(path("src/text.txt"), sampleData(1500, 1)),
                            writeFile(path("src/empty"), QByteArray()),
                            writeFile(path("src/binary.bin"), QByteArray(300, '\x01'))},
                           9);
        zipwrite::addFiles(own, {writeFile(path("src/stored"), "stored data")}, 0);
        bases.append(readFile(own));

        const QString foreign = path("foreign.zip");
        ASSERT_TRUE(writeStreamedZip(foreign,
                                     "z.comment=b'an archive comment'\n"
                                     "z.writestr('dir/one.txt','one '*60)\n"
                                     "z.writestr('two.txt','two')\n"
                                     "with z.open('big.txt','w',force_zip64=True) as m: m.write(b'x'*500)\n"));
        bases.append(readFile(foreign));
    }

    QString path(const QString &rel) const { return tmp.path() + "/" + rel; }

    static bool opensWhole(const QString &archive)
    {
        int err = 0;
        zip_t *z = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
        if (z)
            zip_discard(z);
        return z != nullptr;
    }

    // Runs the scan, the component's read and extraction, and (when `write`) the
    // writer over `bytes`.
    void feed(const QByteArray &bytes, bool write)
    {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QList<ZipDirEntry> list;
        try {
            zipscan::scanLocalHeaders(buffer, 0, list);
        } catch (const platform::Error &e) {
            EXPECT_TRUE(e.message().contains("reading Zip")) << e.message().toStdString();
        }

        const QString archive = path("fuzz.zip");
        writeFile(archive, bytes);
        try {
            zip.setZipFilename(archive);
            zip.FSpecArgs.clear();
            zip.setExtrBaseDir(path("out"));
            zip.Extract();
        } catch (const platform::Error &e) {
            EXPECT_FALSE(e.message().isEmpty());
            ++errors;
        }
        QDir out(path("out"));
        const QStringList left = out.entryList(QDir::Files | QDir::Hidden);
        for (const QString &name : left) {
            EXPECT_FALSE(name.startsWith('.')) << "a temporary file was left: " << name.toStdString();
            out.remove(name);
        }
        EXPECT_TRUE(QDir(path("out/..")).exists());

        if (!write)
            return;
        const bool wasWhole = opensWhole(archive);
        try {
            zipwrite::addFiles(archive, {path("src/added")}, 9);
            // The new member is intact, and an archive that was whole stays whole;
            // damage elsewhere is kept as it was, not repaired.
            int err = 0;
            zip_t *z = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &err);
            EXPECT_NE(z, nullptr) << "libzip error " << err;
            if (z) {
                zip_file_t *f = zip_fopen(z, "added", 0);
                EXPECT_NE(f, nullptr);
                if (f) {
                    char buf[64] = {};
                    EXPECT_EQ(zip_fread(f, buf, sizeof buf), 5);
                    EXPECT_EQ(QByteArray(buf), QByteArray("added"));
                    zip_fclose(f);
                }
                zip_discard(z);
            }
            if (wasWhole) {
                EXPECT_TRUE(opensWhole(archive));
            }
            ++written;
        } catch (const platform::Error &e) {
            EXPECT_TRUE(e.message().startsWith("Cannot ")) << e.message().toStdString();
            EXPECT_EQ(readFile(archive), bytes) << "a refused change altered the file";
        }
    }

    QTemporaryDir tmp{memoryTempPattern()};
    platform::ScriptedPrompts prompts;
    TZipArchive zip;
    QList<QByteArray> bases;
    int errors = 0;
    int written = 0;
};

TEST_F(ArchiveFuzzTest, TruncatedArchives)
{
    writeFile(path("src/added"), "added");
    for (const QByteArray &base : bases) {
        for (qsizetype n = 0; n < base.size(); ++n)
            feed(base.left(n), n % 7 == 0);
    }
    EXPECT_GT(errors, 0);
    EXPECT_TRUE(prompts.recorded.isEmpty());
}

TEST_F(ArchiveFuzzTest, MutatedArchives)
{
    writeFile(path("src/added"), "added");
    QRandomGenerator random(20261207);
    for (int round = 0; round < 2400; ++round) {
        QByteArray bytes = bases[round % bases.size()];
        const int changes = 1 + int(random.bounded(4));
        for (int c = 0; c < changes; ++c) {
            const qsizetype at = random.bounded(int(bytes.size()));
            switch (random.bounded(4)) {
            case 0:   // one byte
                bytes[at] = char(random.bounded(256));
                break;
            case 1:   // a field set to an extreme
                for (int i = 0; i < 4 && at + i < bytes.size(); ++i)
                    bytes[at + i] = char(random.bounded(2) ? 0xFF : 0x00);
                break;
            case 2:   // bytes cut out
                bytes.remove(at, 1 + random.bounded(16));
                break;
            default:  // bytes put in
                bytes.insert(at, QByteArray(1 + int(random.bounded(16)), char(random.bounded(256))));
                break;
            }
        }
        feed(bytes, round % 3 == 0);
    }
    EXPECT_GT(errors, 0);
    EXPECT_GT(written, 0);
    EXPECT_TRUE(prompts.recorded.isEmpty());
}

} // namespace
