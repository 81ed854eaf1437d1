#include "folder/Folder.h"

#include "compose/CommandBar.h"
#include "compose/Editor.h"
#include "compose/NewFolder.h"
#include "common/ArchiveOps.h"
#include "platform/Command.h"
#include "platform/Prompts.h"
#include "store/SharedState.h"
#include "store/TextOps.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QShowEvent>
#include <QStyle>
#include <QTabBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

enum Column { kIcon, kFrom, kSubject, kDate, kAttachment, kMailType };
constexpr int kMailIdRole = Qt::UserRole;
constexpr int kIconRole = Qt::UserRole + 1;
// The sort key of a text column is kept under this role plus the column's number.
constexpr int kSortKeyRole = Qt::UserRole + 10;
// Icons of the list: a mail never opened, and every other.
constexpr int kIconNew = 0;
constexpr int kIconOld = 1;

const QString kInbox = QStringLiteral("INBOX");
const QString kRead = QStringLiteral("READ");
const QString kSent = QStringLiteral("SENT");

bool sameFolder(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// A sort key: ASCII letters in lower case, spaces and control characters trimmed at
// both ends, compared byte by byte. Made once per row, as it is listed.
QByteArray sortKey(const QString &text)
{
    QByteArray key = TrimControl(text.toUtf8());
    for (char &c : key) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return key;
}

QIcon mailIcon(const QWidget *window, int icon)
{
    return icon == kIconNew ? themeIcon(window, "mail-unread", QStyle::SP_FileIcon)
                            : themeIcon(window, "mail-read", QStyle::SP_FileLinkIcon);
}

int sign(int n) { return n > 0 ? 1 : n < 0 ? -1 : 0; }

// The hourglass cursor and the tab set disabled for the scope, restored after an
// error too.
class BusyScope {
public:
    explicit BusyScope(QWidget *disabled = nullptr) : disabled_(disabled)
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        if (disabled_)
            disabled_->setEnabled(false);
    }
    ~BusyScope()
    {
        if (disabled_)
            disabled_->setEnabled(true);
        QApplication::restoreOverrideCursor();
    }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    QWidget *disabled_;
};

} // namespace

