// The archive component and the program-level operations: adding, replacing,
// deleting and extracting members, the messages of the checks, and the errors.

#include "ArchiveTestSupport.h"

#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
#include "common/ZipJournal.h"
#include "common/ZipReader.h"
#include "common/ZipWriter.h"
#include "platform/Error.h"
#include "platform/ScriptedPrompts.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace archivetest;
using platform::PromptKind;
using platform::RecordedPrompt;

namespace {

QStringList names(const TZipArchive &zip)
{
    QStringList out;
    for (const ZipDirEntry &e : zip.MemberList())
        out.append(e.fileName);
    return out;
}

class ZipArchiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        QDir().mkpath(path("src/deep"));
        QDir().mkpath(path("out"));
    }
    QString path(const QString &rel) const { return tmp.path() + "/" + rel; }
    QString source(const QString &rel, const QByteArray &data)
    {
        return writeFile(path("src/" + rel), data);
    }

    QTemporaryDir tmp;
    platform::ScriptedPrompts prompts;
    TZipArchive zip;
};

TEST_F(ZipArchiveTest, AddCreatesUnderBareNameAndReplacesSameName)
{
    const QString archive = path("INBOX.att");
    const QString file = source("deep/notes.txt", sampleData(5000, 1));
    ZipFile(zip, archive, file);

    EXPECT_EQ(names(zip), QStringList{"notes.txt"});
    EXPECT_EQ(zip.SuccessCount(), 1);
    EXPECT_TRUE(zip.FSpecArgs.isEmpty());
    ASSERT_EQ(zip.MemberList().size(), 1);
    EXPECT_EQ(zip.MemberList()[0].compressionMethod, 8);
    EXPECT_LT(zip.MemberList()[0].compressedSize, 5000u);
    EXPECT_EQ(zip.MemberList()[0].uncompressedSize, 5000u);
    EXPECT_TRUE(QFileInfo::exists(file)) << "the source stays where it is";

    writeFile(file, "changed");
    ASSERT_TRUE(AddToArchive(zip, archive, file));
    EXPECT_EQ(names(zip), QStringList{"notes.txt"});
    const Contents c = readWithLibzip(archive);
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.members.value("notes.txt"), QByteArray("changed"));
    QString why;
    EXPECT_TRUE(outsideReadersAccept(archive, &why)) << why.toStdString();
    EXPECT_TRUE(prompts.recorded.isEmpty());
}

TEST_F(ZipArchiveTest, NewNamesAreAppendedInOrderWithConsistentHeaders)
{
    const QString archive = path("READ.fdr");
    QMap<QString, QByteArray> expected;
    for (int i = 0; i < 12; ++i) {
        const QByteArray data = sampleData(100 + i * 700, i);
        const QString name = QString("mail%1").arg(i);
        expected.insert(name, data);
        ASSERT_TRUE(AddToArchive(zip, archive, source(name, data)));
    }
    // A replacement in the middle keeps the member's place.
    expected["mail5"] = "fifth again";
    ASSERT_TRUE(AddToArchive(zip, archive, source("mail5", "fifth again")));
    // Two new names in one Add, one of them given twice: the later file wins.
    zip.FSpecArgs = {source("x/extra", "first"), source("more", "m"), source("y/extra", "second")};
    zip.Add();
    EXPECT_EQ(zip.SuccessCount(), 2);
    expected["extra"] = "second";
    expected["more"] = "m";

    const Contents c = readWithLibzip(archive);
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.members, expected);
    EXPECT_EQ(names(zip), c.order);
    EXPECT_EQ(c.order.indexOf("mail5"), 5);
    // The local headers the member list reads carry the sizes the directory has.
    int err = 0;
    zip_t *z = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &err);
    ASSERT_NE(z, nullptr);
    for (const ZipDirEntry &e : zip.MemberList()) {
        zip_stat_t st;
        ASSERT_EQ(zip_stat(z, e.fileName.toUtf8().constData(), 0, &st), 0);
        EXPECT_EQ(e.compressedSize, st.comp_size) << e.fileName.toStdString();
        EXPECT_EQ(e.crc32, st.crc);
        EXPECT_EQ(e.flags & 8, 0) << "no data descriptors";
    }
    zip_discard(z);
    QString why;
    EXPECT_TRUE(outsideReadersAccept(archive, &why)) << why.toStdString();
}

