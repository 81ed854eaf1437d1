#include "common/ZunEncryption.h"

#include "platform/Clock.h"
#include "platform/Error.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

class ZunEncryptionTest : public ::testing::Test {
protected:
    void TearDown() override { platform::setRandomForTesting({}); }
    void fixStart(int start)
    {
        platform::setRandomForTesting([start](int bound) {
            EXPECT_EQ(bound, 256);
            return start;
        });
    }
    TZunEncryption te;
};

TEST_F(ZunEncryptionTest, ScramblesWithTheGivenKeyCyclically)
{
    fixStart(0x10);
    te.setKey("ab");
    te.setInput("Hi");
    te.Execute();
    // H: (72 + 0x10) mod 255 = 0x58, xor 'a' = 0x39; i: (105 + 0x39) mod 255 = 0xA2,
    // xor 'b' = 0xC0.
    EXPECT_EQ(te.Output(), "1039C0");

    te.setAction(atDecryption);
    te.setInput("1039c0");
    te.Execute();
    EXPECT_EQ(te.Output(), "Hi");
}

TEST_F(ZunEncryptionTest, BuiltInKeyScramblesAsSetupDid)
{
    // A password stored by an earlier installation must keep reading back.
    fixStart(0x3C);
    EXPECT_EQ(te.EncryptText("secret"), "3CDF3FDA27FF1A");
    EXPECT_EQ(te.DecryptText("3CDF3FDA27FF1A"), "secret");
    EXPECT_EQ(TZunEncryption::BuiltInKey().size(), 16);
    EXPECT_TRUE(QRegularExpression("^[a-z]{16}$").match(TZunEncryption::BuiltInKey()).hasMatch());
}

TEST_F(ZunEncryptionTest, ScrambledFormHasTwoDigitsPerCharacterAfterTheStart)
{
    EXPECT_EQ(te.EncryptText(""), "");
    EXPECT_EQ(te.DecryptText(""), "");
    const QString one = te.EncryptText("x");
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{4}$").match(one).hasMatch()) << one.toStdString();
    EXPECT_EQ(te.EncryptText("password").size(), 2 + 2 * 8);
}

TEST_F(ZunEncryptionTest, EveryCharacterRoundTripsFromEveryStartingValue)
{
    // One- to four-byte UTF-8 characters after every starting value: the chain of
    // previous values reaches both branches of the unscrambling and the modulo-255 wrap.
    QString text;
    for (char16_t c = 1; c <= 0xFF; ++c)
        text += QChar(c);
    text += QString::fromUtf8("€ключ🔑");
    for (int start = 0; start < 256; ++start) {
        fixStart(start);
        ASSERT_EQ(te.DecryptText(te.EncryptText(text)), text) << start;
    }
}

TEST_F(ZunEncryptionTest, StoredBytesThatAreNotUtf8ReadAsLatin1)
{
    // "été" scrambled one byte per character, starting value 5.
    EXPECT_EQ(te.DecryptText("059E692B"), QString::fromUtf8("été"));
}

TEST_F(ZunEncryptionTest, NonLatinPasswordsRoundTripAsUtf8)
{
    const QString password = QString::fromUtf8("pässwörd ключ 🔑");
    fixStart(200);
    const QString stored = te.EncryptText(password);
    EXPECT_EQ(stored.size(), 2 + 2 * password.toUtf8().size());
    EXPECT_EQ(te.DecryptText(stored), password);
}

TEST_F(ZunEncryptionTest, SameTextScramblesDifferentlyFromDifferentStarts)
{
    fixStart(1);
    const QString a = te.EncryptText("secret");
    fixStart(2);
    const QString b = te.EncryptText("secret");
    EXPECT_NE(a, b);
    EXPECT_EQ(te.DecryptText(a), "secret");
    EXPECT_EQ(te.DecryptText(b), "secret");
}

TEST_F(ZunEncryptionTest, DamagedTextsFailInExecuteAndReadAsEmpty)
{
    te.setKey(TZunEncryption::BuiltInKey());
    te.setAction(atDecryption);
    for (const char *damaged : {"3C", "3", "3CDF3", "3CZZ", "XYDF", "3C-1", "3C 1"}) {
        te.setInput(damaged);
        EXPECT_THROW(te.Execute(), platform::Error) << damaged;
        EXPECT_EQ(te.DecryptText(damaged), "") << damaged;
    }
}

TEST_F(ZunEncryptionTest, PropertiesAndEmptyKey)
{
    EXPECT_EQ(te.Action(), atEncryption);
    // An empty key scrambles with the sums alone.
    fixStart(0);
    te.setKey("");
    te.setInput("A");
    te.Execute();
    EXPECT_EQ(te.Output(), "0041");
}

} // namespace
