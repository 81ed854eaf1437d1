// The road of one quorvel mail through the real Postfix and Dovecot on loopback
// (QUORVEL_TEST_* from scripts/mailservers/start; skipped without them): queued,
// posted, fetched, then in the real folder window listed as NEW, viewed (to READ),
// filed to a new folder and trashed. Every archive opens afterwards and nothing
// outside the installation changes.
#include "common/ArchiveOps.h"
#include "common/Settings.h"
#include "compose/Editor.h"
#include "compose/NewFolder.h"
#include "folder/Folder.h"
#include "platform/Paths.h"
#include "platform/ScriptedPrompts.h"
#include "store/OutgoingHeader.h"
#include "store/QueueFile.h"
#include "store/SharedState.h"
#include "store/StorePaths.h"
#include "support/ArchiveContents.h"
#include "support/RealServers.h"
#include "support/TempHome.h"
#include "transfer/GetMail.h"
#include "transfer/SendMail.h"

#include <QAction>
#include <QComboBox>
#include <QDirIterator>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <zip.h>

using testsupport::writeFile;

namespace {

const QString kUser = "erin";   // shared with the fetch tests, under their lock

QMap<QString, QDateTime> filesBelow(const QString &dir)
{
    QMap<QString, QDateTime> out;
    for (QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        out.insert(path, QFileInfo(path).lastModified());
    }
    return out;
}

class MailRoad : public ::testing::Test {
protected:
    void SetUp() override { testsupport::RequireRealServers(lock_, "fetch-tests"); }

    testsupport::TempHome home;
    platform::ScriptedPrompts prompts;
    testsupport::ServerLock lock_;
};

} // namespace