TEST_F(ZipArchiveTest, ExtractNeverOverwritesAndExtractsAllForEmptyList)
{
    const QString archive = path("SENT.att");
    zip.FSpecArgs = {source("a.txt", "A"), source("b.txt", "B"), source("c.txt", "C")};
    zip.setZipFilename(archive);
    zip.Add();
    // Also where the file system has no rename that refuses to replace a file.
    for (const QString &out : {path("out"), path("out-fat")}) {
        QDir().mkpath(out);
        zipread::refuseNoReplaceRenameForTesting(out.endsWith("fat"));
        writeFile(out + "/b.txt", "mine");

        ASSERT_TRUE(ExtractFromArchive(zip, archive, "b.txt", out));
        EXPECT_EQ(readFile(out + "/b.txt"), QByteArray("mine"));
        EXPECT_EQ(zip.SuccessCount(), 0);
        EXPECT_TRUE(zip.FSpecArgs.isEmpty());

        // c.txt appears while its member is being extracted.
        zip.OnProgress = [&](TZipArchive *, const QString &name, qint64) {
            if (name == "c.txt")
                writeFile(out + "/c.txt", "late");
        };
        zip.FSpecArgs.clear();
        zip.setExtrBaseDir(out);
        zip.Extract();
        zip.OnProgress = nullptr;
        EXPECT_EQ(zip.SuccessCount(), 1);
        EXPECT_EQ(readFile(out + "/a.txt"), QByteArray("A"));
        EXPECT_EQ(readFile(out + "/b.txt"), QByteArray("mine"));
        EXPECT_EQ(readFile(out + "/c.txt"), QByteArray("late"));
        EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 3)
            << "no temporary file is left behind";
        zipread::refuseNoReplaceRenameForTesting(false);
    }

    // A member that is not there extracts nothing and is no error.
    ExtractFile(zip, archive, "nothere.txt", path("out"));
    EXPECT_EQ(zip.SuccessCount(), 0);
    EXPECT_TRUE(prompts.recorded.isEmpty());
}

TEST_F(ZipArchiveTest, MembersWithDirectoriesLandUnderTheirBareNameOnly)
{
    const QString archive = path("foreign.zip");
    ASSERT_TRUE(runPython("import sys,zipfile\n"
                          "z=zipfile.ZipFile(sys.argv[1],'w')\n"
                          "z.writestr('../../evil.txt','e')\n"
                          "z.writestr('/abs/root.txt','r')\n"
                          "z.writestr('sub/dir/x.txt','x')\n"
                          "z.writestr('sub/','')\n"
                          "z.writestr('..','dots')\n"
                          "z.writestr('-rf','dash')\n"
                          "z.close()\n",
                          {archive}));
    QDir().mkpath(path("out/inner"));
    zip.setZipFilename(archive);
    zip.FSpecArgs.clear();
    zip.setExtrBaseDir(path("out/inner"));
    zip.Extract();
    QStringList got = QDir(path("out/inner")).entryList(QDir::Files | QDir::Hidden);
    got.sort();
    EXPECT_EQ(got, (QStringList{"__", "_rf", "evil.txt", "root.txt", "x.txt"}));
    EXPECT_EQ(QDir(path("out")).entryList(QDir::Files | QDir::Hidden), QStringList());
    EXPECT_FALSE(QFileInfo::exists(tmp.path() + "/evil.txt"));

    // Members are named by their stored name or by their bare name.
    QDir(path("out/inner")).removeRecursively();
    QDir().mkpath(path("out/inner"));
    ExtractFile(zip, archive, "x.txt", path("out/inner"));
    ExtractFile(zip, archive, "../../evil.txt", path("out/inner"));
    EXPECT_EQ(QDir(path("out/inner")).entryList(QDir::Files).size(), 2);
}

