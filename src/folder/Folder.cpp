#include "folder/Folder.h"

#include "store/SharedState.h"

#include <QHeaderView>
#include <QVBoxLayout>

TfrmFolder::TfrmFolder(ControlCentreState &state, QWidget *parent)
    : QWidget(parent, Qt::Tool), state_(state)
{
    setObjectName("frmFolder");
    setWindowTitle("Folder");
    resize(618, 400);

    auto *column = new QVBoxLayout(this);
    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName("ListView1");
    ListView1->setRootIsDecorated(false);
    ListView1->setHeaderLabels({"", "From", "Subject", "Date", "Attachment", "Mail-Type"});
    const int widths[] = {30, 200, 280, 100, 20, 20};
    for (int i = 0; i < 6; ++i)
        ListView1->header()->resizeSection(i, widths[i]);
    column->addWidget(ListView1, 1);
    TabSet1 = new QTabBar(this);
    TabSet1->setObjectName("TabSet1");
    TabSet1->setShape(QTabBar::RoundedSouth);
    column->addWidget(TabSet1);
}

void TfrmFolder::TabSet1Click()
{
    if (TabSet1->currentIndex() < 0)
        return;
    CurrentFolder = TabSet1->tabText(TabSet1->currentIndex());
    // Listing the folder's mails comes with the folder window's store operations.
}
