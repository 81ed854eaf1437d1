#pragma once
// Every message box, confirmation, file dialog and font dialog of the system goes
// through this interface. Programs install the widget implementation; tests install
// ScriptedPrompts, which records each prompt and answers from a script. The interface
// is Qt Core only, so the cores may show messages without depending on widgets.

#include <QString>
#include <optional>

namespace platform {

enum class PromptKind {
    Warning,          // warning box, OK
    Information,      // information box, OK
    Plain,            // plain box with one OK button (lower-level components)
    Error,            // the default error handler's box
    ConfirmYesNo,
    ConfirmYesNoCancel,
    FileOpen,
    FileSave,
    Font,
};

enum class Answer { Yes, No, Cancel };

// What the file-open dialog returns: the chosen path and its open-as-read-only box.
struct FileOpenChoice {
    QString path;
    bool readOnly = false;
};

// A font as the font dialog shows and returns it. `colour` is "#rrggbb", or empty for
// none chosen; `pointSize` 0 means none.
struct FontChoice {
    QString family;
    int pointSize = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    QString colour;
    bool operator==(const FontChoice &) const = default;
};

class Prompts {
public:
    virtual ~Prompts() = default;

    virtual void warning(const QString &text) = 0;
    virtual void information(const QString &text) = 0;
    virtual void plain(const QString &text) = 0;
    virtual void error(const QString &text) = 0;
    // Yes or No.
    virtual Answer confirmYesNo(const QString &text) = 0;
    // Yes, No or Cancel.
    virtual Answer confirmYesNoCancel(const QString &text) = 0;
    // The chosen path, or nothing when the user cancels. `filter` uses Qt's
    // "Text files (*.txt);;All files (*)" form.
    std::optional<QString> fileOpen(const QString &caption, const QString &dir,
                                    const QString &filter);
    // The same dialog offering an open-as-read-only box when `offerReadOnly`.
    virtual std::optional<FileOpenChoice> fileOpenChoice(const QString &caption,
                                                         const QString &dir,
                                                         const QString &filter,
                                                         bool offerReadOnly) = 0;
    virtual std::optional<QString> fileSave(const QString &caption, const QString &path,
                                            const QString &filter) = 0;
    // The chosen font's face name, or nothing when the user cancels.
    std::optional<QString> font(const QString &currentFace);
    // The whole font dialog: face, size, style, effects and colour.
    virtual std::optional<FontChoice> fontChoice(const FontChoice &current) = 0;
};

// The process's prompts. Before a program or test installs its own, a fallback
// writes each message to standard error and answers No / Cancel.
Prompts &prompts();

// Installs `p` (not owned; nullptr restores the fallback) and returns the previous one.
Prompts *setPrompts(Prompts *p);

} // namespace platform