TEST_F(ZipArchiveTest, ChecksShowTheirMessagesAndLeaveTheSpecificationsAlone)
{
    zip.Add();
    zip.FSpecArgs = {"x"};
    zip.Add();
    zip.Delete();   // the archive named (none) does not exist
    zip.FSpecArgs.clear();
    zip.setZipFilename(path("missing.hdr"));
    zip.Delete();
    zip.FSpecArgs = {"member"};
    zip.Extract();
    EXPECT_EQ(prompts.texts(PromptKind::Plain),
              (QStringList{"Error - no files to zip", "Error - no zip file specified",
                           "Error - no zip file specified",
                           "Error - no files selected for deletion",
                           "Error - no zip file specified"}));
    EXPECT_EQ(zip.FSpecArgs, QStringList{"member"});
    EXPECT_TRUE(zip.MemberList().isEmpty());

    prompts.clear();
    EXPECT_FALSE(ExtractFromArchive(zip, path("missing.hdr"), "a", path("out")));
    EXPECT_FALSE(DeleteFromArchive(zip, path("missing.hdr"), "a"));
    const QString missing = "File " + path("missing.hdr") + " is missing";
    EXPECT_EQ(prompts.recorded, (QList<RecordedPrompt>{{PromptKind::Information, missing},
                                                       {PromptKind::Information, missing}}));
    EXPECT_FALSE(QFileInfo::exists(path("missing.hdr")));
}

TEST_F(ZipArchiveTest, ExtractRefusesADirectoryThatIsNotThere)
{
    const QString archive = path("x.att");
    ZipFile(zip, archive, source("a.txt", "A"));
    const QString cwd = QDir::currentPath();
    zip.FSpecArgs = {"a.txt"};
    zip.setExtrBaseDir(path("nowhere"));
    zip.Extract();
    zip.setExtrBaseDir(QString());
    zip.Extract();
    EXPECT_EQ(prompts.texts(PromptKind::Plain),
              (QStringList{"Error - extract directory " + path("nowhere") + " does not exist",
                           "Error - no extract directory specified"}));
    EXPECT_EQ(zip.FSpecArgs, QStringList{"a.txt"});
    EXPECT_EQ(QDir::currentPath(), cwd);
    EXPECT_FALSE(QFileInfo::exists(cwd + "/a.txt"));
}

TEST_F(ZipArchiveTest, DeletingTheLastMemberLeavesAnEmptyValidArchive)
{
    const QString archive = path("TRASH.fdr");
    zip.FSpecArgs = {source("one", "1"), source("two", "2")};
    zip.setZipFilename(archive);
    zip.Add();
    ASSERT_TRUE(DeleteFromArchive(zip, archive, "one"));
    EXPECT_EQ(zip.SuccessCount(), 1);
    EXPECT_EQ(names(zip), QStringList{"two"});
    ASSERT_TRUE(DeleteFromArchive(zip, archive, "two"));
    EXPECT_TRUE(zip.MemberList().isEmpty());
    EXPECT_TRUE(zip.FSpecArgs.isEmpty());
    ASSERT_TRUE(QFileInfo::exists(archive));
    EXPECT_EQ(QFileInfo(archive).size(), 22);
    const Contents c = readWithLibzip(archive);
    EXPECT_TRUE(c.ok);
    EXPECT_TRUE(c.members.isEmpty());

    // The folder's archive is still there for later operations.
    EXPECT_TRUE(ExtractFromArchive(zip, archive, "two", path("out")));
    EXPECT_TRUE(DeleteFromArchive(zip, archive, "two"));
    EXPECT_EQ(zip.SuccessCount(), 0);
    ASSERT_TRUE(AddToArchive(zip, archive, source("three", "3")));
    EXPECT_EQ(names(zip), QStringList{"three"});
    EXPECT_TRUE(prompts.recorded.isEmpty());
    QString why;
    EXPECT_TRUE(outsideReadersAccept(archive, &why)) << why.toStdString();
}

