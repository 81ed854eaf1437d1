#include "store/AddressBookFile.h"

#include "platform/Error.h"
#include "store/SharedState.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

class AddressBookFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        state.SetAppPath(home.path());
        state.meTemp = QStringList{"queued-mail"};
    }
    void TearDown() override
    {
        // Whatever the address book did, the posting run's lines stay as they were.
        EXPECT_EQ(state.meTemp, QStringList{"queued-mail"});
    }
    QString file() const { return home.path() + "/quorvel.adk"; }
    void load(const QByteArray &content)
    {
        ASSERT_TRUE(writeFile(file(), content));
        book.LoadAddressBook();
        book.ShowAddressBook();
    }

    testsupport::TempHome home;
    ControlCentreState state;
    AddressBookFile book{state};
};

TEST_F(AddressBookFileTest, MissingFileIsCreatedEmptyAndAnEmptyFileHasNoEntries)
{
    book.LoadAddressBook();
    EXPECT_TRUE(QFileInfo(file()).isFile());
    EXPECT_EQ(readFile(file()), "");
    EXPECT_TRUE(book.ShowAddressBook().isEmpty());
    EXPECT_TRUE(state.meAddressBook.isEmpty());

    // The name is matched without regard to letter case.
    QFile::rename(file(), home.path() + "/QUORVEL.ADK");
    EXPECT_EQ(book.path(), home.path() + "/QUORVEL.ADK");
}

TEST_F(AddressBookFileTest, ParseRuleAndDroppedLinesGoOnlyAtTheNextWrite)
{
    const QByteArray content = "Ann Smith[ann]ann@example.test\r\n"
                               "no brackets\r\n"
                               "]bad[order\r\n"
                               "[x]y\r\n"
                               "Carl[a]b]Z\r\n"
                               "Dan[[d]]\n"
                               "Eve[only open";
    load(content);
    EXPECT_EQ(state.meAddressBook.size(), 7);
    EXPECT_EQ(book.entries(), (QList<AddressEntry>{{"Ann Smith", "ann", "ann@example.test"},
                                                   {"", "x", "y"},
                                                   {"Carl", "a", "b]Z"},
                                                   {"Dan", "[d", "]"}}));
    EXPECT_EQ(readFile(file()), content);

    book.Delete(0);
    EXPECT_EQ(readFile(file()), "[x]y\r\nCarl[a]b]Z\r\nDan[[d]]\r\n");
    EXPECT_EQ(state.meAddressBook, (QStringList{"[x]y", "Carl[a]b]Z", "Dan[[d]]"}));
}

TEST_F(AddressBookFileTest, AddAndEditStoreOnlyCompleteEntriesWithTheAddressOnOneLine)
{
    load("Ann[ann]ann@example.test\r\n");

    EXPECT_FALSE(book.Add({"  ", "x", "x@example.test"}));
    EXPECT_FALSE(book.Add({"Bob", "bob", " \r\n "}));
    EXPECT_EQ(readFile(file()), "Ann[ann]ann@example.test\r\n");

    EXPECT_TRUE(book.Add({" Bob ", "", "bob@example.test\r\ncarol@example.test\n"}));
    EXPECT_EQ(readFile(file()),
              "Ann[ann]ann@example.test\r\n Bob []bob@example.testcarol@example.test\r\n");

    EXPECT_FALSE(book.Edit(0, {"", "ann", "ann@example.test"}));
    EXPECT_FALSE(book.Edit(5, {"Zed", "", "z@example.test"}));
    EXPECT_TRUE(book.Edit(0, {"Ann Smith", "annie", "ann@example.test\r\n"}));
    EXPECT_EQ(book.entries().first(), (AddressEntry{"Ann Smith", "annie", "ann@example.test"}));
    EXPECT_EQ(readFile(file()),
              "Ann Smith[annie]ann@example.test\r\n Bob []bob@example.testcarol@example.test\r\n");
    EXPECT_TRUE(QDir(home.path()).entryList(QDir::Hidden | QDir::Files).contains("quorvel.adk"));
    EXPECT_EQ(QDir(home.path()).entryList(QDir::Hidden | QDir::Files).size(), 1)
        << "no temporary file is left beside the address book";
}

TEST_F(AddressBookFileTest, GetEmailAddressTakesTheFirstLineContainingTheName)
{
    load("Joanne[jo]joanne@example.test\r\nAnn[ann]ann@example.test\r\n");
    EXPECT_EQ(book.GetEmailAddress("Ann"), "joanne@example.test");
    EXPECT_EQ(book.GetEmailAddress("JO"), "joanne@example.test");
    EXPECT_EQ(book.GetEmailAddress("ann@"), "ann@example.test");
    EXPECT_EQ(book.GetEmailAddress("nobody"), "");
    EXPECT_EQ(book.GetEmailAddress(""), "");

    // The file is read again for each look-up; a line that is no entry never answers.
    writeFile(file(), "Ann Smith wrote this line\r\n]Ann[x\r\nx[Ann\r\nAnn Smith[a]ann@x.test\r\n");
    EXPECT_EQ(book.GetEmailAddress("ann smith"), "ann@x.test");
    EXPECT_EQ(book.GetEmailAddress("nothing"), "");
}

TEST_F(AddressBookFileTest, TextIsUtf8AndAnotherCodePageKeepsItsBytes)
{
    const QByteArray latin1Line = "M\xfcller[m]m@example.test";
    load(latin1Line + "\r\n");
    ASSERT_EQ(book.entries().size(), 1);
    EXPECT_EQ(book.entries().first().name, QString::fromLatin1("M\xfcller"));

    EXPECT_TRUE(book.Add({QString::fromUtf8("Zoë Ωmega"), QString::fromUtf8("зоя"), "z@example.test"}));
    EXPECT_EQ(readFile(file()), latin1Line + "\r\n" + QByteArray("Zoë Ωmega[зоя]z@example.test\r\n"));

    book.LoadAddressBook();
    EXPECT_EQ(book.ShowAddressBook().last().name, QString::fromUtf8("Zoë Ωmega"));
    EXPECT_EQ(book.ShowAddressBook().first().name, QString::fromLatin1("M\xfcller"));
    EXPECT_EQ(book.GetEmailAddress(QString::fromUtf8("ЗОЯ")), "z@example.test");

    // A changed entry is the user's new text, written as UTF-8.
    EXPECT_TRUE(book.Edit(0, {QString::fromLatin1("M\xfcller"), "mu", "m@example.test"}));
    EXPECT_TRUE(readFile(file()).startsWith("Müller[mu]m@example.test\r\n"));
}

TEST_F(AddressBookFileTest, FailuresRaiseAndTheListKeepsTheChange)
{
    // A directory in the file's place can be neither read nor replaced.
    ASSERT_TRUE(QDir().mkpath(file()));
    EXPECT_THROW(book.LoadAddressBook(), platform::Error);

    EXPECT_THROW(book.Add({"Ann", "", "ann@example.test"}), platform::Error);
    EXPECT_EQ(book.entries().size(), 1);
    EXPECT_EQ(state.meAddressBook, QStringList{"Ann[]ann@example.test"});
    EXPECT_TRUE(QFileInfo(file()).isDir());

    const testsupport::TempHome other;
    state.SetAppPath(other.path() + "/missing/dir");
    try {
        book.LoadAddressBook();
        ADD_FAILURE() << "creating the file in a missing directory must fail";
    } catch (const platform::Error &e) {
        EXPECT_EQ(e.message(), "Cannot create file " + other.path() + "/missing/dir/quorvel.adk");
    }
}

} // namespace
