// The editor's sticker strip and "Sticker" menu. The file work is StickerCollections';
// the strip widget shows and reports; these handlers keep the strip's state.

#include "compose/Editor.h"

#include "compose/NewFolder.h"
#include "compose/StickerCollection.h"
#include "compose/StickerStrip.h"
#include "platform/Command.h"
#include "platform/Error.h"
#include "platform/Prompts.h"
#include "store/FolderOps.h"

#include <QApplication>
#include <QClipboard>
#include <QLayout>
#include <QMenuBar>
#include <QMimeData>

#include <algorithm>

namespace {

const QString kCaption = QStringLiteral("quorvel");
const QString kNoMore = QStringLiteral("No more sticker to load!");

// The hourglass and the working caption while a collection is unpacked; both go back
// however the work ends.
class Compiling {
public:
    explicit Compiling(QWidget *window) : window_(window)
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        window_->setWindowTitle(QStringLiteral("Compiling sticker..."));
    }
    ~Compiling()
    {
        QApplication::restoreOverrideCursor();
        window_->setWindowTitle(kCaption);
    }
    Compiling(const Compiling &) = delete;
    Compiling &operator=(const Compiling &) = delete;

private:
    QWidget *window_;
};

} // namespace

// Defined here, where StickerCollections is complete; its destructor removes the
// unpacked copies.
TfrmEditor::~TfrmEditor() = default;

void TfrmEditor::createStickerStrip(QLayout *column)
{
    stickers_ = std::make_unique<StickerCollections>(state_);
    strip_ = new TStickerStrip(centralWidget());
    column->addWidget(strip_);
    connect(strip_, &TStickerStrip::pointed, this, &TfrmEditor::StickerMouseMove);
    connect(strip_, &TStickerStrip::insertRequested, this,
            [this](int slot) { platform::runCommand([this, slot] { StickerInsert(slot); }); });
    connect(strip_, &TStickerStrip::nextPage, this, command(&TfrmEditor::SpinButton1DownClick));
    connect(strip_, &TStickerStrip::previousPage, this, command(&TfrmEditor::SpinButton1UpClick));
    connect(strip_, &TStickerStrip::tabChosen, this,
            [this](int index) { platform::runCommand([this, index] { TabSet1Click(index); }); });

    QMenu *menu = menuBar()->addMenu("Sticker");
    auto item = [this, menu](const QString &text, const char *name, void (TfrmEditor::*handler)()) {
        QAction *a = menu->addAction(text);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, command(handler));
    };
    item("Add New Sticker", "AddNewSticker1", &TfrmEditor::AddSticker);
    item("Delete Sticker", "DeleteSticker1", &TfrmEditor::DeleteSticker);
    menu->addSeparator();
    item("Add New Collection", "AddNewCollection1", &TfrmEditor::AddNewCollection1Click);
    item("Delete Collection", "DeleteCollection1", &TfrmEditor::DeleteCollection1Click);

    // The first collection is shown, though no tab is chosen yet.
    platform::runCommand([this] {
        const QStringList names = stickers_->List();
        strip_->setTabs(names);
        if (!names.isEmpty())
            LoadSticker(names.first());
    });
}

void TfrmEditor::LoadSticker(const QString &name)
{
    CurrentCollection = name;
    if (!stickers_->Exists(name)) {
        platform::prompts().warning("Unable to location collection " + name);
        return;
    }
    QString failure;
    {
        const Compiling busy(this);
        const StickerCollections::Unpacked unpacked = stickers_->Unpack(name);
        StickerNames = unpacked.names;
        strip_->setCount(unpacked.memberCount);
        failure = unpacked.failure;
        PageStart = 1;
        LoadPicture(1, TStickerStrip::kSlots);
        repaint();
    }
    // What could be read is shown; then what could not is reported.
    if (!failure.isEmpty())
        throw platform::Error(failure);
}

void TfrmEditor::LoadPicture(int first, int count)
{
    for (int k = 1; k <= count; ++k) {
        const int position = first + k - 1;
        if (position < 1 || position > StickerNames.size()) {
            ClearStickerSlot(k);
            continue;
        }
        const QString &name = StickerNames[position - 1];
        setWindowTitle("Loading " + name + "...");
        // A picture that cannot be loaded leaves the slot as it was.
        const StickerCollections::Picture picture = stickers_->Load(name);
        if (!picture.image.isNull())
            strip_->setPicture(k, picture.image, name, picture.body);
    }
    setWindowTitle(kCaption);
}

void TfrmEditor::ClearStickerSlot(int slot)
{
    strip_->clearSlot(slot);
}

