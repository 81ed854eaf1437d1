#include "common/ZipWriter.h"
#include "compose/Editor.h"
#include "compose/NewFolder.h"
#include "compose/StickerCollection.h"
#include "platform/Paths.h"
#include "platform/ScriptedPrompts.h"
#include "rtf/RtfTestSupport.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"
#include "support/ArchiveContents.h"
#include "support/TempHome.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QtEndian>
#include <gtest/gtest.h>

using platform::Answer;
using platform::PromptKind;
using testsupport::memberNames;
using testsupport::readFile;

namespace {

QByteArray picture(int i, const char *format = "BMP", int side = 36)
{
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((i * 37) % 360, 200, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QString stickerName(int i) { return QStringLiteral("S%1.bmp").arg(i, 2, 10, QChar('0')); }

// Every file below `dir` with its bytes, except what lies below `except`.
QMap<QString, QByteArray> filesBelow(const QString &dir, const QString &except)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.startsWith(except))
            files.insert(path, readFile(path));
    }
    return files;
}

class Stickers : public ::testing::Test {
protected:
    Stickers()
    {
        state.SetAppPath(home.path() + "/quorvel");
        QDir().mkpath(state.InboxDir);
        zipwrite::addMembers(state.InboxDir + "INBOX.hdr",
                             {zipwrite::MemberSource::bytes("___.___", "keep")}, 9);
        dir = StickerDir(state.AppPath);
        QDir().mkpath(dir);
    }
    // A collection of `count` BMP stickers S01.bmp, S02.bmp ... and the given members.
    void collection(const QString &file, int count, QList<zipwrite::MemberSource> more = {})
    {
        QList<zipwrite::MemberSource> members;
        for (int i = 1; i <= count; ++i)
            members << zipwrite::MemberSource::bytes(stickerName(i), picture(i));
        members << more;
        zipwrite::addMembers(dir + file, members, 9);
    }

    testsupport::TempHome home;
    platform::ScriptedPrompts prompts;
    ControlCentreState state;
    QString dir;
};

TEST_F(Stickers, HostileCollectionUnpacksOnlyBoundedPicturesIntoThePrivateDirectory)
{
    collection("faces.zip", 2);
    // A BMP header claiming 5000 x 5000, and a member that inflates to 16 MiB.
    QByteArray wide = picture(1);
    for (int field : {18, 22})
        qToLittleEndian<qint32>(5000, wide.data() + field);
    QByteArray bomb = picture(2);
    bomb.append(QByteArray(16 * 1024 * 1024, '\0'));
    collection("hostile.zip", 0,
               {zipwrite::MemberSource::bytes("../../x.bmp", picture(3)),
                zipwrite::MemberSource::bytes("faces.zip", picture(4)),
                zipwrite::MemberSource::bytes("wide.bmp", wide),
                zipwrite::MemberSource::bytes("bomb.bmp", bomb),
                zipwrite::MemberSource::bytes("notes.txt", "not a picture")});
    ASSERT_LT(QFileInfo(dir + "hostile.zip").size(), 200 * 1024);
    const QString strip = platform::workDir(dir) + "strip/";
    const auto before = filesBelow(home.path(), strip);

    StickerCollections stickers(state);
    const StickerCollections::Unpacked unpacked = stickers.Unpack("hostile");
    EXPECT_EQ(unpacked.memberCount, 5);
    EXPECT_EQ(unpacked.names, QStringList({"x.bmp", "faces.zip", "wide.bmp", "bomb.bmp", "notes.txt"}));
    EXPECT_EQ(filesBelow(home.path(), strip), before);
    QStringList written = QDir(strip).entryList(QDir::Files | QDir::Hidden);
    written.sort();
    EXPECT_EQ(written, QStringList({"faces.zip", "x.bmp"}));
    EXPECT_FALSE(stickers.Load("X.BMP").image.isNull());
    EXPECT_TRUE(stickers.Load("bomb.bmp").image.isNull());

    stickers.Clean();
    EXPECT_TRUE(QDir(strip).isEmpty());
}

TEST_F(Stickers, CopiesLeftByAKilledRunGoAtTheNextStartAndBodiesArePng)
{
    const QByteArray png = picture(7, "PNG");
    collection("mixed.zip", 1, {zipwrite::MemberSource::bytes("own.png", png)});
    const QString leftover = platform::workDir(dir) + "strip/old.bmp";
    QDir().mkpath(QFileInfo(leftover).path());
    testsupport::writeFile(leftover, "x");
    StickerCollections stickers(state);
    EXPECT_FALSE(QFileInfo::exists(leftover));

    stickers.Unpack("mixed");
    EXPECT_EQ(stickers.Load("own.png").body, png);
    const StickerCollections::Picture bmp = stickers.Load("s01.bmp");
    EXPECT_TRUE(bmp.body.startsWith("\x89PNG"));
    EXPECT_EQ(QImage::fromData(bmp.body).pixel(3, 3), bmp.image.pixel(3, 3));
}

