#pragma once
// The recording, scripted prompts for tests: every prompt is recorded with its kind
// and text; questions are answered from a queue of scripted answers. A question with
// no scripted answer left is recorded in `unanswered` and answered No / Cancel /
// nothing, so a test sees that it was not expected.

#include "platform/Prompts.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <deque>

namespace platform {

struct RecordedPrompt {
    PromptKind kind;
    QString text;
    bool operator==(const RecordedPrompt &) const = default;
};

class ScriptedPrompts : public Prompts {
public:
    // Installs itself as the process's prompts; the destructor restores the previous.
    ScriptedPrompts();
    ~ScriptedPrompts() override;
    ScriptedPrompts(const ScriptedPrompts &) = delete;
    ScriptedPrompts &operator=(const ScriptedPrompts &) = delete;

    // Script the next answers, consumed in order by the questions asked.
    void answer(Answer a) { script_.push_back({Scripted::Button, a, {}}); }
    // A file dialog's path; `readOnly` ticks the open-as-read-only box.
    void answerPath(const QString &path, bool readOnly = false)
    {
        script_.push_back({Scripted::Text, Answer::Cancel, path, readOnly});
    }
    void answerFont(const QString &face)
    {
        FontChoice font;
        font.family = face;
        answerFont(font);
    }
    void answerFont(const FontChoice &font)
    {
        script_.push_back({Scripted::Text, Answer::Cancel, font.family, false, font});
    }
    void answerCancel() { script_.push_back({Scripted::Cancelled, Answer::Cancel, {}}); }

    QList<RecordedPrompt> recorded;
    QStringList unanswered;

    // Texts of the recorded prompts, in order.
    QStringList texts() const;
    // Texts of the recorded prompts of one kind.
    QStringList texts(PromptKind kind) const;
    void clear() { recorded.clear(); unanswered.clear(); script_.clear(); }
    int scriptLeft() const { return int(script_.size()); }

    void warning(const QString &text) override;
    void information(const QString &text) override;
    void plain(const QString &text) override;
    void error(const QString &text) override;
    Answer confirmYesNo(const QString &text) override;
    Answer confirmYesNoCancel(const QString &text) override;
    std::optional<FileOpenChoice> fileOpenChoice(const QString &caption, const QString &dir,
                                                 const QString &filter,
                                                 bool offerReadOnly) override;
    std::optional<QString> fileSave(const QString &caption, const QString &path,
                                    const QString &filter) override;
    std::optional<FontChoice> fontChoice(const FontChoice &current) override;

private:
    struct Scripted {
        enum Type { Cancelled, Button, Text } type;
        Answer button;
        QString text;
        bool readOnly = false;
        FontChoice font = {};
    };
    // Records the prompt and takes the next scripted answer (Cancelled when none is left).
    Scripted next(PromptKind kind, const QString &text);

    std::deque<Scripted> script_;
    Prompts *previous_ = nullptr;
};

} // namespace platform
