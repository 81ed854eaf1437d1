// The member-list scan over local headers: its search limits, and how it breaks off.

#include "ArchiveTestSupport.h"

#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
#include "common/ZipFormat.h"
#include "common/ZipScan.h"
#include "platform/Error.h"
#include "platform/ScriptedPrompts.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <gtest/gtest.h>

using namespace archivetest;

namespace {

// A local header for `name` with `size` bytes of stored data after it.
QByteArray localMember(const QByteArray &name, const QByteArray &data)
{
    zipfmt::CentralEntry e;
    e.versionNeeded = 10;
    e.name = name;
    e.compressedSize = e.uncompressedSize = quint64(data.size());
    return zipfmt::encodeLocalHeader(e) + data;
}

QByteArray tailRecords()
{
    QByteArray t;
    zipfmt::put32(t, zipfmt::kCentralHeaderSig);
    t.append(QByteArray(42, '\0'));
    return t + zipfmt::emptyArchive();
}

struct Scan {
    QStringList names;
    QString error;
};

Scan scanWith(const QByteArray &bytes, qint64 start, bool file)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QTemporaryFile temp;
    if (file) {
        temp.open();
        temp.write(bytes);
        temp.flush();
    }
    QList<ZipDirEntry> list;
    Scan s;
    try {
        if (file)
            zipscan::scanLocalHeaders(temp.handle(), start, list);
        else
            zipscan::scanLocalHeaders(buffer, start, list);
    } catch (const platform::Error &e) {
        s.error = e.message();
    }
    for (const ZipDirEntry &e : list)
        s.names.append(e.fileName);
    return s;
}

// The scan over a device and over a file read in blocks must agree.
Scan scan(const QByteArray &bytes, qint64 start = 0)
{
    const Scan device = scanWith(bytes, start, false);
    const Scan file = scanWith(bytes, start, true);
    EXPECT_EQ(device.names, file.names);
    EXPECT_EQ(device.error, file.error);
    return device;
}

// A device whose seeks go wrong after a number of them, as a file that shrinks
// under the reader would.
class FailingSeeks : public QBuffer {
public:
    explicit FailingSeeks(int goodSeeks) : good_(goodSeeks) {}
    bool seek(qint64 pos) override { return good_-- > 0 && QBuffer::seek(pos); }

private:
    int good_;
};

TEST(ArchiveScan, FindsMembersAfterLeadingBytesWithinTheLimit)
{
    const QByteArray members = localMember("a", "AAAA") + localMember("b", "BB");
    EXPECT_EQ(scan(members + tailRecords()).names, (QStringList{"a", "b"}));

    // The signature's last byte may be the 60000th byte read, not the 60001st.
    EXPECT_EQ(scan(QByteArray(59996, 'x') + members + tailRecords()).names,
              (QStringList{"a", "b"}));
    EXPECT_EQ(scan(QByteArray(59997, 'x') + members + tailRecords()).names, QStringList());
    EXPECT_EQ(scan(QByteArray(60000, 'x') + members + tailRecords()).names, QStringList());

    // A self-extractor: the count starts at byte 14000.
    const QByteArray exe = QByteArray(14000 + 59996, 'x') + members + tailRecords();
    EXPECT_EQ(scan(exe, zipscan::kExeStart).names, (QStringList{"a", "b"}));
    EXPECT_EQ(scan(QByteArray(1, 'x') + exe, zipscan::kExeStart).names, QStringList());
    EXPECT_EQ(scan(exe).names, QStringList());

    // A byte that breaks the signature is not looked at again as its start.
    EXPECT_EQ(scan("P" + members + tailRecords()).names, QStringList{"b"});
    EXPECT_EQ(scan("Q" + members + tailRecords()).names, (QStringList{"a", "b"}));

    // Headers that straddle the blocks a file is read in.
    QByteArray many;
    QStringList manyNames;
    for (int i = 0; i < 300; ++i) {
        manyNames.append(QString("member-%1").arg(i));
        many += localMember(manyNames.back().toLatin1(), QByteArray(2000 + i, char(i)));
    }
    EXPECT_EQ(scan(many + tailRecords()).names, manyNames);

    // Unknown signatures between members are passed over four bytes at a time.
    EXPECT_EQ(scan(localMember("a", "AAAA") + "PK\7\10" + localMember("b", "") + tailRecords())
                  .names,
              (QStringList{"a", "b"}));
}

