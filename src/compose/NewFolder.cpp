#include "compose/NewFolder.h"
#include "platform/WidgetGeometry.h"

#include "store/TextOps.h"

#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

TfrmNewFolder::TfrmNewFolder(QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName("frmNewFolder");
    setWindowTitle("Create New Folder");
    setFixedSize(300, 110);

    auto *column = new QVBoxLayout(this);
    auto *buttons = new QHBoxLayout;
    auto *close = new QPushButton("Close", this);
    close->setObjectName("tbClose");
    auto *save = new QPushButton("Save", this);
    save->setObjectName("tbSave");
    // Enter in the name box saves; Close must be clicked.
    close->setAutoDefault(false);
    save->setDefault(true);
    buttons->addWidget(close);
    buttons->addWidget(save);
    buttons->addStretch(1);
    column->addLayout(buttons);
    Label1 = new QLabel("New Folder Name:", this);
    Label1->setObjectName("Label1");
    column->addWidget(Label1);
    edFolderName = new QLineEdit(this);
    edFolderName->setObjectName("edFolderName");
    column->addWidget(edFolderName);

    connect(close, &QPushButton::clicked, this, &TfrmNewFolder::tbCloseClick);
    connect(save, &QPushButton::clicked, this, &TfrmNewFolder::tbSaveClick);
}

void TfrmNewFolder::Init(const QString &mode, const QString &currentFolder)
{
    edFolderName->clear();
    if (mode == QLatin1String("ADD")) {
        setWindowTitle("Add New Folder");
        Label1->setText("New Folder Name:");
    } else if (mode == QLatin1String("RENAME")) {
        setWindowTitle("Rename Folder");
        Label1->setText("Rename Folder " + currentFolder + " to:");
    }
}

void TfrmNewFolder::tbCloseClick()
{
    reject();
}

void TfrmNewFolder::reject()
{
    FolderName.clear();
    QDialog::reject();
}

void TfrmNewFolder::tbSaveClick()
{
    FolderName = edFolderName->text();
    CutAtDot(FolderName);
    accept();
}

void TfrmNewFolder::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        platform::centreOnScreen(this);
    QDialog::showEvent(event);
}