TEST_F(MailRoad, PostedFetchedViewedFiledAndTrashed)
{
    if (IsSkipped() || HasFatalFailure())
        return;
    testsupport::clearMailbox(kUser);
    ControlCentreState state;
    state.SetAppPath(home.path() + "/quorvel");
    QDir().mkpath(state.InboxDir);
    QDir().mkpath(state.OutboxDir);
    const QString seed = home.file("seed/___.___");
    writeFile(seed, "placeholder");
    for (const char *folder : {"INBOX", "READ", "SENT"})
        ZipFile(state.ZipArchive1, state.InboxDir + folder + ".hdr", seed);
    for (const auto &[key, value] : {std::pair{"Host", qEnvironmentVariable("QUORVEL_TEST_POP3_HOST")},
                                     {"Port", qEnvironmentVariable("QUORVEL_TEST_POP3_PORT")}, {"UserName", kUser},
                                     {"Password", state.te.EncryptText(kUser + "-secret")}})
        WriteIniString("POSTOFFICE", key, value);
    state.EmailAddress = testsupport::mailAddress(kUser);
    state.MailServer = qEnvironmentVariable("QUORVEL_TEST_SMTP_HOST");
    state.SMTPport = qEnvironmentVariable("QUORVEL_TEST_SMTP_PORT");
    state.KeepMailInServer = "No";

    // Queued as the editor queues it, with a subject that is not ASCII and a file.
    const QString name = "261207120000-erin@example-test";
    writeFile(BodyDocumentPath(state.OutboxDir, name), "{\\rtf1\\ansi A picture for you.\\par}");
    ZipFile(state.ZipArchive1, PackagePath(state.OutboxDir, name), BodyDocumentPath(state.OutboxDir, name));
    QFile::remove(BodyDocumentPath(state.OutboxDir, name));
    writeFile(home.file("docs/picture.png"), "not really a picture");
    WriteOutgoingHeader(OutgoingHeaderPath(state.OutboxDir, name), QString::fromUtf8("Grüße"), {state.EmailAddress});
    AppendQueueLine(QueueFilePath(state.OutboxDir), FormatQueueLine(name, {home.file("docs/picture.png")}));
    TfrmSendMail send(state);
    send.bnSendClick();
    ASSERT_EQ(testsupport::waitForMessages(kUser, 1).size(), 1);
    TfrmGetMail get(state);
    get.GetAllButtonClick();
    ASSERT_EQ(state.NewMailList.size(), 1);

    const auto before = filesBelow(home.path());
    QTemporaryDir scratch;   // where the test reads members back
    TfrmEditor editor(state);
    TfrmNewFolder dialog;
    TfrmFolder folder(state);
    folder.frmEditor = &editor;
    folder.frmNewFolder = &dialog;
    folder.show();
    folder.TabSet1Click();
    auto *list = folder.findChild<QTreeWidget *>("ListView1");
    auto *tabs = folder.findChild<QTabBar *>("TabSet1");
    auto status = [&](const QString &archive, const QString &id) {
        return ParseHeaderRecord(testsupport::memberData(state.ZipArchive1, state.InboxDir + archive, id,
                                                         scratch.path()))
            .status;
    };

    ASSERT_EQ(list->topLevelItemCount(), 1);
    const QString id = folder.MailIds().value(0);
    EXPECT_EQ(list->topLevelItem(0)->text(2), QString::fromUtf8("Grüße"));
    EXPECT_EQ(status("INBOX.hdr", id), "NEW");
    list->setCurrentItem(list->topLevelItem(0));
    folder.findChild<QAction *>("tbView")->trigger();
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_TRUE(editor.Editor->toPlainText().contains("A picture for you"));
    EXPECT_EQ(status("READ.hdr", id), "READ");
    EXPECT_EQ(testsupport::memberNames(state.InboxDir + "READ.att"), QStringList({name + ".m", "picture.png"}));
    EXPECT_EQ(ReadMail(state.ZipArchive1, state.InboxDir, "READ", id, OpenMode::Reply)->recipients,
              QStringList({state.EmailAddress}));

    // Filed to a new folder, then trashed there.
    QTimer::singleShot(0, &dialog, [&] {
        dialog.findChild<QLineEdit *>("edFolderName")->setText("Keep");
        dialog.findChild<QPushButton *>("tbSave")->click();
    });
    folder.findChild<QAction *>("tbAdd")->trigger();
    tabs->setCurrentIndex(2);
    ASSERT_EQ(folder.CurrentFolder, "READ");
    list->setCurrentItem(list->topLevelItem(0));
    auto *cb = folder.findChild<QComboBox *>("cbFolder");
    prompts.answer(platform::Answer::Yes);
    emit cb->activated(cb->findText("Keep"));
    tabs->setCurrentIndex(1);
    ASSERT_EQ(folder.MailIds(), QStringList({id}));
    list->setCurrentItem(list->topLevelItem(0));
    prompts.answer(platform::Answer::Yes);
    folder.findChild<QAction *>("tbTrash")->trigger();
    EXPECT_EQ(testsupport::memberNames(state.InboxDir + "Keep.hdr"), QStringList({"___.___"}));
    EXPECT_TRUE(testsupport::memberNames(state.InboxDir + "Keep.att").isEmpty());
    EXPECT_EQ(prompts.texts(),
              QStringList({"Click Yes to move selected mail to folder [KEEP]", "Click Yes to proceed deletion"}));

    for (const QString &archive : QDir(state.InboxDir).entryList({"*.hdr", "*.fdr", "*.att"}, QDir::Files)) {
        int error = 0;
        zip_t *z = zip_open(QFile::encodeName(state.InboxDir + archive).constData(), ZIP_CHECKCONS | ZIP_RDONLY, &error);
        EXPECT_TRUE(z) << archive.toStdString();
        if (z)
            zip_close(z);
    }
    for (const auto &[path, modified] : filesBelow(home.path()).asKeyValueRange()) {
        if (!path.startsWith(state.AppPath + "/")) {
            EXPECT_EQ(before.value(path), modified) << path.toStdString();
        }
    }
}
