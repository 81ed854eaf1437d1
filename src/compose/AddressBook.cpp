#include "compose/AddressBook.h"

#include "compose/CommandBar.h"
#include "compose/EditEntry.h"
#include "platform/Command.h"
#include "platform/Prompts.h"

#include <QHeaderView>
#include <QScopeGuard>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

TfrmAddressBook::TfrmAddressBook(ControlCentreState &state, QWidget *parent)
    : QWidget(parent, Qt::Tool), book_(state)
{
    setObjectName("frmAddressBook");
    setWindowTitle("Address Book");
    resize(435, 291);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    QToolBar *bar = makeCommandBar(this);
    auto add = [this, bar](const QString &caption, const char *name, const char *icon,
                           QStyle::StandardPixmap fallback, void (TfrmAddressBook::*run)()) {
        QAction *a = addCommand(bar, caption, name, themeIcon(this, icon, fallback));
        connect(a, &QAction::triggered, this, [this, run] { platform::runCommand([this, run] { (this->*run)(); }); });
        return a;
    };
    tbClose = add("Close", "tbClose", "window-close", QStyle::SP_DialogCloseButton, &TfrmAddressBook::tbCloseClick);
    tbAdd = add("Add", "tbAdd", "list-add", QStyle::SP_FileDialogNewFolder, &TfrmAddressBook::tbAddClick);
    tbEdit = add("Edit", "tbEdit", "document-edit", QStyle::SP_FileDialogDetailedView, &TfrmAddressBook::tbEditClick);
    tbUse = add("Use", "tbUse", "mail-forward", QStyle::SP_ArrowRight, &TfrmAddressBook::tbUseClick);
    tbDelete = add("Delete", "tbDelete", "edit-delete", QStyle::SP_TrashIcon, &TfrmAddressBook::tbDeleteClick);
    column->addWidget(bar);

    entryIcon_ = themeIcon(this, "avatar-default", QStyle::SP_FileIcon);
    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName("ListView1");
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setHeaderLabels({"Name", "Alias", "Email"});
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->resizeSection(0, 120);
    ListView1->header()->resizeSection(1, 100);
    ListView1->header()->resizeSection(2, 200);
    connect(ListView1, &QTreeWidget::itemDoubleClicked, this,
            [this] { platform::runCommand([this] { tbUseClick(); }); });
    column->addWidget(ListView1, 1);
}

void TfrmAddressBook::SetUseEnabled(bool enabled)
{
    tbUse->setEnabled(enabled);
}

void TfrmAddressBook::LoadAddressBook()
{
    book_.LoadAddressBook();
}

void TfrmAddressBook::ShowAddressBook()
{
    book_.ShowAddressBook();
    showEntries(-1);
}

void TfrmAddressBook::WriteAddressBook()
{
    book_.WriteAddressBook();
}

QString TfrmAddressBook::GetEmailAddress(const QString &name)
{
    return book_.GetEmailAddress(name);
}

int TfrmAddressBook::selectedRow() const
{
    const QList<QTreeWidgetItem *> selected = ListView1->selectedItems();
    return selected.isEmpty() ? -1 : ListView1->indexOfTopLevelItem(selected.first());
}

void TfrmAddressBook::showEntries(int row)
{
    ListView1->clear();
    QList<QTreeWidgetItem *> items;
    items.reserve(book_.entries().size());
    for (const AddressEntry &entry : book_.entries()) {
        auto *item = new QTreeWidgetItem(QStringList{entry.name, entry.alias, entry.email});
        item->setIcon(0, entryIcon_);
        items << item;
    }
    ListView1->addTopLevelItems(items);
    if (QTreeWidgetItem *item = ListView1->topLevelItem(row))
        ListView1->setCurrentItem(item);
}

TfrmEditEntry *TfrmAddressBook::entryDialog()
{
    if (!frmEditEntry)
        frmEditEntry = new TfrmEditEntry(this);
    return frmEditEntry;
}

void TfrmAddressBook::tbAddClick()
{
    const std::optional<AddressEntry> typed = entryDialog()->Ask({});
    if (!typed)
        return;
    const int row = selectedRow();
    // A failed write leaves the entry in the list, as the entries do.
    const auto show = qScopeGuard([&] { showEntries(row); });
    book_.Add(*typed);
}

void TfrmAddressBook::tbEditClick()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    const std::optional<AddressEntry> typed = entryDialog()->Ask(book_.entries().at(row));
    if (!typed)
        return;
    const auto show = qScopeGuard([&] { showEntries(row); });
    book_.Edit(row, *typed);
}

void TfrmAddressBook::tbDeleteClick()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    const QString question = "Click Yes to delete " + book_.entries().at(row).name + " or No to cancel it";
    if (platform::prompts().confirmYesNo(question) == platform::Answer::No)
        return;
    const auto show = qScopeGuard([&] { showEntries(-1); });
    book_.Delete(row);
}

void TfrmAddressBook::tbUseClick()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    emit addressPicked(GetEmailAddress(book_.entries().at(row).name));
}

void TfrmAddressBook::tbCloseClick()
{
    hide();
}
