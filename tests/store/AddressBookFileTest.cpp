#include "store/AddressBookFile.h"

#include "store/SharedState.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

class AddressBookFileTest : public ::testing::Test {
protected:
    void SetUp() override { state.SetAppPath(home.path()); }
    void load(const QByteArray &content)
    {
        ASSERT_TRUE(writeFile(file, content));
        book.LoadAddressBook();
        book.ShowAddressBook();
    }

    testsupport::TempHome home;
    const QString file = home.path() + "/quorvel.adk";
    ControlCentreState state;
    AddressBookFile book{state};
};

TEST_F(AddressBookFileTest, ParseRuleDroppedLinesAndTheLookUp)
{
    const QByteArray content = "Ann Smith[ann]ann@example.test\r\nno brackets\r\n]bad[order\r\n"
                               "[x]y\r\nCarl[a]b]Z\r\nDan[[d]]\nEve[only open";
    load(content);
    EXPECT_EQ(book.entries(), (QList<AddressEntry>{{"Ann Smith", "ann", "ann@example.test"},
                                                   {"", "x", "y"},
                                                   {"Carl", "a", "b]Z"},
                                                   {"Dan", "[d", "]"}}));
    EXPECT_EQ(readFile(file), content);

    book.Delete(0);
    EXPECT_EQ(readFile(file), "[x]y\r\nCarl[a]b]Z\r\nDan[[d]]\r\n");

    // The look-up reads the file again; a line that is no entry never answers.
    writeFile(file, "Ann Smith wrote this line\r\n]Ann[x\r\nx[Ann\r\nANN SMITH[a]ann@x.test\r\n");
    EXPECT_EQ(book.GetEmailAddress("ann smith"), "ann@x.test");
    EXPECT_EQ(book.GetEmailAddress("nothing"), "");
}

TEST_F(AddressBookFileTest, TextIsUtf8AndAnotherCodePageKeepsItsBytes)
{
    const QByteArray latin1Line = "M\xfcller[m]m@example.test\r\n";
    load(latin1Line);
    EXPECT_EQ(book.entries().value(0).name, QString::fromLatin1("M\xfcller"));

    EXPECT_TRUE(book.Add({QString::fromUtf8("Zoë Ωmega"), QString::fromUtf8("зоя"), "z@x.test\r\n"}));
    EXPECT_EQ(readFile(file), latin1Line + QByteArray("Zoë Ωmega[зоя]z@x.test\r\n"));

    // A changed entry is the user's new text, written as UTF-8.
    EXPECT_TRUE(book.Edit(0, {QString::fromLatin1("M\xfcller"), "mu", "m@example.test"}));
    EXPECT_TRUE(readFile(file).startsWith("Müller[mu]m@example.test\r\n"));
}

} // namespace
