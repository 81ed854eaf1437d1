#include "platform/Clock.h"
#include "platform/Command.h"
#include "platform/Error.h"
#include "platform/ScriptedPrompts.h"

#include <gtest/gtest.h>
#include <stdexcept>

using namespace platform;

TEST(ScriptedPrompts, RecordsAndAnswersInOrder)
{
    ScriptedPrompts p;
    p.answer(Answer::Yes);
    p.answerPath("/tmp/a.txt");
    p.answerCancel();

    prompts().warning("careful");
    EXPECT_EQ(prompts().confirmYesNo("Delete?"), Answer::Yes);
    EXPECT_EQ(prompts().fileOpen("Open", "/tmp", "*"), std::optional<QString>("/tmp/a.txt"));
    EXPECT_EQ(prompts().font("Arial"), std::nullopt);
    // Nothing scripted: the question is recorded as unanswered and gets the safe answer.
    EXPECT_EQ(prompts().confirmYesNoCancel("Save?"), Answer::Cancel);

    EXPECT_EQ(p.texts(), QStringList({"careful", "Delete?", "Open", "Arial", "Save?"}));
    EXPECT_EQ(p.texts(PromptKind::Warning), QStringList({"careful"}));
    EXPECT_EQ(p.unanswered, QStringList({"Save?"}));
    EXPECT_EQ(p.scriptLeft(), 0);
}

TEST(ScriptedPrompts, NestedInstallationRestoresThePrevious)
{
    ScriptedPrompts outer;
    {
        ScriptedPrompts inner;
        prompts().information("inner");
        EXPECT_EQ(inner.texts(), QStringList({"inner"}));
    }
    prompts().information("outer");
    EXPECT_EQ(outer.texts(), QStringList({"outer"}));
}

TEST(Command, ErrorsEndTheCommandWithTheirText)
{
    ScriptedPrompts p;
    EXPECT_TRUE(runCommand([] {}));
    EXPECT_FALSE(runCommand([] { throw Error("Unable to write to quorvel.ini"); }));
    EXPECT_FALSE(runCommand([] { throw std::runtime_error("plain failure"); }));
    EXPECT_FALSE(runCommand([] { throw 42; }));
    EXPECT_EQ(p.texts(PromptKind::Error),
              QStringList({"Unable to write to quorvel.ini", "plain failure", "Unknown error"}));
}

TEST(Clock, TestSeamsReplaceAndRestore)
{
    const QDateTime fixed(QDate(2026, 12, 7), QTime(11, 8, 15));
    setClockForTesting([&] { return fixed; });
    setRandomForTesting([](int bound) { return bound - 1; });
    EXPECT_EQ(now(), fixed);
    EXPECT_EQ(randomBelow(256), 255);
    setClockForTesting({});
    setRandomForTesting({});
    EXPECT_NE(now(), fixed);
    for (int i = 0; i < 100; ++i) {
        const int r = randomBelow(256);
        EXPECT_GE(r, 0);
        EXPECT_LT(r, 256);
    }
    EXPECT_EQ(randomBelow(1), 0);
}
