// Archives past the limits of the plain end record: more than 65535 members, and
// members beyond 4 GB into the file (a sparse file, so the test stays small).

#include "ArchiveTestSupport.h"

#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
#include "common/ZipFormat.h"
#include "common/ZipIo.h"
#include "common/ZipWriter.h"
#include "platform/ScriptedPrompts.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <zlib.h>

using namespace archivetest;

namespace {

// The bytes of a stored member `name` with `data` at `offset`, and its directory entry.
QByteArray member(qint64 offset, const QByteArray &name, const QByteArray &data,
                  QList<zipfmt::CentralEntry> &entries)
{
    zipfmt::CentralEntry e;
    e.madeBy = (3 << 8) | 20;
    e.versionNeeded = 10;
    e.modDate = (45 << 9) | (1 << 5) | 1;
    e.crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
    e.compressedSize = e.uncompressedSize = quint64(data.size());
    e.externalAttributes = 0100644u << 16;
    e.localOffset = quint64(offset);
    e.name = name;
    entries.append(e);
    return zipfmt::encodeLocalHeader(e) + data;
}

// Python reads the directory, each of the last members, and the added one.
const char kReadBack[] = "import sys,zipfile\n"
                         "z=zipfile.ZipFile(sys.argv[1])\n"
                         "infos=z.infolist()\n"
                         "assert len(infos)==int(sys.argv[2]), len(infos)\n"
                         "for i in infos[-3:]: z.read(i)\n"
                         "assert infos[-1].filename==sys.argv[3]\n"
                         "assert z.read(infos[-1])==b'added'\n";

TEST(ArchiveZip64, MoreMembersThanThePlainEndRecordCounts)
{
    QTemporaryDir tmp(memoryTempPattern());
    platform::ScriptedPrompts prompts;
    const QString archive = tmp.path() + "/many.zip";
    {
        QList<zipfmt::CentralEntry> entries;
        QByteArray bytes;
        for (int i = 0; i < 70000; ++i)
            bytes += member(bytes.size(), QByteArray::number(i).rightJustified(6, '0'), {}, entries);
        writeFile(archive, bytes + zipfmt::encodeCentralDirectory(entries, quint64(bytes.size()), {}));
    }
    TZipArchive zip;
    zip.setZipFilename(archive);
    EXPECT_EQ(zip.MemberList().size(), 70000);
    ASSERT_TRUE(AddToArchive(zip, archive, writeFile(tmp.path() + "/added", "added")));
    EXPECT_EQ(zip.MemberList().size(), 70001);
    EXPECT_TRUE(runPython(kReadBack, {archive, "70001", "added"}));
    const Contents c = readWithLibzip(archive);
    EXPECT_TRUE(c.ok);
    EXPECT_EQ(c.order.size(), 70001);
}

TEST(ArchiveZip64, MembersBeyondFourGigabytes)
{
    QTemporaryDir tmp;
    platform::ScriptedPrompts prompts;
    const QString archive = tmp.path() + "/far.zip";
    const qint64 far = 5LL << 30;
    {
        zipio::Fd fd = zipio::openFile(archive, O_RDWR | O_CREAT, 0644);
        QList<zipfmt::CentralEntry> entries;
        zipio::writeAt(fd.get(), 0, member(0, "near", "near data", entries));
        zipio::writeAt(fd.get(), far, member(far, "far", "far data", entries));
        const qint64 end = far + zipfmt::kLocalHeaderSize + 3 + 8;
        zipio::writeAt(fd.get(), end, zipfmt::encodeCentralDirectory(entries, quint64(end), {}));
        const zipfmt::CentralDirectory cd =
            zipfmt::readCentralDirectory(fd.get(), end + zipfmt::encodeCentralDirectory(entries, quint64(end), {}).size());
        ASSERT_EQ(cd.entries.size(), 2);
        EXPECT_EQ(cd.entries[1].localOffset, quint64(far));
        EXPECT_EQ(cd.offset, quint64(end));
    }
    // An append past 4 GB, read back by others.
    EXPECT_EQ(zipwrite::addFiles(archive, {writeFile(tmp.path() + "/added", "added")}, 9), 1);
    const Contents c = readWithLibzip(archive);
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.order, (QStringList{"near", "far", "added"}));
    EXPECT_EQ(c.members.value("far"), QByteArray("far data"));
    EXPECT_TRUE(runPython(kReadBack, {archive, "3", "added"}));

    // A rewrite that leaves the gap out brings the offsets back below 4 GB.
    EXPECT_EQ(zipwrite::deleteMembers(archive, {"near"}), 1);
    EXPECT_LT(QFileInfo(archive).size(), 4096);
    EXPECT_EQ(readWithLibzip(archive).order, (QStringList{"far", "added"}));
}

} // namespace
