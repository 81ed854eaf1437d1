#include "platform/DesktopAssociation.h"

#include "support/TempHome.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace platform;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// A private XDG tree: the user's directories in a temporary home, and empty system
// directories so that the machine's own associations do not take part.
class DesktopAssociationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        oldDataDirs_ = qgetenv("XDG_DATA_DIRS");
        oldConfigDirs_ = qgetenv("XDG_CONFIG_DIRS");
        qputenv("XDG_DATA_DIRS", (system_.path() + "/share").toUtf8());
        qputenv("XDG_CONFIG_DIRS", (system_.path() + "/xdg").toUtf8());
    }
    void TearDown() override
    {
        qputenv("XDG_DATA_DIRS", oldDataDirs_);
        qputenv("XDG_CONFIG_DIRS", oldConfigDirs_);
    }

    void registerType(const QString &glob = "*.chm", const QString &type = "application/x-test-help")
    {
        writeFile(home_.dataDir() + "/mime/globs2",
                  ("# comment\n50:" + type + ":" + glob + "\n").toUtf8());
    }
    void setDefault(const QString &type, const QString &ids)
    {
        writeFile(home_.configDir() + "/mimeapps.list",
                  ("[Added Associations]\n" + type + "=other.desktop;\n"
                   "[Default Applications]\n" + type + "=" + ids + "\n").toUtf8());
    }
    void installEntry(const QString &relative, const QString &exec, const QString &extra = {})
    {
        writeFile(home_.dataDir() + "/applications/" + relative,
                  ("[Desktop Entry]\nType=Application\nName=Viewer\nExec=" + exec + "\n" + extra)
                      .toUtf8());
    }
    // A program that writes its arguments, one a line, to `out`.
    QString recorder(const QString &out)
    {
        const QString script = home_.file("bin/record args");
        writeFile(script, ("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + out
                           + ".part'\nmv '" + out + ".part' '" + out + "'\n")
                              .toUtf8());
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return script;
    }

    testsupport::TempHome home_;
    QTemporaryDir system_;
    QByteArray oldDataDirs_, oldConfigDirs_;
};

QByteArray waitForFile(const QString &path)
{
    QDeadlineTimer deadline(10000);
    while (!QFileInfo::exists(path) && !deadline.hasExpired())
        QThread::msleep(20);
    return readFile(path);
}

} // namespace

TEST_F(DesktopAssociationTest, ExtensionToTypeToCommand)
{
    registerType();
    setDefault("application/x-test-help", "missing.desktop;viewer.desktop;");
    installEntry("viewer.desktop", "helpview --page %f");

    EXPECT_EQ(mimeTypeForExtension(".chm"), "application/x-test-help");
    EXPECT_EQ(mimeTypeForExtension("CHM"), "application/x-test-help");
    // The first listed entry is not installed; the next one is taken.
    EXPECT_EQ(defaultApplicationFor("application/x-test-help"), "viewer.desktop");
    EXPECT_EQ(openCommandForExtension(".chm"), "helpview --page %f");
}

TEST_F(DesktopAssociationTest, NoAssociation)
{
    // A type without a default application, then no type at all.
    registerType("*.chm", "application/x-test-help");
    EXPECT_EQ(openCommandForExtension(".chm"), QString());
    EXPECT_EQ(openWithAssociation(".chm", "/tmp/x.chm"), OpenResult::NoAssociation);
    EXPECT_EQ(mimeTypeForExtension(".qvnosuchext"), QString());
    EXPECT_EQ(openCommandForExtension(".qvnosuchext"), QString());
}

TEST_F(DesktopAssociationTest, HiddenEntryAndSubdirectoryIds)
{
    registerType();
    setDefault("application/x-test-help", "vendor-viewer.desktop");
    installEntry("vendor/viewer.desktop", "sub-viewer %u");
    EXPECT_EQ(openCommandForExtension(".chm"), "sub-viewer %u");

    installEntry("vendor/viewer.desktop", "sub-viewer %u", "Hidden=true\n");
    EXPECT_EQ(openCommandForExtension(".chm"), QString());
}

TEST_F(DesktopAssociationTest, SystemListIsUsedWhenTheUserHasNone)
{
    registerType();
    writeFile(system_.path() + "/xdg/mimeapps.list",
              "[Default Applications]\napplication/x-test-help=viewer.desktop\n");
    writeFile(system_.path() + "/share/applications/viewer.desktop",
              "[Desktop Entry]\nExec=sysview\\s2 %F\n");
    EXPECT_EQ(openCommandForExtension(".chm"), "sysview 2 %F");
}

TEST(DesktopCommandLine, CutBeforeThePlaceholderAndAppendThePath)
{
    const QString help = "/home/u/quorvel files/help/quorvel.chm";
    EXPECT_EQ(commandLineForFile("viewer %f", help), (QStringList{"viewer", help}));
    EXPECT_EQ(commandLineForFile("viewer \"%f\" --after", help), (QStringList{"viewer", help}));
    EXPECT_EQ(commandLineForFile("viewer --new-window %U", help),
              (QStringList{"viewer", "--new-window", help}));
    // No placeholder: the path goes at the end.
    EXPECT_EQ(commandLineForFile("viewer --flag", help), (QStringList{"viewer", "--flag", help}));
    // Other field codes are dropped, "%%" is a percent sign, quotes group and escape.
    EXPECT_EQ(commandLineForFile("\"/opt/my viewer/bin\" %i --zoom=100%% \"a \\\"b\\\"\" %k %f",
                                 help),
              (QStringList{"/opt/my viewer/bin", "--zoom=100%", "a \"b\"", help}));
    EXPECT_TRUE(commandLineForFile("%f", help).isEmpty());
    EXPECT_TRUE(commandLineForFile("", help).isEmpty());
}

TEST_F(DesktopAssociationTest, StartsTheViewerDetachedWithThePath)
{
    const QString out = home_.file("args.txt");
    registerType();
    setDefault("application/x-test-help", "viewer.desktop");
    installEntry("viewer.desktop", "\"" + recorder(out) + "\" --page \"%f\"");

    const QString help = home_.file("my help/quorvel.chm");
    ASSERT_EQ(openWithAssociation(".chm", help), OpenResult::Started);
    EXPECT_EQ(waitForFile(out), ("--page\n" + help + "\n").toUtf8());
}

TEST_F(DesktopAssociationTest, AMissingProgramFailsToStart)
{
    registerType();
    setDefault("application/x-test-help", "viewer.desktop");
    installEntry("viewer.desktop", home_.file("no-such-viewer") + " %f");
    EXPECT_EQ(openWithAssociation(".chm", "/tmp/x.chm"), OpenResult::StartFailed);
}
