#include "compose/EditorObjects.h"

#include "platform/FileUtil.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"
#include "platform/Sanitiser.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QMimeDatabase>
#include <QRadioButton>
#include <QSettings>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// Every image character of [start, end), last first, so replacing one leaves the
// positions of the others.
QList<std::pair<int, QTextImageFormat>> imagesIn(const QTextDocument &doc, int start, int end)
{
    QList<std::pair<int, QTextImageFormat>> found;
    for (QTextBlock b = doc.findBlock(start); b.isValid() && b.position() < end; b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            if (!f.charFormat().isImageFormat())
                continue;
            for (int p = f.position(); p < f.position() + f.length(); ++p)
                if (p >= start && p < end)
                    found.prepend({p, f.charFormat().toImageFormat()});
        }
    }
    return found;
}

QByteArray dataUrlBytes(const QString &url)
{
    const int comma = url.indexOf(',');
    if (comma < 0)
        return {};
    const QByteArray payload = url.mid(comma + 1).toLatin1();
    return url.left(comma).endsWith(";base64") ? QByteArray::fromBase64(payload)
                                               : QByteArray::fromPercentEncoding(payload);
}

QString localFileOf(const QMimeData *data)
{
    for (const QUrl &url : data->urls())
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile())
            return url.toLocalFile();
    return {};
}

// The file an object is opened or saved as: an embedded file's own name; a picture's
// format names it, its bytes are kept as they came.
QString fileNameOf(const rtf::Embedded &item)
{
    static const QHash<QByteArray, QString> extensions{{"pngblip", "png"}, {"jpegblip", "jpg"},
                                                       {"emfblip", "emf"}, {"wmetafile8", "wmf"},
                                                       {"dibitmap0", "bmp"}};
    const QString name = item.kind == rtf::Embedded::File
                             ? platform::sanitizeFileName(item.name)
                             : "Picture." + extensions.value(item.blip, "bin");
    return name.isEmpty() ? QStringLiteral("Object") : name;
}

} // namespace

bool embedItem(QTextCursor &cursor, const QString &name, const QByteArray &bytes, bool asIcon)
{
    if (!asIcon && rtf::insertPicture(cursor, bytes))
        return true;
    const QString type = QMimeDatabase().mimeTypeForFileNameAndData(name, bytes).name();
    return rtf::insertFile(cursor, name, type, bytes);
}

void adoptPictures(QTextDocument &doc, int start, int end)
{
    QTextCursor cursor(&doc);
    for (const auto &[position, format] : imagesIn(doc, start, end)) {
        if (rtf::embeddedAt(doc, format))
            continue;
        cursor.setPosition(position);
        cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
        const QString name = format.name();
        const QSizeF size = format.width() > 0 && format.height() > 0
                                ? QSizeF(format.width(), format.height())
                                : QSizeF();
        cursor.removeSelectedText();
        if (name.startsWith("data:", Qt::CaseInsensitive))
            rtf::insertPicture(cursor, dataUrlBytes(name), size);
    }
}

TEditorObjects::TEditorObjects(QTextEdit &body, std::function<QString()> workDir, QObject *parent)
    : QObject(parent), body_(body), workDir_(std::move(workDir))
{
}

std::function<bool(const QString &)> &TEditorObjects::opener()
{
    static std::function<bool(const QString &)> open = [](const QString &path) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    };
    return open;
}

std::optional<TEditorObjects::Selected> TEditorObjects::selected() const
{
    const QTextCursor cursor = body_.textCursor();
    if (cursor.selectionEnd() - cursor.selectionStart() > 1)
        return std::nullopt;
    // With one character selected, or none, the character before the position.
    const QTextCharFormat format = cursor.charFormat();
    const int position = cursor.hasSelection() ? cursor.selectionStart() : cursor.position() - 1;
    if (!format.isImageFormat() || position < 0)
        return std::nullopt;
    const QTextImageFormat image = format.toImageFormat();
    const auto item = rtf::embeddedAt(*body_.document(), image);
    if (!item)
        return std::nullopt;
    return Selected{position, image, *item};
}

QString TEditorObjects::typeName(const rtf::Embedded &item)
{
    if (item.kind == rtf::Embedded::Picture)
        return QStringLiteral("Picture");
    QMimeDatabase types;
    QMimeType type = types.mimeTypeForName(item.mimeType);
    if (!type.isValid() || type.isDefault())
        type = types.mimeTypeForFile(item.name, QMimeDatabase::MatchExtension);
    return type.isValid() && !type.isDefault() ? type.comment() : QStringLiteral("File");
}

void TEditorObjects::fillObjectMenu(QAction *item)
{
    delete item->menu();
    const auto object = selected();
    if (!object) {
        item->setText("&Object");
        item->setEnabled(false);
        return;
    }
    item->setText("&Object " + typeName(object->item));
    auto *verbs = new QMenu;
    connect(item, &QObject::destroyed, verbs, &QObject::deleteLater);
    verbs->addAction("&Open", this, [this] { openSelected(); });
    verbs->addAction("Save &As...", this, [this] { saveSelectedAs(); });
    item->setMenu(verbs);
    item->setEnabled(true);
}

