#include "compose/Editor.h"

#include "compose/CommandBar.h"
#include "compose/EditorObjects.h"
#include "compose/StickerCollection.h"
#include "platform/Command.h"
#include "platform/Paths.h"
#include "platform/Prompts.h"
#include "rtf/Rtf.h"
#include "store/SharedState.h"
#include "store/MailIdentifier.h"
#include "store/StorePaths.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPrintDialog>
#include <QPrinter>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString kNewMail = QStringLiteral("New Mail");
const QString kPackageFilter = QStringLiteral("quorvel Files (*.m *.M);;All Files (*)");

// The body's default text: "Arial", blue, 27 pixels high.
QTextCharFormat bodyFormat()
{
    QTextCharFormat format;
    format.setFontFamilies({QStringLiteral("Arial")});
    format.setProperty(QTextFormat::FontPixelSize, 27);
    format.setForeground(QColor(Qt::blue));
    return format;
}

// The colours of cbColor, as a colour list of the desktop offers them.
const std::pair<const char *, Qt::GlobalColor> kColours[] = {
    {"Black", Qt::black},     {"Maroon", Qt::darkRed},   {"Green", Qt::darkGreen},
    {"Olive", Qt::darkYellow}, {"Navy", Qt::darkBlue},   {"Purple", Qt::darkMagenta},
    {"Teal", Qt::darkCyan},   {"Gray", Qt::darkGray},    {"Silver", Qt::lightGray},
    {"Red", Qt::red},         {"Lime", Qt::green},       {"Yellow", Qt::yellow},
    {"Blue", Qt::blue},       {"Fuchsia", Qt::magenta},  {"Aqua", Qt::cyan},
    {"White", Qt::white},
};

QIcon swatch(const QColor &colour)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

} // namespace

// ---- the body -------------------------------------------------------------------

QVariant TBodyEdit::loadResource(int, const QUrl &)
{
    // The document's own pictures are registered with it; anything else (a file: or a
    // remote URL in pasted HTML) is never fetched.
    return {};
}

bool TBodyEdit::canInsertFromMimeData(const QMimeData *source) const
{
    return source->hasImage() || source->hasFormat("image/png")
           || QTextEdit::canInsertFromMimeData(source);
}

void TBodyEdit::insertFromMimeData(const QMimeData *source)
{
    QTextCursor cursor = textCursor();
    if (source->hasFormat("image/png")) {
        // Kept as it came: a sticker is never encoded again.
        if (rtf::insertPicture(cursor, source->data("image/png")))
            return;
    }
    if (source->hasImage()) {
        const QImage image = qvariant_cast<QImage>(source->imageData());
        if (!image.isNull() && rtf::insertPicture(cursor, rtf::pngFile(image)))
            return;
    }
    if (source->hasHtml()) {
        insertHtml(source->html());
        return;
    }
    // Files copied or dropped from a file manager are embedded.
    bool embeddedFiles = false;
    for (const QUrl &url : source->urls()) {
        QFile file(url.toLocalFile());
        if (!url.isLocalFile() || !file.open(QIODevice::ReadOnly))
            continue;
        embeddedFiles |= embedItem(cursor, QFileInfo(file).fileName(), file.readAll(), false);
    }
    if (!embeddedFiles)
        QTextEdit::insertFromMimeData(source);
}

void TBodyEdit::insertHtml(const QString &html)
{
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    const int start = cursor.selectionStart();
    cursor.insertFragment(QTextDocumentFragment::fromHtml(html, document()));
    const int end = cursor.position();
    adoptPictures(*document(), start, end);
    cursor.endEditBlock();
    setTextCursor(cursor);
}

// ---- the window -----------------------------------------------------------------