TfrmFolder::TfrmFolder(ControlCentreState &state, QWidget *parent)
    : QWidget(parent, Qt::Tool), state_(state)
{
    setObjectName("frmFolder");
    setWindowTitle("Folder");
    setFont(QFont("Arial", font().pointSize()));
    resize(618, 400);

    auto action = [this](const QString &caption, const char *name, const char *theme,
                         QStyle::StandardPixmap fallback, void (TfrmFolder::*handler)()) {
        auto *a = new QAction(themeIcon(this, theme, fallback), caption, this);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, [this, handler] { command(handler); });
        return a;
    };
    tbClose = action("Close", "tbClose", "window-close", QStyle::SP_DialogCloseButton, &TfrmFolder::tbCloseClick);
    tbAdd = action("Add", "tbAdd", "folder-new", QStyle::SP_FileDialogNewFolder, &TfrmFolder::tbAddClick);
    tbRename = action("Rename", "tbRename", "edit-rename", QStyle::SP_FileDialogDetailedView,
                      &TfrmFolder::tbRenameClick);
    tbDelete = action("Delete", "tbDelete", "edit-delete", QStyle::SP_TrashIcon, &TfrmFolder::tbDeleteClick);
    tbReply = action("Reply", "tbReply", "mail-reply-sender", QStyle::SP_ArrowBack, &TfrmFolder::tbReplyClick);
    tbForward = action("Forward", "tbForward", "mail-forward", QStyle::SP_ArrowForward,
                       &TfrmFolder::tbForwardClick);
    tbView = action("View", "tbView", "document-open", QStyle::SP_FileDialogContentsView, &TfrmFolder::tbViewClick);
    tbTrash = action("Trash", "tbTrash", "user-trash", QStyle::SP_TrashIcon, &TfrmFolder::tbTrashClick);

    auto button = [this](QAction *a) {
        auto *b = new QToolButton(this);
        b->setDefaultAction(a);
        b->setObjectName(a->objectName() + "Button");
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setFixedSize(kCommandButtonSize, kCommandButtonSize);
        b->setAutoRaise(true);
        return b;
    };

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 5);
    auto *top = new QHBoxLayout;
    for (QAction *a : {tbClose, tbAdd, tbRename, tbDelete})
        top->addWidget(button(a));
    auto *fileTo = new QVBoxLayout;
    fileTo->addWidget(new QLabel("File To:", this));
    cbFolder = new QComboBox(this);
    cbFolder->setObjectName("cbFolder");
    cbFolder->setEditable(false);
    cbFolder->setMinimumWidth(150);
    fileTo->addWidget(cbFolder);
    top->addLayout(fileTo);
    top->addStretch(1);
    column->addLayout(top);

    auto *lower = new QHBoxLayout;
    auto *left = new QVBoxLayout;
    for (QAction *a : {tbReply, tbForward, tbView})
        left->addWidget(button(a));
    left->addStretch(1);
    left->addWidget(button(tbTrash));
    lower->addLayout(left);

    auto *listColumn = new QVBoxLayout;
    listColumn->setSpacing(1);
    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName("ListView1");
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A style sheet rule for items replaces the style's painting of the selection: it
    // is given back explicitly, or a selected row shows white text on white.
    ListView1->setStyleSheet("QTreeView::item { border-right: 1px solid lightgray; border-bottom: 1px solid lightgray; }"
                             "QTreeView::item:selected { background: palette(highlight); color: palette(highlighted-text); }");
    QPalette palette = ListView1->palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setBrush(QPalette::Inactive, role, palette.brush(QPalette::Active, role));
    ListView1->setPalette(palette);
    ListView1->setHeaderLabels({"", "From", "Subject", "Date", "Attachment", "Mail-Type"});
    const int widths[] = {30, 200, 280, 100, 20, 20};
    for (int i = 0; i < 6; ++i)
        ListView1->header()->resizeSection(i, widths[i]);
    ListView1->header()->setSectionsClickable(true);
    ListView1->header()->setStretchLastSection(false);
    listColumn->addWidget(ListView1, 1);
    TabSet1 = new QTabBar(this);
    TabSet1->setObjectName("TabSet1");
    TabSet1->setShape(QTabBar::RoundedSouth);
    TabSet1->setExpanding(false);
    TabSet1->setStyleSheet("QTabBar::tab { height: 32px; }");
    listColumn->addWidget(TabSet1);
    lower->addLayout(listColumn, 1);
    column->addLayout(lower, 1);

    connect(ListView1->header(), &QHeaderView::sectionClicked, this,
            [this](int c) { platform::runCommand([this, c] { ListView1ColumnClick(c); }); });
    connect(ListView1, &QTreeWidget::itemSelectionChanged, this, &TfrmFolder::updateCommands);
    connect(ListView1, &QTreeWidget::itemDoubleClicked, tbView, &QAction::trigger);
    connect(TabSet1, &QTabBar::tabBarClicked, this, [this](int index) {
        // A click on the selected tab lists it again; another one arrives as a change.
        if (index == TabSet1->currentIndex())
            command(&TfrmFolder::TabSet1Click);
    });
    connect(TabSet1, &QTabBar::currentChanged, this, [this] { command(&TfrmFolder::TabSet1Click); });
    connect(cbFolder, &QComboBox::activated, this, [this](int index) {
        platform::runCommand([this, index] { cbFolderChange(cbFolder->itemText(index)); });
    });

    LoadFolder();
    updateCommands();
}

void TfrmFolder::command(void (TfrmFolder::*handler)())
{
    platform::runCommand([this, handler] { (this->*handler)(); });
}

void TfrmFolder::showEvent(QShowEvent *event)
{
    Activated = true;
    QWidget::showEvent(event);
}

QStringList TfrmFolder::MailIds() const
{
    QStringList ids;
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        ids << ListView1->topLevelItem(i)->data(kIcon, kMailIdRole).toString();
    return ids;
}

QTreeWidgetItem *TfrmFolder::selectedRow() const
{
    const QList<QTreeWidgetItem *> rows = ListView1->selectedItems();
    return rows.isEmpty() ? nullptr : rows.first();
}

void TfrmFolder::updateCommands()
{
    const bool row = selectedRow() != nullptr;
    const bool sent = sameFolder(CurrentFolder, kSent);
    tbView->setEnabled(row);
    tbTrash->setEnabled(row);
    tbReply->setEnabled(row && !sent);
    tbForward->setEnabled(row && !sent);
    tbRename->setEnabled(!CurrentFolder.isEmpty());
    tbDelete->setEnabled(!CurrentFolder.isEmpty());
}

bool TfrmFolder::storeMayChange() const
{
    if (!state_.Runs.active())
        return true;
    platform::prompts().information(RunState::kRefusal);
    return false;
}

