#include "compose/EditEntry.h"

#include "compose/CommandBar.h"

#include <QFormLayout>
#include <QToolBar>
#include <QVBoxLayout>

TfrmEditEntry::TfrmEditEntry(QWidget *parent)
    : QDialog(parent, Qt::Tool)
{
    setObjectName("frmEditEntry");
    setWindowTitle("Edit Entry");
    setFixedSize(355, 229);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 8);
    QToolBar *bar = makeCommandBar(this);
    QAction *close = addCommand(bar, "Close", "tbClose");
    QAction *save = addCommand(bar, "Save", "tbSave");
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

void TfrmEditEntry::showEvent(QShowEvent *event)
{
    Saved = false;
    QDialog::showEvent(event);
}
