#include "compose/Editor.h"

#include "compose/CommandBar.h"
#include "store/SharedState.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolBar>
#include <QVBoxLayout>

TfrmEditor::TfrmEditor(ControlCentreState &state, QWidget *parent)
    : QMainWindow(parent, Qt::Window), state_(state)
{
    setObjectName("frmEditor");
    setWindowTitle("quorvel");
    resize(538, 452);

    QToolBar *bar = makeCommandBar(this);
    addToolBar(bar);
    auto add = [bar](const QString &caption, const char *name) { return addCommand(bar, caption, name); };
    tbClose = add("Close", "tbClose");
    tbQueue = add("Queue", "tbQueue");
    tbCut = add("Cut", "tbCut");
    tbPaste = add("Paste", "tbPaste");
    tbCopy = add("Copy", "tbCopy");
    tbObject = add("Object", "tbObject");
    tbAddress = add("Address", "tbAddress");
    tbAttach = add("Attach", "tbAttach");
    tbFont = add("Font", "tbFont");
    connect(tbClose, &QAction::triggered, this, &QWidget::close);
    connect(tbAddress, &QAction::triggered, this, [this] { emit addressBookRequested(true); });

    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    ckOtherMail = new QCheckBox("Tick here if sending quorvel to other email programs.", central);
    ckOtherMail->setObjectName("ckOtherMail");
    ckOtherMail->setStyleSheet("color: red");
    column->addWidget(ckOtherMail);
    auto *format = new QHBoxLayout;
    format->addWidget(new QLabel("Font", central));
    cbFont = new QComboBox(central);
    cbFont->setObjectName("cbFont");
    format->addWidget(cbFont, 1);
    column->addLayout(format);
    Editor = new QTextEdit(central);
    Editor->setObjectName("Editor");
    column->addWidget(Editor, 1);
    setCentralWidget(central);

    MailName = "New Mail";
}

void TfrmEditor::ToggleQueue(bool enabled)
{
    for (QAction *a : {tbQueue, tbAttach, tbCut, tbCopy, tbPaste, tbObject, tbAddress, tbFont})
        a->setEnabled(enabled);
    ckOtherMail->setChecked(false);
}

void TfrmEditor::New1Click()
{
    MailName = "New Mail";
    Editor->clear();
    Editor->document()->setModified(false);
}

void TfrmEditor::LoadMail(const MailContent &mail)
{
    // The recipient and attachment lists and the RTF body come with the whole editor;
    // until then the body shows the text.
    Editor->setPlainText(QString::fromUtf8(mail.body));
    Editor->document()->setModified(false);
}

void TfrmEditor::AddRecipient(const QString &) {}
