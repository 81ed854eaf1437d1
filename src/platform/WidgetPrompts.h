#pragma once
// The real prompts: Qt message boxes and dialogs, parented to the active window.

#include "platform/Prompts.h"

namespace platform {

class WidgetPrompts : public Prompts {
public:
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
};

} // namespace platform