void TfrmFolder::LoadFolder()
{
    const int remembered = TabSet1->count() >= 2 ? TabSet1->currentIndex() : -1;
    const QStringList folders = ListFolders(state_.InboxDir);
    {
        const QSignalBlocker blockTabs(TabSet1);
        while (TabSet1->count() > 0)
            TabSet1->removeTab(0);
        cbFolder->clear();
        for (const QString &folder : folders) {
            TabSet1->addTab(folder);
            cbFolder->addItem(folder);
        }
        if (folders.isEmpty())
            return;
        TabSet1->setCurrentIndex(remembered >= 0 ? std::min(remembered, int(folders.size()) - 1) : 0);
    }
    cbFolder->setCurrentIndex(-1);
    TabSet1Click();
}

void TfrmFolder::TabSet1Click()
{
    const int index = TabSet1->currentIndex();
    if (index < 0)
        return;
    CurrentFolder = TabSet1->tabText(index);
    ListView1->headerItem()->setText(kFrom, sameFolder(CurrentFolder, kSent) ? "To" : "From");
    updateCommands();
    if (Activated)
        LoadMailHeader(CurrentFolder);
}

void TfrmFolder::LoadMailHeader(const QString &folder)
{
    const BusyScope busy(TabSet1);
    ListView1->clear();
    setWindowTitle("Loading mails...");
    const QList<FolderMail> mails = ListFolder(state_.InboxDir, folder);
    QList<QTreeWidgetItem *> rows;
    rows.reserve(mails.size());
    const QIcon iconNew = mailIcon(this, kIconNew);
    const QIcon iconOld = mailIcon(this, kIconOld);
    for (const FolderMail &mail : mails) {
        const HeaderRecord &r = mail.record;
        const int icon = r.status == kStatusNew ? kIconNew : kIconOld;
        auto *row = new QTreeWidgetItem({QString(), DisplayText(r.from), DisplayText(r.subject),
                                         TextFromStore(r.date), TextFromStore(r.attach),
                                         TextFromStore(r.mailType)});
        row->setIcon(kIcon, icon == kIconNew ? iconNew : iconOld);
        row->setData(kIcon, kIconRole, icon);
        row->setData(kIcon, kMailIdRole, mail.mailId);
        for (const int c : {kFrom, kSubject, kDate})
            row->setData(c, kSortKeyRole + c, sortKey(row->text(c)));
        rows << row;
    }
    ListView1->addTopLevelItems(rows);
    setWindowTitle("Folders");
    updateCommands();
}

int TfrmFolder::ListView1Compare(const QTreeWidgetItem *item1, const QTreeWidgetItem *item2) const
{
    if (SortMode == kSortIcon)
        return sign(item1->data(kIcon, kIconRole).toInt() - item2->data(kIcon, kIconRole).toInt());
    const int column = SortMode == kSortFrom ? kFrom : SortMode == kSortSubject ? kSubject : kDate;
    const bool ascending = SortMode == kSortFrom      ? FromAscending
                           : SortMode == kSortSubject ? SubjectAscending
                                                      : DateAscending;
    const int order = sign(item1->data(column, kSortKeyRole + column).toByteArray().compare(
        item2->data(column, kSortKeyRole + column).toByteArray()));
    return ascending ? order : -order;
}

void TfrmFolder::ListView1ColumnClick(int column)
{
    switch (column) {
    case kFrom:
        SortMode = kSortFrom;
        FromAscending = !FromAscending;
        break;
    case kSubject:
        SortMode = kSortSubject;
        SubjectAscending = !SubjectAscending;
        break;
    case kDate:
        SortMode = kSortDate;
        DateAscending = !DateAscending;
        break;
    default:
        SortMode = kSortIcon;
    }
    QTreeWidgetItem *selected = selectedRow();
    QList<QTreeWidgetItem *> rows = ListView1->invisibleRootItem()->takeChildren();
    std::stable_sort(rows.begin(), rows.end(), [this](const QTreeWidgetItem *a, const QTreeWidgetItem *b) {
        return ListView1Compare(a, b) < 0;
    });
    ListView1->addTopLevelItems(rows);
    if (selected)
        selected->setSelected(true);
}