TfrmEditor::TfrmEditor(ControlCentreState &state, QWidget *parent)
    : QMainWindow(parent, Qt::Window), state_(state), writer_(state)
{
    setObjectName("frmEditor");
    setWindowTitle("quorvel");
    resize(538, 452);
    recipientIcon_ = themeIcon(this, "contact-new", QStyle::SP_FileDialogInfoView);
    attachmentIcon_ = themeIcon(this, "mail-attachment", QStyle::SP_FileIcon);

    QToolBar *bar = makeCommandBar(this);
    bar->setIconSize(QSize(24, 24));
    addToolBar(bar);
    // One action per command: the toolbar shows its icon text, a menu its text.
    auto add = [this, bar](const QString &caption, const QString &menuText, const char *name,
                           const char *theme, QStyle::StandardPixmap fallback) {
        QAction *a = addCommand(bar, caption, name, themeIcon(this, theme, fallback));
        a->setText(menuText);
        a->setIconText(caption);
        return a;
    };
    tbClose = add("Close", "&Quit", "tbClose", "window-close", QStyle::SP_DialogCloseButton);
    tbQueue = add("Queue", "Queue", "tbQueue", "mail-send", QStyle::SP_ArrowForward);
    tbCut = add("Cut", "C&ut", "tbCut", "edit-cut", QStyle::SP_DialogDiscardButton);
    tbPaste = add("Paste", "&Paste", "tbPaste", "edit-paste", QStyle::SP_DialogOpenButton);
    tbCopy = add("Copy", "&Copy", "tbCopy", "edit-copy", QStyle::SP_FileLinkIcon);
    tbObject = add("Object", "&Object", "tbObject", "insert-object", QStyle::SP_FileIcon);
    tbAddress = add("Address", "Address Book", "tbAddress", "x-office-address-book",
                    QStyle::SP_DirHomeIcon);
    tbAttach = add("Attach", "Attach", "tbAttach", "mail-attachment", QStyle::SP_DirOpenIcon);
    tbFont = add("Font", "Font", "tbFont", "preferences-desktop-font", QStyle::SP_FileDialogDetailedView);
    tbClose->setShortcut(QKeySequence("Ctrl+Q"));
    tbCut->setShortcut(QKeySequence("Ctrl+X"));
    tbPaste->setShortcut(QKeySequence("Ctrl+V"));
    tbCopy->setShortcut(QKeySequence("Ctrl+C"));
    for (QAction *a : {tbCut, tbPaste, tbCopy})
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);

    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(2, 2, 2, 2);
    createHeader(central);
    column->addWidget(tabs_);
    auto *subjectRow = new QHBoxLayout;
    subjectRow->addWidget(new QLabel("Subject:", central));
    edSubject = new QLineEdit(central);
    edSubject->setObjectName("edSubject");
    subjectRow->addWidget(edSubject, 1);
    column->addLayout(subjectRow);
    ckOtherMail = new QCheckBox("Tick here if sending quorvel to other email programs.", central);
    ckOtherMail->setObjectName("ckOtherMail");
    ckOtherMail->setStyleSheet("color: red");
    column->addWidget(ckOtherMail);
    column->addLayout(createFormatRow(central));

    Editor = new TBodyEdit(central);
    Editor->setObjectName("Editor");
    Editor->setAcceptRichText(true);
    Editor->setTabChangesFocus(false);
    Editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Editor->setContextMenuPolicy(Qt::CustomContextMenu);
    Editor->document()->setDocumentMargin(4);
    column->addWidget(Editor, 1);
    setCentralWidget(central);
    objects_ = new TEditorObjects(*Editor, [this] { return platform::workDir(state_.OutboxDir); }, this);
    // The toolbar's "Object" inserts an object; held down, it shows the selected
    // object's verbs.
    auto *objectButton = qobject_cast<QToolButton *>(bar->widgetForAction(tbObject));
    auto *objectMenu = new QMenu(objectButton);
    objectButton->setMenu(objectMenu);
    objectButton->setPopupMode(QToolButton::DelayedPopup);
    connect(objectMenu, &QMenu::aboutToShow, this, [this, objectMenu] {
        objectMenu->clear();
        QAction *item = objectMenu->addAction("&Object");
        item->setObjectName("ObjectItem");
        objects_->fillObjectMenu(item);
    });
    resetBody();

    auto *status = statusBar();
    status->setObjectName("StatusBar");
    status->setSizeGripEnabled(false);
    const int widths[] = {120, 60, 50};
    for (int i = 0; i < 3; ++i) {
        auto *panel = new QLabel(status);
        panel->setObjectName(QString("StatusPanel%1").arg(i + 1));
        panel->setFixedWidth(widths[i]);
        panel->setFrameShape(QFrame::StyledPanel);
        if (i == 1) {
            panel->setAlignment(Qt::AlignCenter);
            modifiedPanel_ = panel;
        }
        status->addWidget(panel);
    }

    createMenus();
    createStickerStrip(column);

    connect(tbClose, &QAction::triggered, this, &QWidget::close);
    connect(tbQueue, &QAction::triggered, this, command(&TfrmEditor::tbQueueClick));
    connect(tbCut, &QAction::triggered, Editor, &QTextEdit::cut);
    connect(tbCopy, &QAction::triggered, Editor, &QTextEdit::copy);
    connect(tbPaste, &QAction::triggered, Editor, &QTextEdit::paste);
    connect(tbObject, &QAction::triggered, this, command(&TfrmEditor::InsertObject1Click));
    connect(tbAddress, &QAction::triggered, this, [this] { emit addressBookRequested(true); });
    connect(tbAttach, &QAction::triggered, this, command(&TfrmEditor::tbAttachClick));
    connect(tbFont, &QAction::triggered, this, command(&TfrmEditor::tbFontClick));

    // State follows signals.
    connect(Editor, &QTextEdit::currentCharFormatChanged, this, &TfrmEditor::currentCharFormatChanged);
    connect(Editor, &QTextEdit::copyAvailable, this, [this](bool yes) {
        canCopy_ = yes;
        updateClipboardCommands();
    });
    connect(QApplication::clipboard(), &QClipboard::dataChanged, this,
            &TfrmEditor::updateClipboardCommands);
    connect(Editor->document(), &QTextDocument::modificationChanged, this, &TfrmEditor::ShowModified);
    connect(Editor, &QWidget::customContextMenuRequested, this, &TfrmEditor::showContextMenu);

    cbFont->clear();
    SetMailName(kNewMail);
    currentCharFormatChanged(Editor->currentCharFormat());
    updateClipboardCommands();
}

