#pragma once
// An installed inbox directory with an INBOX folder, messages to decode into it, and
// what the tests read back from its archives.

#include "common/ArchiveOps.h"
#include "common/ZipArchive.h"
#include "platform/Clock.h"
#include "platform/ScriptedPrompts.h"
#include "store/AttachmentDescriptor.h"
#include "store/HeaderRecord.h"
#include "store/InboxDecoder.h"
#include "support/ArchiveContents.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <gtest/gtest.h>

using testsupport::readFile;
using testsupport::writeFile;

// The file `name` of tests/store/data. The compiler may name this header relative to
// the build directory, which is the test program's parent directory.
inline QByteArray storeTestData(const QString &name)
{
    QString here = QString::fromUtf8(__FILE__);
    if (QFileInfo(here).isRelative())
        here = QCoreApplication::applicationDirPath() + "/../" + here;
    QFile f(QFileInfo(here).absolutePath() + "/data/" + name);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    return f.readAll();
}

class StoreFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::setClockForTesting([] { return QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0)); });
        inbox = home.file("app/inbox/");
        QDir().mkpath(inbox);
        writeFile(inbox + "placeholder/___.___", "placeholder");
        ZipFile(zip, inbox + "INBOX.hdr", inbox + "placeholder/___.___");
        QDir(inbox + "placeholder").removeRecursively();
        historyFile = home.file("app/quorvel.hst");
    }
    void TearDown() override { platform::setClockForTesting({}); }

    QString raw(const QString &uid, const QByteArray &content)
    {
        const QString path = inbox + "Msg" + uid + ".txt";
        writeFile(path, content);
        return path;
    }

    QStringList members(const QString &folderArchive)
    {
        return testsupport::memberNames(inbox + folderArchive);
    }

    QByteArray member(const QString &folderArchive, const QString &name)
    {
        return testsupport::memberData(zip, inbox + folderArchive, name, home.file("out"));
    }

    // Every stored byte of one mail: its record, its body and each member its
    // descriptor names ("att:" + name).
    QMap<QString, QByteArray> mailBytes(const QString &folder, const QString &id)
    {
        QMap<QString, QByteArray> out;
        out["hdr"] = member(folder + ".hdr", id);
        if (QFile::exists(inbox + folder + ".fdr"))
            out["fdr"] = member(folder + ".fdr", id);
        for (const QString &e : DescriptorEntries(ParseHeaderRecord(out["hdr"]).attach))
            out["att:" + e] = member(folder + ".att", e);
        return out;
    }

    // A message written by a real tool, from tests/store/data.
    static QByteArray sample(const QString &name) { return storeTestData(name); }

    int decodeAll(const QStringList &files)
    {
        return DecodeAllMessages({zip, inbox, historyFile, newMail, history}, files);
    }

    testsupport::TempHome home;
    platform::ScriptedPrompts prompts;
    TZipArchive zip;
    QString inbox, historyFile;
    QStringList newMail, history;
};

inline QByteArray message(const QByteArray &id, const QByteArray &subject, const QByteArray &extraPart = {})
{
    QByteArray m = "From: Bob <bob@example.test>\r\nSubject: " + subject
        + "\r\nMessage-ID: <" + id + ">\r\nContent-Type: multipart/mixed; boundary=\"B\"\r\n\r\n"
          "--B\r\nContent-Type: text/plain\r\n\r\nBody of " + subject + "\r\n";
    m += extraPart;
    m += "--B--\r\n";
    return m;
}

inline QByteArray attachmentPart(const QByteArray &name, const QByteArray &data)
{
    return "--B\r\nContent-Type: application/octet-stream; name=\"" + name
        + "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + data.toBase64() + "\r\n";
}