void TfrmEditor::CleanPicture()
{
    stickers_->Clean();
}

void TfrmEditor::SpinButton1DownClick()
{
    if (StickerNames.size() < PageStart + TStickerStrip::kSlots) {
        platform::prompts().warning(kNoMore);
        return;
    }
    PageStart += TStickerStrip::kSlots;
    LoadPicture(PageStart, TStickerStrip::kSlots);
}

void TfrmEditor::SpinButton1UpClick()
{
    if (PageStart < TStickerStrip::kSlots + 1) {
        platform::prompts().warning(kNoMore);
        return;
    }
    PageStart -= TStickerStrip::kSlots;
    LoadPicture(PageStart, TStickerStrip::kSlots);
}

void TfrmEditor::StickerMouseMove(int slot)
{
    CurrentSticker = strip_->slotName(slot);
    SelectedSlot = CurrentSticker.isEmpty() ? -1 : slot;
}

void TfrmEditor::StickerInsert(int slot)
{
    const QByteArray png = strip_->slotBody(slot);
    auto *data = new QMimeData;
    data->setData(QStringLiteral("image/png"), png);
    data->setImageData(QImage::fromData(png, "PNG"));
    QApplication::clipboard()->setMimeData(data);
    HasContent = true;
    Editor->paste();
    Editor->setFocus();
    Editor->viewport()->update();
}

void TfrmEditor::TabSet1Click(int index)
{
    CleanPicture();
    LoadSticker(strip_->tabNames().value(index));
}

void TfrmEditor::AddSticker()
{
    auto &prompts = platform::prompts();
    const int chosen = strip_->chosenTab();
    if (chosen < 0) {
        prompts.information("Click on the sticker page you want to add sticker");
        return;
    }
    const auto file = prompts.fileOpen("Add New Sticker", QString(), "Picture Files (*.bmp *.BMP)");
    if (!file)
        return;
    const QString name = strip_->tabNames().value(chosen);
    stickers_->AddSticker(name, *file);
    LoadSticker(name);
}

void TfrmEditor::DeleteSticker()
{
    auto &prompts = platform::prompts();
    if (SelectedSlot < 1 || SelectedSlot > TStickerStrip::kSlots) {
        prompts.information("Select the sticker to be deleted");
        return;
    }
    if (prompts.confirmYesNo("Click Yes to delete " + CurrentSticker + " or No to cancel the deletion")
        != platform::Answer::Yes)
        return;
    stickers_->DeleteSticker(CurrentCollection, CurrentSticker);
    const auto at = std::find_if(StickerNames.begin(), StickerNames.end(), [this](const QString &n) {
        return n.compare(CurrentSticker, Qt::CaseInsensitive) == 0;
    });
    if (at != StickerNames.end())
        StickerNames.erase(at);
    ClearStickerSlot(SelectedSlot);
    SelectedSlot = -1;
}

bool TfrmEditor::NewCollection(const QString &name)
{
    // Letter case is ignored: "Faces" would otherwise find the archive of "faces".
    const QStringList tabs = strip_->tabNames();
    return !tabs.contains(name, Qt::CaseInsensitive) && !stickers_->Exists(name);
}

void TfrmEditor::AddNewCollection1Click()
{
    if (!frmNewFolder)
        return;
    // The name box keeps what was typed last.
    frmNewFolder->setWindowTitle("New Sticker Collection");
    frmNewFolder->Label1->setText("Name of The New Collection");
    frmNewFolder->exec();
    const QString name = FolderNameFromInput(frmNewFolder->FolderName);
    if (name.isEmpty())
        return;
    if (!NewCollection(name)) {
        platform::prompts().warning(name + " is an existing collection");
        return;
    }
    stickers_->NewCollection(name);
    strip_->addTab(name.toLower());
}

void TfrmEditor::DeleteCollection1Click()
{
    auto &prompts = platform::prompts();
    const int chosen = strip_->chosenTab();
    if (chosen < 0) {
        prompts.information("Click on the collection to be deleted.");
        return;
    }
    const QString name = strip_->tabNames().value(chosen);
    if (prompts.confirmYesNo("Click Yes to delete collection " + name + " or No to cancel the deletion")
        != platform::Answer::Yes)
        return;
    stickers_->DeleteCollection(name);
    strip_->removeTab(chosen);
    const int left = strip_->tabNames().size();
    if (left == 0)
        return;
    const int next = std::min(chosen, left - 1);
    strip_->setChosenTab(next);
    TabSet1Click(next);
}