bool TEditorObjects::open(const Selected &object)
{
    const QString name = fileNameOf(object.item);
    // One directory per object, so two objects named alike never share a file.
    const QString key = object.format.name();
    const QString dir = platform::joinPath(workDir_(), "objects/" + key.section(':', -1));
    QDir().mkpath(dir);
    const QString path = platform::joinPath(dir, name);
    if (!platform::writeFileAtomically(path, object.item.bytes, 0600)) {
        platform::prompts().error("Cannot create file " + path);
        return false;
    }
    opened_.insert(key, {path, object.item.bytes});
    return opener()(path);
}

bool TEditorObjects::openSelected()
{
    const auto object = selected();
    return object && open(*object);
}

void TEditorObjects::saveSelectedAs()
{
    const auto object = selected();
    if (!object)
        return;
    const auto target = platform::prompts().fileSave("Save As", fileNameOf(object->item), "All Files (*)");
    if (!target)
        return;
    if (!platform::writeFileAtomically(*target, object->item.bytes, 0, true))
        platform::prompts().error("Cannot create file " + *target);
}

void TEditorObjects::takeBackOpened()
{
    QTextDocument &doc = *body_.document();
    for (auto it = opened_.begin(); it != opened_.end(); ++it) {
        QFile file(it->path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray now = file.readAll();
        if (now == it->bytes)
            continue;
        QTextCursor cursor(&doc);
        QString newName;
        for (const auto &[position, format] : imagesIn(doc, 0, doc.characterCount())) {
            if (format.name() != it.key())
                continue;
            const auto item = rtf::embeddedAt(doc, format);
            if (!item)
                continue;
            cursor.setPosition(position);
            cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
            const bool replaced = item->kind == rtf::Embedded::File
                                      ? rtf::insertFile(cursor, item->name, item->mimeType, now)
                                      : rtf::insertPicture(cursor, now, QSizeF(format.width(), format.height()));
            if (replaced)
                newName = cursor.charFormat().toImageFormat().name();
        }
        it->bytes = now;
        if (!newName.isEmpty() && newName != it.key()) {
            // The object is named by its bytes; follow it under its new name.
            const Opened moved = *it;
            opened_.insert(newName, moved);
            it = opened_.erase(it);
            if (it == opened_.end())
                break;
        }
    }
}

void TEditorObjects::forgetOpened()
{
    for (const Opened &o : std::as_const(opened_))
        QDir(QFileInfo(o.path).absolutePath()).removeRecursively();
    opened_.clear();
}

QString TEditorObjects::choiceCaption(PasteChoice choice)
{
    switch (choice) {
    case RichText:
        return "Rich Text Format";
    case RichTextWithoutObjects:
        return "Rich Text Format Without Objects";
    case PlainText:
        return "Plain Text";
    case EmbeddedObject:
        return "Embedded Object";
    case LinkToSource:
        return "Link to Source";
    }
    return {};
}

QList<TEditorObjects::PasteChoice> TEditorObjects::pasteChoices(const QMimeData *data)
{
    QList<PasteChoice> choices;
    if (!data)
        return choices;
    const bool text = data->hasText() || data->hasHtml();
    if (text || data->hasImage())
        choices << RichText;
    if (text)
        choices << RichTextWithoutObjects << PlainText;
    if (data->hasImage() || data->hasFormat("image/png") || text || !localFileOf(data).isEmpty())
        choices << EmbeddedObject;
    if (!localFileOf(data).isEmpty())
        choices << LinkToSource;
    return choices;
}

bool TEditorObjects::insertItem(const QString &name, const QByteArray &bytes, bool asIcon)
{
    QTextCursor cursor = body_.textCursor();
    return embedItem(cursor, name, bytes, asIcon);
}

void TEditorObjects::insertLink(const QString &path)
{
    QTextCursor cursor = body_.textCursor();
    QTextCharFormat link = cursor.charFormat();
    link.setAnchor(true);
    link.setAnchorHref(QUrl::fromLocalFile(path).toString());
    link.setFontUnderline(true);
    cursor.insertText(QFileInfo(path).fileName(), link);
}

bool TEditorObjects::pasteSpecial(const QMimeData *data, PasteChoice choice, bool asIcon)
{
    if (!data || !pasteChoices(data).contains(choice))
        return false;
    QTextCursor cursor = body_.textCursor();
    switch (choice) {
    case RichText:
        body_.paste();
        return true;
    case RichTextWithoutObjects: {
        if (!data->hasHtml()) {
            cursor.insertText(data->text());
            return true;
        }
        cursor.beginEditBlock();
        const int start = cursor.selectionStart();
        cursor.insertFragment(QTextDocumentFragment::fromHtml(data->html(), body_.document()));
        const int end = cursor.position();
        QTextCursor remove(body_.document());
        for (const auto &entry : imagesIn(*body_.document(), start, end)) {
            remove.setPosition(entry.first);
            remove.setPosition(entry.first + 1, QTextCursor::KeepAnchor);
            remove.removeSelectedText();
        }
        cursor.endEditBlock();
        return true;
    }
    case PlainText:
        cursor.insertText(data->text());
        return true;
    case EmbeddedObject: {
        if (const QString file = localFileOf(data); !file.isEmpty()) {
            QFile f(file);
            return f.open(QIODevice::ReadOnly) && insertItem(QFileInfo(file).fileName(), f.readAll(), asIcon);
        }
        if (data->hasFormat("image/png"))
            return insertItem("Picture.png", data->data("image/png"), asIcon);
        if (data->hasImage())
            return insertItem("Picture.png", rtf::pngFile(qvariant_cast<QImage>(data->imageData())), asIcon);
        if (data->hasHtml())
            return insertItem("Document.html", data->html().toUtf8(), true);
        return insertItem("Text.txt", data->text().toUtf8(), true);
    }
    case LinkToSource:
        insertLink(localFileOf(data));
        return true;
    }
    return false;
}

void TEditorObjects::pasteSpecialDialog(QWidget *parent)
{
    const QMimeData *data = QApplication::clipboard()->mimeData();
    const QList<PasteChoice> choices = pasteChoices(data);
    QDialog dialog(parent);
    dialog.setObjectName("PasteSpecialDialog");
    dialog.setWindowTitle("Paste Special");
    auto *column = new QVBoxLayout(&dialog);
    column->addWidget(new QLabel("As:", &dialog));
    auto *list = new QListWidget(&dialog);
    list->setObjectName("lbFormats");
    for (PasteChoice c : choices)
        list->addItem(choiceCaption(c));
    list->setCurrentRow(0);
    column->addWidget(list);
    auto *icon = new QCheckBox("Display As Icon", &dialog);
    icon->setObjectName("ckAsIcon");
    column->addWidget(icon);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    column->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0)
        return;
    pasteSpecial(QApplication::clipboard()->mimeData(), choices[list->currentRow()], icon->isChecked());
}