TEST_F(ZipArchiveTest, DeletionLeavesUnnamedSpaceUntilAQuarterThenCompacts)
{
    const QString archive = path("INBOX.att");
    QMap<QString, QByteArray> kept;
    for (int i = 0; i < 8; ++i) {
        const QString name = QString("m%1.bin").arg(i);
        kept.insert(name, sampleData(200000, i));
        ASSERT_TRUE(AddToArchive(zip, archive, source(name, kept[name])));
    }
    const qint64 full = QFileInfo(archive).size();
    const auto expectExactly = [&](const std::string &what) {
        zip.setZipFilename(archive);
        QStringList listed = names(zip);
        listed.sort();
        EXPECT_EQ(listed, QStringList(kept.keys())) << what;
        const Contents c = readWithLibzip(archive);
        EXPECT_TRUE(c.ok) << what;
        EXPECT_EQ(c.members, kept) << what;
        QString why;
        EXPECT_TRUE(outsideReadersAccept(archive, &why)) << what << why.toStdString();
        for (const QString &name : kept.keys()) {
            QByteArray got;
            zipread::readMembers(archive, {}, 1 << 20, [&](const QString &n, const QByteArray &d) {
                if (n == name)
                    got = d;
            });
            EXPECT_EQ(got, kept[name]) << what << " " << name.toStdString();
        }
    };

    // A middle member and the last one: their bytes stay, no header names them.
    for (const QString name : {"m3.bin", "m7.bin"}) {
        ASSERT_TRUE(DeleteFromArchive(zip, archive, name));
        kept.remove(name);
    }
    EXPECT_GT(QFileInfo(archive).size(), full * 3 / 4);
    expectExactly("in place");
    // A name deleted in place can come back.
    kept.insert("m3.bin", "again");
    ASSERT_TRUE(AddToArchive(zip, archive, source("m3.bin", "again")));
    expectExactly("added again");

    // The third deletion passes a quarter of unused space: the archive is rewritten.
    ASSERT_TRUE(DeleteFromArchive(zip, archive, "m0.bin"));
    kept.remove("m0.bin");
    EXPECT_LT(QFileInfo(archive).size(), full * 3 / 4);
    expectExactly("compacted");
    EXPECT_TRUE(prompts.recorded.isEmpty());
}

TEST_F(ZipArchiveTest, FailuresRaiseClearErrorsAndLoseNothing)
{
    const QString archive = path("INBOX.hdr");
    ZipFile(zip, archive, source("kept", "kept"));
    const QByteArray before = readFile(archive);

    // A source that is not there.
    zip.FSpecArgs = {path("src/gone.txt")};
    try {
        zip.Add();
        ADD_FAILURE() << "no error";
    } catch (const platform::Error &e) {
        EXPECT_TRUE(e.message().startsWith("Cannot add " + path("src/gone.txt") + " to "))
            << e.message().toStdString();
    }
    EXPECT_TRUE(zip.FSpecArgs.isEmpty());
    EXPECT_FALSE(zip.AddBusy());
    EXPECT_FALSE(AddToArchive(zip, archive, path("src")));   // a directory
    EXPECT_EQ(readFile(archive), before);

    // A file that is not an archive is never overwritten.
    const QString text = writeFile(path("notes.fdr"), "just some text, not a zip file");
    EXPECT_FALSE(AddToArchive(zip, text, source("x", "x")));
    EXPECT_EQ(readFile(text), QByteArray("just some text, not a zip file"));
    EXPECT_THROW(DeleteFromArchive(zip, text, "x"), platform::Error);
    EXPECT_EQ(readFile(text), QByteArray("just some text, not a zip file"));
    EXPECT_THROW(ExtractFile(zip, text, "x", path("out")), platform::Error);
    EXPECT_TRUE(QDir(path("out")).isEmpty(QDir::Files | QDir::Hidden));

    // The archive itself cannot become its own member.
    EXPECT_FALSE(AddToArchive(zip, archive, archive));
    EXPECT_EQ(readFile(archive), before);
    EXPECT_TRUE(prompts.recorded.isEmpty());
    QStringList left = QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden);
    left.sort();
    EXPECT_EQ(left, (QStringList{"INBOX.hdr", "notes.fdr"})) << "no temporary file is left";
}

