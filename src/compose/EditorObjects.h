#pragma once
// Pictures and embedded files in the editor's body: the object item and its verbs,
// paste special and insert object. Objects never open in place: "Open" writes the
// object's bytes into the outbox's working directory and hands the file to the
// desktop's default application; what that application saves there comes back into
// the body before the mail is next saved.

#include "rtf/Rtf.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTextImageFormat>

#include <functional>
#include <optional>

class QAction;
class QImage;
class QTextCursor;
class QMimeData;
class QTextEdit;
class QWidget;

// Puts a file's bytes in at the cursor: as a picture when they are one and not
// `asIcon`, else as an embedded file shown as an icon. False when nothing fits.
bool embedItem(QTextCursor &cursor, const QString &name, const QByteArray &bytes, bool asIcon);

// Turns the pictures that pasted HTML brought into [start, end) into the body's own:
// a data: picture becomes an embedded picture; a picture by any other URL (file:,
// http:) is dropped, never loaded. Pictures already embedded in `doc` stay.
void adoptPictures(QTextDocument &doc, int start, int end);

class TEditorObjects : public QObject {
    Q_OBJECT
public:
    // `workDir` gives the directory that opened objects are written to.
    TEditorObjects(QTextEdit &body, std::function<QString()> workDir, QObject *parent);

    struct Selected {
        int position;            // of the object's character
        QTextImageFormat format;
        rtf::Embedded item;
    };
    // The object selected in the body, or the one just before the cursor.
    std::optional<Selected> selected() const;
    // The type shown in the object item: the file's kind, or "Picture".
    static QString typeName(const rtf::Embedded &item);

    // Sets `item` to "&Object <type>" with one sub-item per verb of the selected
    // object ("Open", "Save As"), enabled only when there is one; "&Object" and
    // disabled without.
    void fillObjectMenu(QAction *item);
    // The verbs on the selected object.
    bool openSelected();
    void saveSelectedAs();
    // Puts back into the body what the default application saved into opened objects.
    void takeBackOpened();
    // Objects opened before belong to the mail that was cleared: their files go.
    void forgetOpened();

    // Paste special's choices, in the order offered.
    enum PasteChoice { RichText, RichTextWithoutObjects, PlainText, EmbeddedObject, LinkToSource };
    static QString choiceCaption(PasteChoice choice);
    // The choices the clipboard data allows.
    static QList<PasteChoice> pasteChoices(const QMimeData *data);
    // Pastes `data` as `choice`; an embedded object is shown as an icon when `asIcon`.
    bool pasteSpecial(const QMimeData *data, PasteChoice choice, bool asIcon);
    // Runs the paste-special dialog over the clipboard.
    void pasteSpecialDialog(QWidget *parent);

    // Insert object: a new object of a template's type (an empty file without one),
    // then opened for editing; or a chosen file, embedded or linked.
    bool insertNew(const QString &templatePath);
    bool insertFromFile(const QString &path, bool link, bool asIcon);
    // The desktop's document templates ($XDG_TEMPLATES_DIR, else ~/Templates).
    static QStringList templates();
    void insertObjectDialog(QWidget *parent);

    // Opens a file with the desktop's default application (tests replace it).
    static std::function<bool(const QString &path)> &opener();

private:
    bool insertItem(const QString &name, const QByteArray &bytes, bool asIcon);
    void insertLink(const QString &path);
    bool open(const Selected &object);

    QTextEdit &body_;
    std::function<QString()> workDir_;
    struct Opened {
        QString path;
        QByteArray bytes;   // as handed to the application
    };
    // By the image name of the object opened.
    QHash<QString, Opened> opened_;
};