void TfrmEditor::createHeader(QWidget *central)
{
    tabs_ = new QTabWidget(central);
    tabs_->setObjectName("TabControl1");
    tabs_->setMaximumHeight(110);
    auto makeList = [this](const char *name, const QString &style) {
        auto *list = new QListWidget(tabs_);
        list->setObjectName(name);
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        list->setStyleSheet(style);
        list->viewport()->installEventFilter(this);
        return list;
    };
    lvTo = makeList("lvTo", "QListWidget { background: blue; color: white; font-weight: bold; }"
                            " QListWidget::item { border-bottom: 1px solid #8080ff; }");
    lvAttach = makeList("lvAttach", "QListWidget { background: aqua; }"
                                    " QListWidget::item { border-bottom: 1px solid #60c0c0; }");
    tabs_->addTab(lvTo, "To");
    tabs_->addTab(lvAttach, "Attachment");
}

QHBoxLayout *TfrmEditor::createFormatRow(QWidget *central)
{
    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel("Font", central));
    cbFont = new QComboBox(central);
    cbFont->setObjectName("cbFont");
    cbFont->setEditable(false);
    row->addWidget(cbFont, 1);
    row->addWidget(new QLabel("Size", central));
    fontsize = new QSpinBox(central);
    fontsize->setObjectName("fontsize");
    fontsize->setRange(1, 999);
    fontsize->setValue(20);
    row->addWidget(fontsize);
    row->addWidget(new QLabel("Color", central));
    cbColor = new QComboBox(central);
    cbColor->setObjectName("cbColor");
    for (const auto &[name, colour] : kColours)
        cbColor->addItem(swatch(colour), name, QColor(colour));
    cbColor->setCurrentIndex(-1);
    row->addWidget(cbColor);
    auto toggle = [this, central, row](const char *name, const QString &caption, auto apply) {
        auto *b = new QToolButton(central);
        b->setObjectName(name);
        b->setText(caption);
        b->setCheckable(true);
        row->addWidget(b);
        connect(b, &QToolButton::clicked, this, [this, apply](bool down) {
            QTextCharFormat f;
            apply(f, down);
            mergeFormat(f);
        });
        return b;
    };
    tbBold = toggle("tbBold", "B", [](QTextCharFormat &f, bool on) {
        f.setFontWeight(on ? QFont::Bold : QFont::Normal);
    });
    tbItalic = toggle("tbItalic", "I", [](QTextCharFormat &f, bool on) { f.setFontItalic(on); });
    tbUnderline = toggle("tbUnderline", "U", [](QTextCharFormat &f, bool on) { f.setFontUnderline(on); });

    connect(cbFont, &QComboBox::activated, this, [this](int index) {
        if (index < 0)
            return;
        QTextCharFormat f;
        f.setFontFamilies({cbFont->itemText(index)});
        mergeFormat(f);
    });
    connect(cbColor, &QComboBox::activated, this, [this](int index) {
        if (index < 0)
            return;
        QTextCharFormat f;
        f.setForeground(cbColor->itemData(index).value<QColor>());
        mergeFormat(f);
    });
    connect(fontsize, &QSpinBox::textChanged, this, [this](const QString &text) {
        bool ok = false;
        const int points = text.toInt(&ok);
        if (!ok || points <= 0)
            return;
        QTextCharFormat f;
        f.setFontPointSize(points);
        mergeFormat(f);
    });
    return row;
}

