#pragma once
// The splash window shown while the program creates its windows.

#include <QLabel>
#include <QProgressBar>
#include <QWidget>

class TfrmFront : public QWidget {
    Q_OBJECT
public:
    explicit TfrmFront(QWidget *parent = nullptr);

    // Shows "  " + message, lets pending events run so the window repaints, and
    // advances the bar by one.
    void DisplayInfo(const QString &message);

    QLabel *imgPicture;
    QLabel *lbProduct;
    QLabel *pnInfo;
    QProgressBar *pBar;
    // Messages shown so far.
    int Counter = 0;

signals:
    void infoDisplayed(const QString &text);
};
