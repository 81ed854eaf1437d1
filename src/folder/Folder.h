#pragma once
// The folder window: one tab per folder of the mail store, the selected folder's
// mails, and the commands that view, reply to, forward, file and trash them.

#include <QTabBar>
#include <QTreeWidget>
#include <QWidget>

class ControlCentreState;

class TfrmFolder : public QWidget {
    Q_OBJECT
public:
    explicit TfrmFolder(ControlCentreState &state, QWidget *parent = nullptr);

    // Shows the folder of the selected tab.
    void TabSet1Click();

    QString CurrentFolder;
    QTreeWidget *ListView1;
    QTabBar *TabSet1;

private:
    ControlCentreState &state_;
};
