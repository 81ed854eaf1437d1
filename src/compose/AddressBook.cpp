#include "compose/AddressBook.h"

#include "compose/CommandBar.h"
#include "platform/CaseResolver.h"
#include "platform/Paths.h"
#include "store/SharedState.h"
#include "store/TextOps.h"

#include <QFile>
#include <QHeaderView>
#include <QToolBar>
#include <QVBoxLayout>

TfrmAddressBook::TfrmAddressBook(ControlCentreState &state, QWidget *parent)
    : QWidget(parent, Qt::Tool), state_(state)
{
    setObjectName("frmAddressBook");
    setWindowTitle("Address Book");
    resize(435, 291);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    QToolBar *bar = makeCommandBar(this);
    auto add = [bar](const QString &caption, const char *name) { return addCommand(bar, caption, name); };
    tbClose = add("Close", "tbClose");
    tbAdd = add("Add", "tbAdd");
    tbEdit = add("Edit", "tbEdit");
    tbUse = add("Use", "tbUse");
    tbDelete = add("Delete", "tbDelete");
    connect(tbClose, &QAction::triggered, this, &QWidget::close);
    column->addWidget(bar);

    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName("ListView1");
    ListView1->setRootIsDecorated(false);
    ListView1->setHeaderLabels({"Name", "Alias", "Email"});
    ListView1->header()->resizeSection(0, 120);
    ListView1->header()->resizeSection(1, 100);
    ListView1->header()->resizeSection(2, 200);
    column->addWidget(ListView1, 1);
}

QString TfrmAddressBook::AddressBookPath() const
{
    return platform::resolveCase(platform::joinPath(state_.AppPath, "quorvel.adk"));
}

void TfrmAddressBook::LoadAddressBook()
{
    QStringList &lines = state_.meAddressBook;
    lines.clear();
    QFile f(AddressBookPath());
    if (f.exists()) {
        if (f.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : SplitLines(f.readAll()))
                lines << TextFromStore(line);
        }
    } else {
        f.open(QIODevice::WriteOnly);
    }
}

void TfrmAddressBook::ShowAddressBook()
{
    ListView1->clear();
    for (const QString &line : std::as_const(state_.meAddressBook)) {
        const qsizetype p = line.indexOf('[');
        const qsizetype q = line.indexOf(']');
        if (p < 0 || p >= q)
            continue;
        new QTreeWidgetItem(ListView1, {line.left(p), line.mid(p + 1, q - p - 1), line.mid(q + 1)});
    }
}