TEST_F(ZipArchiveTest, DamagedMemberDataIsReportedAndOtherMembersStillExtract)
{
    const QString archive = path("bad.att");
    zip.FSpecArgs = {source("first", sampleData(3000, 7)), source("second", "second")};
    zip.setZipFilename(archive);
    zip.Add();
    ASSERT_EQ(zip.MemberList().size(), 2);
    QByteArray bytes = readFile(archive);
    // Flip a byte inside the first member's compressed data.
    const int dataStart = 30 + 5 + 10;
    bytes[dataStart] = char(bytes[dataStart] ^ 0x55);
    writeFile(archive, bytes);

    zip.FSpecArgs.clear();
    zip.setExtrBaseDir(path("out"));
    try {
        zip.Extract();
        ADD_FAILURE() << "no error";
    } catch (const platform::Error &e) {
        EXPECT_TRUE(e.message().startsWith("Cannot extract first from " + archive))
            << e.message().toStdString();
    }
    EXPECT_EQ(QDir(path("out")).entryList(QDir::Files | QDir::Hidden), QStringList{"second"});
    EXPECT_FALSE(zip.ExtractBusy());
}

TEST_F(ZipArchiveTest, BusyFlagsKeepASecondOperationOut)
{
    const QString archive = path("busy.zip");
    ZipFile(zip, archive, source("a", "a"));
    int inner = -1;
    zip.OnProgress = [&](TZipArchive *sender, const QString &, qint64) {
        EXPECT_EQ(sender, &zip);
        if (inner >= 0)
            return;
        EXPECT_TRUE(zip.AddBusy());
        const QStringList outer = zip.FSpecArgs;
        zip.FSpecArgs = {source("b", "b")};
        zip.Add();
        inner = zip.SuccessCount();
        EXPECT_EQ(zip.FSpecArgs, QStringList{path("src/b")});
        zip.FSpecArgs = outer;
    };
    zip.FSpecArgs = {source("c", "c")};
    zip.Add();
    EXPECT_EQ(inner, 0);
    EXPECT_EQ(names(zip), (QStringList{"a", "c"}));

    inner = -1;
    zip.OnProgress = [&](TZipArchive *, const QString &, qint64) {
        if (inner >= 0)
            return;
        EXPECT_TRUE(zip.ExtractBusy());
        zip.FSpecArgs = {"c"};
        zip.Extract();
        inner = zip.SuccessCount();
    };
    ExtractFile(zip, archive, "a", path("out"));
    EXPECT_EQ(inner, 0);
    EXPECT_EQ(QDir(path("out")).entryList(QDir::Files), QStringList{"a"});
    EXPECT_FALSE(zip.ExtractBusy());
}

TEST_F(ZipArchiveTest, ArchivePathsAreMatchedWithoutRegardToCase)
{
    ZipFile(zip, path("inbox.hdr"), source("___.___", "placeholder"));
    ASSERT_TRUE(AddToArchive(zip, path("INBOX.hdr"), source("m1", "record")));
    EXPECT_EQ(names(zip), (QStringList{"___.___", "m1"}));
    EXPECT_EQ(QDir(tmp.path()).entryList({"*.hdr", "*.HDR"}, QDir::Files),
              QStringList{"inbox.hdr"});
    EXPECT_TRUE(ExtractFromArchive(zip, path("Inbox.HDR"), "m1", path("out")));
    EXPECT_EQ(readFile(path("out/m1")), QByteArray("record"));
}

