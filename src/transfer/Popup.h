#pragma once
// The progress window of the posting and fetching runs: a busy animation for each
// kind of run, a progress bar and a one-line text. The runs show, drive and hide it.

#include <QLabel>
#include <QProgressBar>
#include <QWidget>

class TBusyIndicator;

class TfrmPopup : public QWidget {
    Q_OBJECT
public:
    explicit TfrmPopup(QWidget *parent = nullptr);

    TBusyIndicator *gaPost;
    TBusyIndicator *gaFetch;
    QProgressBar *pbBar;
    QLabel *Panel1;

protected:
    void showEvent(QShowEvent *event) override;
};
