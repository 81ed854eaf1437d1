// The road of one quorvel mail through the real Postfix and Dovecot on loopback
// (scripts/mailservers/start exports QUORVEL_TEST_*; skipped without them): queued,
// posted, fetched, listed as NEW in INBOX, viewed (filed to READ), replied to, filed
// to a new folder and trashed in the real folder window. Every archive opens
// afterwards and nothing is written outside the installation.
#include "common/ArchiveOps.h"
#include "common/Settings.h"
#include "compose/Editor.h"
#include "compose/NewFolder.h"
#include "folder/Folder.h"
#include "platform/Paths.h"
#include "platform/ScriptedPrompts.h"
#include "store/HeaderRecord.h"
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
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <zip.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

// Shares its mailbox with the fetch tests, under their lock.
const QString kUser = "erin";

bool opens(const QString &archive)
{
    int error = 0;
    zip_t *z = zip_open(QFile::encodeName(archive).constData(), ZIP_CHECKCONS | ZIP_RDONLY, &error);
    if (z)
        zip_close(z);
    return z != nullptr;
}

// Every file below `dir` with its modification time.
QMap<QString, QDateTime> filesBelow(const QString &dir)
{
    QMap<QString, QDateTime> out;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
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

TEST_F(MailRoad, PostedFetchedViewedRepliedFiledAndTrashed)
{
    if (IsSkipped() || HasFatalFailure())
        return;
    testsupport::clearMailbox(kUser);
    const QString address = testsupport::mailAddress(kUser);

    // An installation as setup leaves it.
    ControlCentreState state;
    state.SetAppPath(home.path() + "/quorvel");
    QDir().mkpath(state.InboxDir);
    QDir().mkpath(state.OutboxDir);
    const QString seed = platform::workDir(state.InboxDir) + kPlaceholderMember;
    writeFile(seed, "placeholder");
    for (const char *folder : {"INBOX", "READ", "SENT"})
        ZipFile(state.ZipArchive1, state.InboxDir + folder + ".hdr", seed);
    QFile::remove(seed);
    WriteIniString("POSTOFFICE", "Host", qEnvironmentVariable("QUORVEL_TEST_POP3_HOST"));
    WriteIniString("POSTOFFICE", "Port", qEnvironmentVariable("QUORVEL_TEST_POP3_PORT"));
    WriteIniString("POSTOFFICE", "UserName", kUser);
    WriteIniString("POSTOFFICE", "Password", state.te.EncryptText(kUser + "-secret"));
    state.UserName = "Erin Example";
    state.EmailAddress = address;
    state.MailServer = qEnvironmentVariable("QUORVEL_TEST_SMTP_HOST");
    state.SMTPport = qEnvironmentVariable("QUORVEL_TEST_SMTP_PORT");
    state.KeepMailInServer = "No";

    // Queued as the editor queues it: a subject that is not ASCII, a body, a file.
    const QString name = "261207120000-erin@example-test";
    const QByteArray body = "{\\rtf1\\ansi A picture for you.\\par}";
    const QString doc = BodyDocumentPath(state.OutboxDir, name);
    ASSERT_TRUE(writeFile(doc, body));
    ZipFile(state.ZipArchive1, PackagePath(state.OutboxDir, name), doc);
    QFile::remove(doc);
    ASSERT_TRUE(writeFile(home.file("docs/picture.png"), "not really a picture"));
    WriteOutgoingHeader(OutgoingHeaderPath(state.OutboxDir, name), QString::fromUtf8("Grüße"), {address});
    AppendQueueLine(QueueFilePath(state.OutboxDir), FormatQueueLine(name, {home.file("docs/picture.png")}));
    TfrmSendMail send(state);
    send.bnSendClick();
    send.RemoveSentMailFromQueue();
    ASSERT_EQ(testsupport::waitForMessages(kUser, 1).size(), 1);
    TfrmGetMail get(state);
    get.GetAllButtonClick();
    ASSERT_EQ(state.NewMailList.size(), 1);
    ASSERT_EQ(prompts.recorded, QList<platform::RecordedPrompt>());

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
    auto action = [&](const char *n) { return folder.findChild<QAction *>(n); };

    // Listed as NEW in INBOX, the subject decoded.
    ASSERT_EQ(list->topLevelItemCount(), 1);
    const QString id = folder.MailIds().value(0);
    EXPECT_EQ(list->topLevelItem(0)->text(2), QString::fromUtf8("Grüße"));
    EXPECT_EQ(list->topLevelItem(0)->text(5), "quorvel");
    EXPECT_EQ(ParseHeaderRecord(testsupport::memberData(state.ZipArchive1, state.InboxDir + "INBOX.hdr", id,
                                                        scratch.path()))
                  .status,
              "NEW");

    // View: the package's body in the editor, the mail in READ as READ.
    list->setCurrentItem(list->topLevelItem(0));
    action("tbView")->trigger();
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_TRUE(editor.isVisible());
    EXPECT_EQ(editor.SourceFolder, "READ");
    EXPECT_TRUE(editor.Editor->toPlainText().contains("A picture for you"));
    const QString readArchive = state.InboxDir + "READ.hdr";
    EXPECT_EQ(ParseHeaderRecord(testsupport::memberData(state.ZipArchive1, readArchive, id, scratch.path())).status,
              "READ");
    EXPECT_EQ(testsupport::memberNames(state.InboxDir + "READ.att"), QStringList({name + ".m", "picture.png"}));

    // Reply in READ; the recipient is an address the posting run can send to.
    const auto reply = ReadMail(state.ZipArchive1, state.InboxDir, "READ", id, OpenMode::Reply);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->recipients, QStringList({address}));
    EXPECT_EQ(reply->attachments, QStringList({"picture.png"}));

    // File To a new folder, then Trash it there.
    folder.findChild<QTabBar *>("TabSet1")->setCurrentIndex(1);
    ASSERT_EQ(folder.CurrentFolder, "READ");
    QTimer::singleShot(0, &dialog, [&] {
        dialog.findChild<QLineEdit *>("edFolderName")->setText("Keep");
        QTest::mouseClick(dialog.findChild<QPushButton *>("tbSave"), Qt::LeftButton);
    });
    action("tbAdd")->trigger();
    folder.findChild<QTabBar *>("TabSet1")->setCurrentIndex(2);
    ASSERT_EQ(folder.CurrentFolder, "READ");
    list->setCurrentItem(list->topLevelItem(0));
    auto *cb = folder.findChild<QComboBox *>("cbFolder");
    prompts.answer(platform::Answer::Yes);
    emit cb->activated(cb->findText("Keep"));
    EXPECT_EQ(list->topLevelItemCount(), 0);
    folder.findChild<QTabBar *>("TabSet1")->setCurrentIndex(1);
    ASSERT_EQ(folder.CurrentFolder, "Keep");
    ASSERT_EQ(folder.MailIds(), QStringList({id}));
    list->setCurrentItem(list->topLevelItem(0));
    prompts.answer(platform::Answer::Yes);
    action("tbTrash")->trigger();
    EXPECT_EQ(testsupport::memberNames(state.InboxDir + "Keep.hdr"), QStringList({kPlaceholderMember}));
    EXPECT_TRUE(testsupport::memberNames(state.InboxDir + "Keep.att").isEmpty());

    for (const QString &archive : QDir(state.InboxDir).entryList({"*.hdr", "*.fdr", "*.att"}, QDir::Files))
        EXPECT_TRUE(opens(state.InboxDir + archive)) << archive.toStdString();
    // Outside the installation nothing changed.
    for (const auto &[path, modified] : filesBelow(home.path()).asKeyValueRange()) {
        if (!path.startsWith(state.AppPath + "/")) {
            EXPECT_EQ(before.value(path), modified) << path.toStdString();
        }
    }
    EXPECT_EQ(prompts.texts(),
              QStringList({"Click Yes to move selected mail to folder [KEEP]", "Click Yes to proceed deletion"}));
}
