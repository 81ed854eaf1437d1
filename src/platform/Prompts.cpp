#include "platform/Prompts.h"

#include <cstdio>

namespace platform {

namespace {

// Until a program installs its prompts, messages go to standard error and every
// question is answered in the negative: nothing is done that a user did not confirm.
class StderrPrompts : public Prompts {
public:
    void warning(const QString &text) override { print("warning", text); }
    void information(const QString &text) override { print("information", text); }
    void plain(const QString &text) override { print("message", text); }
    void error(const QString &text) override { print("error", text); }
    Answer confirmYesNo(const QString &text) override { print("question", text); return Answer::No; }
    Answer confirmYesNoCancel(const QString &text) override
    {
        print("question", text);
        return Answer::Cancel;
    }
    std::optional<FileOpenChoice> fileOpenChoice(const QString &, const QString &,
                                                 const QString &, bool) override
    {
        return std::nullopt;
    }
    std::optional<QString> fileSave(const QString &, const QString &, const QString &) override
    {
        return std::nullopt;
    }
    std::optional<FontChoice> fontChoice(const FontChoice &) override { return std::nullopt; }

private:
    static void print(const char *kind, const QString &text)
    {
        std::fprintf(stderr, "quorvel %s: %s\n", kind, qPrintable(text));
    }
};

StderrPrompts fallbackPrompts;
Prompts *current = nullptr;

} // namespace

std::optional<QString> Prompts::fileOpen(const QString &caption, const QString &dir,
                                         const QString &filter)
{
    const auto choice = fileOpenChoice(caption, dir, filter, false);
    return choice ? std::optional<QString>(choice->path) : std::nullopt;
}

std::optional<QString> Prompts::font(const QString &currentFace)
{
    FontChoice current;
    current.family = currentFace;
    const auto choice = fontChoice(current);
    return choice ? std::optional<QString>(choice->family) : std::nullopt;
}

Prompts &prompts() { return current ? *current : fallbackPrompts; }

Prompts *setPrompts(Prompts *p)
{
    Prompts *previous = current;
    current = p;
    return previous;
}

} // namespace platform