// The editor's strip over real collections.
class StickerStrip : public Stickers {
protected:
    void open()
    {
        editor = std::make_unique<TfrmEditor>(state);
        editor->frmNewFolder = &dialog;
        editor->show();
        tabs = editor->findChild<QTabBar *>("TabSet1");
    }
    QWidget *slot(int k) const { return editor->findChild<QWidget *>(QStringLiteral("Sticker%1").arg(k)); }
    QStringList tips() const
    {
        QStringList out;
        for (int k = 1; k <= 11; ++k)
            out << slot(k)->toolTip();
        return out;
    }
    void click(const char *button) { editor->findChild<QToolButton *>(button)->click(); }
    void run(const char *action) { editor->findChild<QAction *>(action)->trigger(); }
    void chooseTab(int index) { QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(index).center()); }
    QString count() const { return editor->findChild<QLabel *>("edCount")->text(); }
    TfrmNewFolder dialog;
    std::unique_ptr<TfrmEditor> editor;
    QTabBar *tabs = nullptr;
};

QStringList page(int first, int last)
{
    QStringList out;
    for (int k = first; k < first + 11; ++k)
        out << (k <= last ? stickerName(k).toLower() : QString());
    return out;
}

TEST_F(StickerStrip, PagesElevenAtATime)
{
    collection("eleven.zip", 11);
    collection("Twelve.ZIP", 12);
    open();
    EXPECT_EQ(editor->windowTitle(), "quorvel");
    EXPECT_EQ(tabs->count(), 2);
    EXPECT_EQ(editor->CurrentCollection, "eleven");
    EXPECT_EQ(tips(), page(1, 11));
    click("SpinButton1Down");
    click("SpinButton1Up");
    EXPECT_EQ(prompts.texts(PromptKind::Warning), QStringList(2, "No more sticker to load!"));

    chooseTab(1);
    EXPECT_EQ(editor->CurrentCollection, "twelve");
    EXPECT_EQ(count(), "12");
    click("SpinButton1Down");
    EXPECT_EQ(editor->PageStart, 12);
    EXPECT_EQ(tips(), page(12, 12));
    click("SpinButton1Up");
    EXPECT_EQ(tips(), page(1, 12));
    EXPECT_EQ(prompts.recorded.size(), 2);
}

TEST_F(StickerStrip, ADamagedStickerIsReportedOnceTheOthersShow)
{
    QList<zipwrite::MemberSource> members;
    for (int i = 1; i <= 3; ++i)
        members << zipwrite::MemberSource::bytes(stickerName(i), picture(i));
    zipwrite::addMembers(dir + "faces.zip", members, 0);
    QByteArray archive = readFile(dir + "faces.zip");
    const qsizetype at = archive.indexOf(picture(2));
    ASSERT_GT(at, 0);
    archive[at + 100] = char(archive[at + 100] ^ 0x55);
    testsupport::writeFile(dir + "faces.zip", archive);

    open();
    EXPECT_EQ(prompts.texts(PromptKind::Error),
              QStringList{"Cannot extract S02.bmp from " + dir + "faces.zip"});
    EXPECT_EQ(tips().mid(0, 3), QStringList({"s01.bmp", "", "s03.bmp"}));
    EXPECT_EQ(editor->StickerNames.size(), 3);
    EXPECT_EQ(editor->windowTitle(), "quorvel");
}

TEST_F(StickerStrip, PointingSelectsAndDeleteSticker)
{
    collection("thirteen.zip", 13);
    open();
    QTest::mouseMove(slot(3), {5, 5});
    EXPECT_EQ(editor->SelectedSlot, 3);
    EXPECT_EQ(editor->CurrentSticker, "s03.bmp");
    EXPECT_EQ(slot(3)->size(), QSize(40, 40));
    EXPECT_EQ(slot(2)->size(), QSize(36, 36));
    EXPECT_EQ(editor->findChild<QWidget *>("Shape1")->geometry(), QRect(4 + 88 - 2, 2, 44, 44));

    prompts.answer(Answer::Yes);
    run("DeleteSticker1");
    EXPECT_EQ(prompts.texts(PromptKind::ConfirmYesNo),
              QStringList{"Click Yes to delete s03.bmp or No to cancel the deletion"});
    EXPECT_FALSE(memberNames(dir + "thirteen.zip").contains("S03.bmp"));
    EXPECT_EQ(memberNames(dir + "thirteen.zip").size(), 12);
    EXPECT_EQ(editor->StickerNames.size(), 12);
    EXPECT_EQ(slot(3)->toolTip(), "");
    EXPECT_EQ(slot(4)->toolTip(), "s04.bmp");
    run("DeleteSticker1");

    click("SpinButton1Down");
    EXPECT_EQ(slot(1)->toolTip(), "s13.bmp");
    QTest::mouseMove(slot(2), {5, 5});
    EXPECT_EQ(editor->SelectedSlot, -1);
    run("DeleteSticker1");
    EXPECT_EQ(prompts.texts(PromptKind::Information), QStringList(2, "Select the sticker to be deleted"));
}