std::function<void()> TfrmEditor::command(void (TfrmEditor::*handler)())
{
    return [this, handler] { platform::runCommand([this, handler] { (this->*handler)(); }); };
}

void TfrmEditor::createMenus()
{
    auto item = [this](QMenu *menu, const QString &text, const char *name, const char *shortcut) {
        QAction *a = menu->addAction(text);
        a->setObjectName(name);
        if (shortcut)
            a->setShortcut(QKeySequence(shortcut));
        return a;
    };

    QMenu *file = menuBar()->addMenu("&File");
    connect(item(file, "&New", "New1", "Ctrl+N"), &QAction::triggered, this, command(&TfrmEditor::New1Click));
    file->addSeparator();
    connect(item(file, "&Open...", "Open1", "Ctrl+O"), &QAction::triggered, this,
            command(&TfrmEditor::Open1Click));
    Save1 = item(file, "&Save", "Save1", "Ctrl+S");
    Saveas1 = item(file, "Save &as...", "Saveas1", nullptr);
    Save1->setEnabled(false);
    Saveas1->setEnabled(false);
    connect(item(file, "Save Attachment As", "SaveAttachmentAs1", nullptr), &QAction::triggered, this,
            command(&TfrmEditor::SaveAttachmentAs1Click));
    file->addSeparator();
    connect(item(file, "&Print...", "Print1", "Ctrl+P"), &QAction::triggered, this,
            command(&TfrmEditor::Print1Click));
    file->addSeparator();
    file->addAction(tbClose);

    QMenu *mail = menuBar()->addMenu("Mail");
    mail->addAction(tbQueue);
    mail->addSeparator();
    mail->addAction(tbAttach);
    mail->addAction(tbFont);
    mail->addSeparator();
    mail->addAction(tbAddress);

    EditMenu = menuBar()->addMenu("&Edit");
    EditMenu->addAction(tbCut);
    EditMenu->addAction(tbPaste);
    EditMenu->addAction(tbCopy);
    EditMenu->addSeparator();
    PasteSpecial1 = item(EditMenu, "Paste &special...", "PasteSpecial1", nullptr);
    connect(PasteSpecial1, &QAction::triggered, this, command(&TfrmEditor::PasteSpecial1Click));
    EditMenu->addSeparator();
    InsertObject1 = item(EditMenu, "&Insert object...", "InsertObject1", nullptr);
    connect(InsertObject1, &QAction::triggered, this, command(&TfrmEditor::InsertObject1Click));
    connect(EditMenu, &QMenu::aboutToShow, this, &TfrmEditor::updateClipboardCommands);
}

// ---- fields and questions -------------------------------------------------------