TEST_F(ZipArchiveTest, ForeignArchivesWithDescriptorsAreNormalisedOnChange)
{
    // Python writes data descriptors and zero sizes in local headers to a pipe.
    const QString archive = path("stream.zip");
    ASSERT_TRUE(writeStreamedZip(archive, "z.writestr('one.txt','one '*100)\n"
                                          "z.writestr('two.txt','two '*100)\n"));
    // Their local headers carry no sizes, so the member list is read only once the
    // writer has given every member its sizes.
    EXPECT_EQ(zipwrite::addFiles(archive, {source("three.txt", "three")}, 9), 1);
    zip.setZipFilename(archive);
    EXPECT_EQ(names(zip), (QStringList{"one.txt", "two.txt", "three.txt"}));
    ASSERT_TRUE(DeleteFromArchive(zip, archive, "one.txt"));
    EXPECT_EQ(names(zip), (QStringList{"two.txt", "three.txt"}));
    for (const ZipDirEntry &e : zip.MemberList())
        EXPECT_EQ(e.flags & 8, 0);
    const Contents c = readWithLibzip(archive);
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.members.value("two.txt"), QByteArray("two ").repeated(100));
    QString why;
    EXPECT_TRUE(outsideReadersAccept(archive, &why)) << why.toStdString();
}

TEST_F(ZipArchiveTest, AStoreCommandSyncsOnceAsItEnds)
{
    const QString archive = path("INBOX.fdr");
    const QString journal = zipjournal::journalPath(archive);
    {
        StoreCommand command;
        ZipFile(zip, archive, source("a", "a"));
        ZipFile(zip, archive, source("b", "b"));   // an append: the batch journal appears
        {
            StoreCommand inner;
            ZipFile(zip, archive, source("c", "c"));
            inner.finish();
        }
        EXPECT_TRUE(QFileInfo::exists(journal)) << "an inner command synced";
        command.finish();
        EXPECT_FALSE(QFileInfo::exists(journal));
    }
    {
        // A command that ends early still syncs.
        StoreCommand command;
        ZipFile(zip, archive, source("d", "d"));
        EXPECT_TRUE(QFileInfo::exists(journal));
    }
    EXPECT_FALSE(QFileInfo::exists(journal));

    // A sync that fails is raised and keeps the journal; the next one completes.
    const QString aside = path("aside");
    {
        StoreCommand command;
        ZipFile(zip, archive, source("e", "e"));
        ASSERT_TRUE(QFile::rename(archive, aside));
        ASSERT_TRUE(QFile::link(archive, archive));   // opening it loops
        QString error;
        try {
            command.finish();
        } catch (const platform::Error &e) {
            error = e.message();
        }
        EXPECT_TRUE(error.startsWith("Cannot save changes to " + archive + ": "))
            << error.toStdString();
    }
    EXPECT_TRUE(QFileInfo::exists(journal));
    ASSERT_TRUE(QFile::remove(archive));
    ASSERT_TRUE(QFile::rename(aside, archive));
    EXPECT_TRUE(syncArchives());
    EXPECT_FALSE(QFileInfo::exists(journal));
    EXPECT_EQ(readWithLibzip(archive).order, (QStringList{"a", "b", "c", "d", "e"}));
}

TEST_F(ZipArchiveTest, ExecutableMembersKeepTheirPermissions)
{
    const QString tool = source("tool", "#!/bin/sh\n");
    QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString archive = path("quorvel.1");
    ASSERT_TRUE(SetupAddFile(zip, archive, tool));
    ASSERT_TRUE(SetupExtractFile(zip, archive, "tool", path("out")));
    EXPECT_TRUE(QFileInfo(path("out/tool")).isExecutable());
}

} // namespace
