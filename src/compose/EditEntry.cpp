#include "compose/EditEntry.h"

#include "compose/CommandBar.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>

namespace {
constexpr int kClientWidth = 355;
constexpr int kClientHeight = 229;
} // namespace

TfrmEditEntry::TfrmEditEntry(QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName("frmEditEntry");
    setWindowTitle("Edit Entry");
    setFixedSize(kClientWidth, kClientHeight);
    setModal(true);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 8);
    QToolBar *bar = makeCommandBar(this);
    QAction *close = addCommand(bar, "Close", "tbClose");
    QAction *save = addCommand(bar, "Save", "tbSave");
    close->setIcon(themeIcon(this, "window-close", QStyle::SP_DialogCloseButton));
    save->setIcon(themeIcon(this, "document-save", QStyle::SP_DialogSaveButton));
    connect(close, &QAction::triggered, this, [this] { Saved = false; reject(); });
    connect(save, &QAction::triggered, this, [this] { Saved = true; accept(); });
    column->addWidget(bar);

    auto *form = new QFormLayout;
    form->setContentsMargins(8, 0, 8, 0);
    edName = new QLineEdit(this);
    edName->setObjectName("edName");
    edAlias = new QLineEdit(this);
    edAlias->setObjectName("edAlias");
    meEmail = new QPlainTextEdit(this);
    meEmail->setObjectName("meEmail");
    form->addRow("Name:", edName);
    form->addRow("Alias:", edAlias);
    form->addRow("Email:", meEmail);
    column->addLayout(form, 1);
}

std::optional<AddressEntry> TfrmEditEntry::Ask(const AddressEntry &entry)
{
    edName->setText(entry.name);
    edAlias->setText(entry.alias);
    meEmail->setPlainText(entry.email);
    edName->setFocus();
    exec();
    if (!Saved)
        return std::nullopt;
    return AddressEntry{edName->text(), edAlias->text(), meEmail->toPlainText()};
}

void TfrmEditEntry::showEvent(QShowEvent *event)
{
    Saved = false;
    QDialog::showEvent(event);
}

bool TfrmEditEntry::event(QEvent *event)
{
    // An activation the window system delivers after "Save" closed the dialog is late,
    // not a new showing.
    if (event->type() == QEvent::WindowActivate && isVisible())
        Saved = false;
    return QDialog::event(event);
}