void TfrmEditor::SetMailName(const QString &name)
{
    MailName = name == kNewMail ? writer_.FreshMailName() : MakeMailName(name, state_.EmailAddress);
}

void TfrmEditor::ShowModified(bool modified)
{
    modifiedPanel_->setText(modified ? "Modified" : QString());
    HasContent = modified;
}

bool TfrmEditor::CheckSaveChanges()
{
    if (!Editor->document()->isModified() || !Editable)
        return true;
    switch (platform::prompts().confirmYesNoCancel("Save changes to this mail?")) {
    case platform::Answer::Yes:
        if (refusedDuringRun())
            return false;
        FileSave();
        return true;
    case platform::Answer::No:
        return true;
    case platform::Answer::Cancel:
        return false;
    }
    return false;
}

bool TfrmEditor::refusedDuringRun() const
{
    // A posting run keeps a line queued meanwhile (its clean-up reads the queue file
    // again); a fetch run is writing the store.
    if (state_.Runs.kind() != RunState::Fetch)
        return false;
    platform::prompts().information(RunState::kRefusal);
    return true;
}

QStringList TfrmEditor::captions(const QListWidget *list)
{
    QStringList rows;
    for (int i = 0; i < list->count(); ++i)
        rows += list->item(i)->text();
    return rows;
}

OutgoingMail TfrmEditor::outgoing() const
{
    return {MailName, captions(lvTo), edSubject->text(), captions(lvAttach), ckOtherMail->isChecked()};
}

void TfrmEditor::FileSave()
{
    if (!Editable)
        return;
    objects_->takeBackOpened();
    writer_.FileSave(outgoing(), *Editor->document());
    Editor->document()->setModified(false);
    ShowModified(false);
}

void TfrmEditor::SaveMailHeader()
{
    writer_.SaveMailHeader(outgoing());
}

void TfrmEditor::PerformFileOpen(const QString &path)
{
    const QString name = writer_.PerformFileOpen(path, *Editor->document());
    SetMailName(name);
    Editor->setFocus();
    Editor->document()->setModified(false);
    ShowModified(false);
}

bool TfrmEditor::ReadyToSend()
{
    auto &prompts = platform::prompts();
    // A row left blank names no one.
    const QStringList to = captions(lvTo);
    if (std::all_of(to.begin(), to.end(), [](const QString &r) { return r.trimmed().isEmpty(); })) {
        prompts.warning("Need at least a recipient");
        return false;
    }
    if (edSubject->text().trimmed().isEmpty()
        && prompts.confirmYesNo("You have not enter a subject for this quorvel.  Click Yes to post "
                                "mail without a subject or click No to enter a subject")
               == platform::Answer::No)
        return false;
    if (!HasContent) {
        prompts.warning("You have not entered anything in the mail yet!");
        return false;
    }
    return true;
}

void TfrmEditor::ToggleQueue(bool enabled)
{
    commandsOn_ = enabled;
    for (QAction *a : {tbQueue, tbAttach, tbObject, InsertObject1, tbAddress, tbFont})
        a->setEnabled(enabled);
    updateClipboardCommands();
    ckOtherMail->setChecked(false);
}

// ---- commands -------------------------------------------------------------------

void TfrmEditor::resetBody()
{
    Editor->clear();
    Editor->setCurrentCharFormat(bodyFormat());
    QFont font("Arial");
    font.setPixelSize(27);
    Editor->document()->setDefaultFont(font);
    Editor->setReadOnly(false);
    Editor->document()->setModified(false);
}

void TfrmEditor::clearMail()
{
    objects_->forgetOpened();
    resetBody();
    ShowModified(false);
    lvTo->clear();
    lvAttach->clear();
    edSubject->clear();
}

void TfrmEditor::New1Click()
{
    if (!CheckSaveChanges())
        return;
    SetMailName(kNewMail);
    clearMail();
    HasContent = false;
}

void TfrmEditor::Open1Click()
{
    if (!CheckSaveChanges())
        return;
    const auto choice =
        platform::prompts().fileOpenChoice("Open", state_.OutboxDir, kPackageFilter, true);
    if (!choice)
        return;
    PerformFileOpen(choice->path);
    Editor->setReadOnly(choice->readOnly);
    HasContent = true;
}

