#pragma once
// A busy animation for the progress window: an envelope travelling along a track,
// outwards while posting and inwards while fetching. It can be shown, hidden,
// placed, started and stopped like any widget.

#include <QTimer>
#include <QWidget>

class TBusyIndicator : public QWidget {
    Q_OBJECT
public:
    enum class Direction { Outgoing, Incoming };

    explicit TBusyIndicator(Direction direction, QWidget *parent = nullptr);

    void start();
    void stop();
    bool isRunning() const { return timer_.isActive(); }
    // Animation step, 0 .. kSteps - 1.
    int phase() const { return phase_; }

    static constexpr int kSteps = 24;
    static constexpr int kFrameMs = 60;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void advance();

    Direction direction_;
    QTimer timer_;
    int phase_ = 0;
};
