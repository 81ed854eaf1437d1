#pragma once
// The sticker strip at the bottom of the editor: eleven picture slots on a white
// panel, the red frame of the slot last pointed at, the paging arrows, the count box
// and the tab set of collections. It shows what the editor gives it and reports the
// user's gestures; the editor keeps the strip's state and does the work.

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QWidget>

class QTabBar;
class QToolButton;

// One slot: pointing at it, a right press and a double-click are reported; a single
// left press does nothing.
class TStickerSlot : public QLabel {
    Q_OBJECT
public:
    TStickerSlot(int number, QWidget *parent);

signals:
    void pointed(int slot);
    void insertRequested(int slot);

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    int number_;
};

class TStickerStrip : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSlots = 11;
    static constexpr int kSlotSize = 36;
    static constexpr int kPointedSize = 40;
    static constexpr int kSlotPitch = 44;

    explicit TStickerStrip(QWidget *parent);

    // Slots are numbered 1 to kSlots. `body` is what inserting the slot's sticker puts
    // into a mail.
    void setPicture(int slot, const QImage &picture, const QString &name, const QByteArray &body);
    // The empty-slot picture, no tool tip.
    void clearSlot(int slot);
    // The sticker's file name a slot shows (its tool tip); empty for an empty slot.
    QString slotName(int slot) const;
    // What inserting the slot's sticker puts into a mail: PNG bytes.
    QByteArray slotBody(int slot) const;
    // Slot `slot` grows to the pointed size, the others go back to the normal one, and
    // the frame moves around it.
    void point(int slot);
    // Every slot at the normal size.
    void resetSlotSizes();
    void setCount(int members);

    // The tab set. No tab is chosen until the user clicks one (or one is chosen here).
    QStringList tabNames() const;
    void setTabs(const QStringList &names);
    void addTab(const QString &name);
    void removeTab(int index);
    int chosenTab() const { return chosen_; }
    void setChosenTab(int index);

signals:
    void pointed(int slot);
    void insertRequested(int slot);
    void nextPage();
    void previousPage();
    // A click on a tab other than the chosen one, which it now is.
    void tabChosen(int index);

protected:
    void showEvent(QShowEvent *event) override;

private:
    TStickerSlot *slotAt(int slot) const;
    static int slotLeft(int slot) { return 4 + kSlotPitch * (slot - 1); }

    QList<TStickerSlot *> slots_;
    QList<QByteArray> bodies_;
    QWidget *frame_;
    QLabel *count_;
    QTabBar *tabs_;
    QPixmap empty_;
    QByteArray emptyBody_;
    int chosen_ = -1;
};