void TfrmEditor::tbQueueClick()
{
    if (!ReadyToSend() || refusedDuringRun())
        return;
    if (EditorMode == kModeFromFolder || EditorMode == kModeFromSent)
        SetMailName(kNewMail);
    // Attachments of a mail from a received-mail folder name members of that folder's
    // archive, not files, and are never queued.
    objects_->takeBackOpened();
    writer_.Queue(outgoing(), EditorMode != kModeFromFolder, *Editor->document());
    Editor->document()->setModified(false);
    ShowModified(false);
    close();
}

void TfrmEditor::tbAttachClick()
{
    const auto path = platform::prompts().fileOpen("Attach", QString(), "All Files (*)");
    if (!path)
        return;
    if (const QString problem = MailWriter::AttachmentPathProblem(*path); !problem.isEmpty()) {
        platform::prompts().warning(problem);
        return;
    }
    addRow(lvAttach, attachmentIcon_, *path);
    tabs_->setCurrentWidget(lvAttach);
}

void TfrmEditor::SaveAttachmentAs1Click()
{
    auto &prompts = platform::prompts();
    QListWidgetItem *row = lvAttach->currentItem();
    if (!row || !row->isSelected() || SourceFolder.compare("SENT", Qt::CaseInsensitive) == 0) {
        prompts.warning("Select an attachment file first.");
        return;
    }
    const auto target = prompts.fileSave("Save Attachment As", row->text(), kPackageFilter);
    if (!target)
        return;
    if (QFileInfo::exists(*target)
        && prompts.confirmYesNoCancel("OK to overwrite " + *target) != platform::Answer::Yes)
        return;
    writer_.SaveAttachment(SourceFolder, row->text(), *target);
}

void TfrmEditor::tbFontClick()
{
    const QTextCharFormat now = Editor->currentCharFormat();
    const QFont font = now.font();
    platform::FontChoice current;
    current.family = font.family();
    current.pointSize = qRound(font.pointSizeF());
    current.bold = font.bold();
    current.italic = font.italic();
    current.underline = font.underline();
    current.strikeOut = font.strikeOut();
    current.colour = now.foreground().color().name();
    const auto chosen = platform::prompts().fontChoice(current);
    if (!chosen)
        return;
    QTextCharFormat f;
    f.setFontFamilies({chosen->family});
    if (chosen->pointSize > 0)
        f.setFontPointSize(chosen->pointSize);
    f.setFontWeight(chosen->bold ? QFont::Bold : QFont::Normal);
    f.setFontItalic(chosen->italic);
    f.setFontUnderline(chosen->underline);
    f.setFontStrikeOut(chosen->strikeOut);
    if (!chosen->colour.isEmpty())
        f.setForeground(QColor(chosen->colour));
    mergeFormat(f);
}

void TfrmEditor::Print1Click()
{
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() == QDialog::Accepted)
        PrintBody(printer);
}

void TfrmEditor::PrintBody(QPrinter &printer)
{
    printer.setDocName("quorvel");
    Editor->document()->print(&printer);
}

// ---- recipient and attachment lists ----------------------------------------------

QListWidgetItem *TfrmEditor::addRow(QListWidget *list, const QIcon &icon, const QString &caption)
{
    auto *row = new QListWidgetItem(icon, caption, list);
    row->setFlags(row->flags() | Qt::ItemIsEditable);
    return row;
}

void TfrmEditor::listDblClick(QListWidget *list, const QIcon &icon)
{
    QListWidgetItem *row = list->currentItem();
    if (row && row->isSelected()) {
        if (platform::prompts().confirmYesNo("Sure to remove " + row->text() + "?") == platform::Answer::Yes)
            delete row;
        return;
    }
    row = addRow(list, icon, QString());
    list->setCurrentItem(row);
    list->editItem(row);
}

void TfrmEditor::lvToDblClick()
{
    listDblClick(lvTo, recipientIcon_);
}

void TfrmEditor::lvAttachDblClick()
{
    listDblClick(lvAttach, attachmentIcon_);
}