TEST_F(StickerStrip, InsertingPutsTheStickerIntoTheBodyAsPng)
{
    collection("faces.zip", 1, {zipwrite::MemberSource::bytes("own.png", picture(9, "PNG"))});
    open();
    EXPECT_FALSE(editor->HasContent);
    QTest::mousePress(slot(1), Qt::RightButton);
    EXPECT_TRUE(editor->HasContent);
    QTest::mouseClick(slot(2), Qt::LeftButton);
    QTest::mouseDClick(slot(2), Qt::LeftButton);
    const auto inserted = rtftest::items(*editor->Editor->document());
    ASSERT_EQ(inserted.size(), 2);
    EXPECT_TRUE(inserted[0].bytes.startsWith("\x89PNG"));
    EXPECT_EQ(inserted[1].bytes, picture(9, "PNG"));

    // Text typed after the stickers goes on in the body's own blue.
    QTest::keyClicks(editor->Editor, "after");
    QTextCursor end(editor->Editor->document());
    end.movePosition(QTextCursor::End);
    EXPECT_EQ(end.charFormat().foreground().color(), QColor(Qt::blue));
    EXPECT_FALSE(end.charFormat().isImageFormat());
}

TEST_F(StickerStrip, CollectionsAreAddedAndDeleted)
{
    for (const char *name : {"a.zip", "b.zip", "c.zip"})
        collection(name, 1);
    open();
    // Right after start-up no tab is chosen.
    run("AddNewSticker1");
    run("DeleteCollection1");
    EXPECT_EQ(prompts.texts(PromptKind::Information),
              QStringList({"Click on the sticker page you want to add sticker",
                           "Click on the collection to be deleted."}));

    QString shownBefore;
    auto typeName = [&](const QString &typed) {
        QTimer::singleShot(0, &dialog, [&, typed] {
            shownBefore = dialog.edFolderName->text();
            dialog.edFolderName->setText(typed);
            dialog.findChild<QPushButton *>("tbSave")->click();
        });
        run("AddNewCollection1");
    };
    typeName("New.Ones");
    EXPECT_EQ(dialog.windowTitle(), "New Sticker Collection");
    EXPECT_EQ(dialog.Label1->text(), "Name of The New Collection");
    EXPECT_EQ(memberNames(dir + "New.zip"), QStringList{"___.___"});
    EXPECT_EQ(tabs->tabText(3), "new");
    typeName("B");
    EXPECT_EQ(shownBefore, "New.Ones");
    EXPECT_EQ(prompts.texts(PromptKind::Warning), QStringList{"B is an existing collection"});

    chooseTab(3);
    EXPECT_EQ(count(), "1");
    EXPECT_EQ(tips(), page(1, 0));

    chooseTab(1);
    prompts.answer(Answer::Yes);
    run("DeleteCollection1");
    EXPECT_EQ(prompts.texts(PromptKind::ConfirmYesNo).last(),
              "Click Yes to delete collection b or No to cancel the deletion");
    EXPECT_FALSE(QFileInfo::exists(dir + "b.zip"));
    EXPECT_EQ(editor->CurrentCollection, "c");
    EXPECT_EQ(tabs->tabText(tabs->currentIndex()), "c");

    // Added stickers; one spelt in other letter case replaces S01.bmp.
    for (const QString name : {"added.BMP", "s01.BMP"}) {
        testsupport::writeFile(home.file(name), picture(5));
        prompts.answerPath(home.file(name));
        run("AddNewSticker1");
        if (name == "added.BMP") {
            EXPECT_EQ(memberNames(dir + "c.zip"), QStringList({"S01.bmp", "added.BMP"}));
        }
    }
    EXPECT_EQ(memberNames(dir + "c.zip"), QStringList({"added.BMP", "s01.BMP"}));
    EXPECT_EQ(editor->StickerNames, QStringList({"added.bmp", "s01.bmp"}));
    EXPECT_TRUE(prompts.unanswered.isEmpty());

    const QString strip = platform::workDir(dir) + "strip/";
    EXPECT_FALSE(QDir(strip).isEmpty());
    editor.reset();
    EXPECT_FALSE(QFileInfo::exists(strip));
}

} // namespace
