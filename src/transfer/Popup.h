#pragma once
// The progress window of the posting and fetching runs: a busy animation for each
// kind of run, a progress bar and a one-line text. The runs drive it through
// RunProgress.

#include "transfer/RunProgress.h"

#include <QLabel>
#include <QProgressBar>
#include <QWidget>

class TBusyIndicator;

class TfrmPopup : public QWidget, public RunProgress {
    Q_OBJECT
public:
    explicit TfrmPopup(QWidget *parent = nullptr);

    void begin(Kind kind, int count, const QString &text) override;
    void advance(int position, const QString &text) override;
    void end() override;

    TBusyIndicator *gaPost;
    TBusyIndicator *gaFetch;
    QProgressBar *pbBar;
    QLabel *Panel1;

protected:
    void showEvent(QShowEvent *event) override;
};