bool TfrmEditor::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        for (QListWidget *list : {lvTo, lvAttach}) {
            if (watched != list->viewport())
                continue;
            // The row under the pointer is the selected one; empty space selects none.
            const QPoint at = static_cast<QMouseEvent *>(event)->position().toPoint();
            if (QListWidgetItem *row = list->itemAt(at))
                list->setCurrentItem(row);
            else
                list->clearSelection();
            platform::runCommand([this, list] { list == lvTo ? lvToDblClick() : lvAttachDblClick(); });
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmEditor::LoadMail(const MailContent &mail)
{
    clearMail();
    for (const QString &r : mail.recipients)
        addRow(lvTo, recipientIcon_, r);
    for (const QString &a : mail.attachments)
        addRow(lvAttach, attachmentIcon_, a);
    edSubject->setText(mail.subject);
    if (mail.richText) {
        const rtf::ReadResult read = rtf::readRtf(mail.body, *Editor->document());
        if (!read.ok)
            platform::prompts().warning(read.error);
    } else {
        Editor->setPlainText(QString::fromUtf8(mail.body));
    }
    Editor->document()->setModified(false);
    ShowModified(false);
    // A stored mail gets a name of its own before it can be saved.
    SetMailName(kNewMail);
}

void TfrmEditor::AddRecipient(const QString &address)
{
    addRow(lvTo, recipientIcon_, address);
    tabs_->setCurrentWidget(lvTo);
}

// ---- formatting -----------------------------------------------------------------

void TfrmEditor::mergeFormat(const QTextCharFormat &format)
{
    Editor->mergeCurrentCharFormat(format);
    Editor->setFocus();
}

void TfrmEditor::currentCharFormatChanged(const QTextCharFormat &format)
{
    tbBold->setChecked(format.fontWeight() >= QFont::Bold);
    tbItalic->setChecked(format.fontItalic());
    tbUnderline->setChecked(format.fontUnderline());
    const QFont font = format.font();
    const int face = cbFont->findText(font.family());
    if (face >= 0)
        cbFont->setCurrentIndex(face);
    const int points = format.fontPointSize() > 0 ? qRound(format.fontPointSize())
                       : font.pixelSize() > 0     ? qRound(font.pixelSize() * 0.75)
                                                  : 0;
    if (points > 0) {
        const QSignalBlocker quiet(fontsize);
        fontsize->setValue(points);
    }
    cbColor->setCurrentIndex(format.hasProperty(QTextFormat::ForegroundBrush)
                                 ? cbColor->findData(format.foreground().color())
                                 : -1);
}

// ---- clipboard and objects ------------------------------------------------------

void TfrmEditor::updateClipboardCommands()
{
    const bool canPaste = commandsOn_ && !Editor->isReadOnly() && Editor->canPaste();
    tbPaste->setEnabled(canPaste);
    PasteSpecial1->setEnabled(canPaste);
    tbCut->setEnabled(commandsOn_ && canCopy_);
    tbCopy->setEnabled(commandsOn_ && canCopy_);
}

void TfrmEditor::showContextMenu(const QPoint &pos)
{
    updateClipboardCommands();
    QMenu menu(this);
    menu.setObjectName("EditorPopup");
    menu.addAction(tbCopy);
    menu.addAction(tbCut);
    menu.addAction(tbPaste);
    menu.addSeparator();
    QAction *object = menu.addAction("&Object");
    object->setObjectName("ObjectItem");
    objects_->fillObjectMenu(object);
    menu.exec(Editor->viewport()->mapToGlobal(pos));
}

void TfrmEditor::PasteSpecial1Click()
{
    objects_->pasteSpecialDialog(this);
}

void TfrmEditor::InsertObject1Click()
{
    objects_->insertObjectDialog(this);
}

// ---- closing --------------------------------------------------------------------

void TfrmEditor::closeEvent(QCloseEvent *event)
{
    // A save that fails keeps the window open with its content.
    bool closing = false;
    platform::runCommand([&] { closing = CheckSaveChanges(); });
    if (!closing) {
        event->ignore();
        return;
    }
    event->accept();
    clearMail();
}
