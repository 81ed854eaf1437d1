#include "platform/ScriptedPrompts.h"

namespace platform {

ScriptedPrompts::ScriptedPrompts() { previous_ = setPrompts(this); }

ScriptedPrompts::~ScriptedPrompts() { setPrompts(previous_); }

QStringList ScriptedPrompts::texts() const
{
    QStringList out;
    for (const RecordedPrompt &p : recorded)
        out << p.text;
    return out;
}

QStringList ScriptedPrompts::texts(PromptKind kind) const
{
    QStringList out;
    for (const RecordedPrompt &p : recorded) {
        if (p.kind == kind)
            out << p.text;
    }
    return out;
}

ScriptedPrompts::Scripted ScriptedPrompts::next(PromptKind kind, const QString &text)
{
    recorded.append({kind, text});
    if (script_.empty()) {
        unanswered << text;
        return {Scripted::Cancelled, Answer::Cancel, {}};
    }
    Scripted s = script_.front();
    script_.pop_front();
    return s;
}

void ScriptedPrompts::warning(const QString &text) { recorded.append({PromptKind::Warning, text}); }
void ScriptedPrompts::information(const QString &text)
{
    recorded.append({PromptKind::Information, text});
}
void ScriptedPrompts::plain(const QString &text) { recorded.append({PromptKind::Plain, text}); }
void ScriptedPrompts::error(const QString &text) { recorded.append({PromptKind::Error, text}); }

Answer ScriptedPrompts::confirmYesNo(const QString &text)
{
    const Scripted s = next(PromptKind::ConfirmYesNo, text);
    return s.type == Scripted::Button && s.button == Answer::Yes ? Answer::Yes : Answer::No;
}

Answer ScriptedPrompts::confirmYesNoCancel(const QString &text)
{
    const Scripted s = next(PromptKind::ConfirmYesNoCancel, text);
    return s.type == Scripted::Button ? s.button : Answer::Cancel;
}

std::optional<FileOpenChoice> ScriptedPrompts::fileOpenChoice(const QString &caption,
                                                               const QString &, const QString &,
                                                               bool offerReadOnly)
{
    const Scripted s = next(PromptKind::FileOpen, caption);
    if (s.type != Scripted::Text)
        return std::nullopt;
    return FileOpenChoice{s.text, offerReadOnly && s.readOnly};
}

std::optional<QString> ScriptedPrompts::fileSave(const QString &caption, const QString &,
                                                 const QString &)
{
    const Scripted s = next(PromptKind::FileSave, caption);
    return s.type == Scripted::Text ? std::optional<QString>(s.text) : std::nullopt;
}

std::optional<FontChoice> ScriptedPrompts::fontChoice(const FontChoice &current)
{
    const Scripted s = next(PromptKind::Font, current.family);
    return s.type == Scripted::Text ? std::optional<FontChoice>(s.font) : std::nullopt;
}

} // namespace platform