QStringList TEditorObjects::templates()
{
    QString dir = QDir::homePath() + "/Templates";
    // The desktop names its templates directory in user-dirs.dirs.
    QFile dirs(platform::configDir() + "/user-dirs.dirs");
    if (dirs.open(QIODevice::ReadOnly)) {
        for (const QByteArray &raw : dirs.readAll().split('\n')) {
            const QByteArray line = raw.trimmed();
            if (!line.startsWith("XDG_TEMPLATES_DIR="))
                continue;
            QString value = QString::fromUtf8(line.mid(18));
            value.remove('"');
            value.replace("$HOME", QDir::homePath());
            dir = value;
        }
    }
    QStringList found;
    for (const QFileInfo &info : QDir(dir).entryInfoList(QDir::Files | QDir::Readable, QDir::Name))
        found += info.absoluteFilePath();
    return found;
}

bool TEditorObjects::insertNew(const QString &templatePath)
{
    const bool inserted = templatePath.isEmpty() ? insertItem("New file", {}, true)
                                                 : insertFromFile(templatePath, false, true);
    if (!inserted)
        return false;
    // The new object is the character just before the cursor: open it for editing.
    const auto object = selected();
    return object && open(*object);
}

bool TEditorObjects::insertFromFile(const QString &path, bool link, bool asIcon)
{
    if (link) {
        insertLink(path);
        return true;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        platform::prompts().error("Cannot open file " + path);
        return false;
    }
    return insertItem(QFileInfo(path).fileName(), f.readAll(), asIcon);
}

void TEditorObjects::insertObjectDialog(QWidget *parent)
{
    QDialog dialog(parent);
    dialog.setObjectName("InsertObjectDialog");
    dialog.setWindowTitle("Insert Object");
    auto *column = new QVBoxLayout(&dialog);
    auto *createNew = new QRadioButton("Create &New", &dialog);
    createNew->setObjectName("rbCreateNew");
    createNew->setChecked(true);
    auto *fromFile = new QRadioButton("Create from &File", &dialog);
    fromFile->setObjectName("rbFromFile");
    auto *types = new QListWidget(&dialog);
    types->setObjectName("lbTypes");
    const QStringList found = templates();
    for (const QString &t : found)
        types->addItem(QFileInfo(t).completeBaseName());
    types->addItem("Empty file");
    types->setCurrentRow(0);
    auto *link = new QCheckBox("&Link", &dialog);
    link->setObjectName("ckLink");
    auto *icon = new QCheckBox("Display As &Icon", &dialog);
    icon->setObjectName("ckAsIcon");
    column->addWidget(createNew);
    column->addWidget(types);
    column->addWidget(fromFile);
    column->addWidget(link);
    column->addWidget(icon);
    connect(createNew, &QRadioButton::toggled, types, &QWidget::setEnabled);
    connect(createNew, &QRadioButton::toggled, link, &QWidget::setDisabled);
    link->setEnabled(false);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    column->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (createNew->isChecked()) {
        const int row = types->currentRow();
        insertNew(row >= 0 && row < found.size() ? found[row] : QString());
        return;
    }
    const auto path = platform::prompts().fileOpen("Insert Object", QString(), "All Files (*)");
    if (path)
        insertFromFile(*path, link->isChecked(), icon->isChecked());
}