TEST(ArchiveScan, TextAndShortFilesGiveAnEmptyList)
{
    const Scan text = scan("This is no archive, only text.\r\n");
    EXPECT_TRUE(text.names.isEmpty());
    EXPECT_TRUE(text.error.isEmpty());
    EXPECT_TRUE(scan(QByteArray()).names.isEmpty());
    // A header cut short before any member was listed: back to searching.
    const Scan cut = scan(localMember("abc", "data").left(20));
    EXPECT_TRUE(cut.names.isEmpty());
    EXPECT_TRUE(cut.error.isEmpty());
    // Data that would reach into the last 22 bytes: skipped while the list is empty.
    const Scan over = scan(localMember("big", QByteArray(10, 'd')) + QByteArray(21, 'z'));
    EXPECT_TRUE(over.names.isEmpty());
    EXPECT_TRUE(over.error.isEmpty());
}

TEST(ArchiveScan, ArchivesThatBreakOffRaiseTheirErrors)
{
    const QByteArray first = localMember("first", "1111");
    const QByteArray second = localMember("second", "2222");

    Scan s = scan(first + localMember(QByteArray(40, 'n'), "2222").left(40));
    EXPECT_EQ(s.error, "Error 2 reading Zip file");
    EXPECT_EQ(s.names, QStringList{"first"});

    s = scan(first + second + QByteArray(10, 'z'));
    EXPECT_EQ(s.error, "Error 3 reading Zip file");
    EXPECT_EQ(s.names, QStringList{"first"});

    s = scan(first + second + QByteArray(24, 'z') + "PK");
    EXPECT_EQ(s.error, "Error reading Zip File");
    EXPECT_EQ(s.names, (QStringList{"first", "second"}));

    const QByteArray whole = first + second + tailRecords();
    for (int goodSeeks : {1, 2}) {
        FailingSeeks device(goodSeeks);
        device.setData(whole);
        device.open(QIODevice::ReadOnly);
        QList<ZipDirEntry> list;
        try {
            zipscan::scanLocalHeaders(device, 0, list);
            ADD_FAILURE() << "no error";
        } catch (const platform::Error &e) {
            EXPECT_EQ(e.message(), goodSeeks == 1 ? "Error 4 reading Zip file"
                                                  : "Error 5 reading Zip file");
        }
    }
}

TEST(ArchiveScan, ComponentReportsEveryReadAndRaisesBreaks)
{
    QTemporaryDir tmp;
    platform::ScriptedPrompts prompts;
    TZipArchive zip;
    int updates = 0;
    zip.OnDirUpdate = [&](TZipArchive *sender) {
        EXPECT_EQ(sender, &zip);
        ++updates;
    };
    zip.setZipFilename(tmp.path() + "/none.zip");
    EXPECT_EQ(updates, 1);
    EXPECT_TRUE(zip.MemberList().isEmpty());

    const QString broken = writeFile(tmp.path() + "/broken.hdr",
                                     localMember("first", "1111") + localMember("second", "2"));
    try {
        zip.setZipFilename(broken);
        ADD_FAILURE() << "no error";
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.message(), "Error 3 reading Zip file");
    }
    EXPECT_EQ(updates, 2);
    EXPECT_EQ(zip.ZipFilename(), broken);
    ASSERT_EQ(zip.MemberList().size(), 1);
    EXPECT_EQ(zip.MemberList()[0].fileName, "first");
    // AddToArchive turns the raised error into false and changes nothing.
    const QByteArray before = readFile(broken);
    EXPECT_FALSE(AddToArchive(zip, broken, writeFile(tmp.path() + "/x", "x")));
    EXPECT_EQ(readFile(broken), before);

    // An ".EXE" is read from byte 14000 on.
    const QString exe = writeFile(tmp.path() + "/setup.exe", QByteArray(13990, 'x')
                                      + localMember("early", "e") + QByteArray(100, 'x')
                                      + localMember("late", "l") + tailRecords());
    zip.setZipFilename(exe);
    ASSERT_EQ(zip.MemberList().size(), 1);
    EXPECT_EQ(zip.MemberList()[0].fileName, "late");
    EXPECT_TRUE(prompts.recorded.isEmpty());
}

} // namespace