void TfrmFolder::OpenMail(bool editable, OpenMode mode, QChar code)
{
    QTreeWidgetItem *row = selectedRow();
    if (!row || !frmEditor)
        return;
    QString mailId = row->data(kIcon, kMailIdRole).toString();
    QString folder = CurrentFolder;

    StoreCommand store;
    if (!SetMailStatus(state_.ZipArchive1, state_.InboxDir, folder, mailId, code)) {
        LoadMailHeader(CurrentFolder);   // the list was out of date
        return;
    }
    // A mail handled in INBOX moves to READ before it opens, so the editor finds its
    // attachments where they are, under the names they have there.
    if (sameFolder(folder, kInbox)) {
        const BusyScope busy;
        const QString moved = moveMail(state_.ZipArchive1, state_.InboxDir, folder, kRead, mailId);
        if (!moved.isEmpty()) {
            mailId = moved;
            folder = kRead;
            delete row;
            row = nullptr;
        }
    }
    if (row) {
        row->setIcon(kIcon, mailIcon(this, kIconOld));
        row->setData(kIcon, kIconRole, kIconOld);
    }
    store.finish();

    const std::optional<MailContent> mail = ReadMail(state_.ZipArchive1, state_.InboxDir, folder, mailId, mode);
    if (!mail)
        return;
    frmEditor->LoadMail(*mail);
    frmEditor->EditorMode = sameFolder(CurrentFolder, kSent) ? TfrmEditor::kModeFromSent : TfrmEditor::kModeFromFolder;
    frmEditor->SourceFolder = folder;
    frmEditor->Editable = editable;
    frmEditor->show();
    frmEditor->raise();
    frmEditor->activateWindow();
    frmEditor->repaint();
    frmEditor->ToggleQueue(editable);
    updateCommands();
}

void TfrmFolder::tbViewClick()
{
    if (selectedRow() && storeMayChange())
        OpenMail(false, OpenMode::View, u' ');
}

void TfrmFolder::tbReplyClick()
{
    if (selectedRow() && !sameFolder(CurrentFolder, kSent) && storeMayChange())
        OpenMail(true, OpenMode::Reply, u'R');
}

void TfrmFolder::tbForwardClick()
{
    if (selectedRow() && !sameFolder(CurrentFolder, kSent) && storeMayChange())
        OpenMail(true, OpenMode::Forward, u'F');
}

void TfrmFolder::tbTrashClick()
{
    QTreeWidgetItem *row = selectedRow();
    if (!row || !storeMayChange())
        return;
    if (platform::prompts().confirmYesNo("Click Yes to proceed deletion") == platform::Answer::No)
        return;
    deleteMail(state_.ZipArchive1, state_.InboxDir, CurrentFolder, row->data(kIcon, kMailIdRole).toString());
    delete row;
    updateCommands();
}

void TfrmFolder::cbFolderChange(const QString &name)
{
    QTreeWidgetItem *row = selectedRow();
    if (name.isEmpty() || sameFolder(name, CurrentFolder) || !row)
        return;
    if (!storeMayChange())
        return;
    if (platform::prompts().confirmYesNo("Click Yes to move selected mail to folder [" + name.toUpper() + "]")
        != platform::Answer::Yes)
        return;
    {
        const BusyScope busy;
        moveMail(state_.ZipArchive1, state_.InboxDir, CurrentFolder, name,
                 row->data(kIcon, kMailIdRole).toString());
    }
    LoadMailHeader(CurrentFolder);
}

void TfrmFolder::tbAddClick()
{
    if (!frmNewFolder || !storeMayChange())
        return;
    frmNewFolder->Init("ADD");
    if (frmNewFolder->exec() != QDialog::Accepted)
        return;
    const QString name = FolderNameFromInput(frmNewFolder->FolderName);
    if (!name.isEmpty() && AddFolder(state_.ZipArchive1, state_.InboxDir, name))
        LoadFolder();
}

void TfrmFolder::tbRenameClick()
{
    if (!frmNewFolder || !storeMayChange())
        return;
    if (IsDefaultFolder(CurrentFolder)) {
        platform::prompts().warning("INBOX is the default folder, renaming is not permitted");
        return;
    }
    frmNewFolder->Init("RENAME", CurrentFolder);
    if (frmNewFolder->exec() != QDialog::Accepted)
        return;
    const QString name = FolderNameFromInput(frmNewFolder->FolderName);
    if (!name.isEmpty() && RenameFolder(state_.InboxDir, CurrentFolder, name))
        LoadFolder();
}

void TfrmFolder::tbDeleteClick()
{
    if (!storeMayChange())
        return;
    if (IsDefaultFolder(CurrentFolder)) {
        platform::prompts().warning("INBOX is the default folder, deletion is not permitted");
        return;
    }
    if (platform::prompts().confirmYesNo("Click Yes to delete folder [" + CurrentFolder.toUpper() + "] now!")
        != platform::Answer::Yes)
        return;
    if (DeleteFolder(state_.InboxDir, CurrentFolder))
        LoadFolder();
}

void TfrmFolder::tbCloseClick()
{
    hide();
}
