// The countdown wait control: counting, stopping, swallowing input while it runs,
// sleeping rather than spinning, and its painting.
#include "net/EventPump.h"
#include "net/Wait.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <ctime>
#include <functional>
#include <gtest/gtest.h>

namespace {

double cpuSeconds() { return double(std::clock()) / CLOCKS_PER_SEC; }

} // namespace

TEST(WaitTest, ACaptionWithoutANumberCountsFromFifteen)
{
    TWait wait;
    EXPECT_EQ(wait.Caption().toStdString(), "60");
    EXPECT_EQ(wait.size(), QSize(192, 32));
    int starts = 0, stops = 0;
    wait.OnWaitStart = [&](TCustomWait *) { ++starts; };
    wait.OnWaitStop = [&](TCustomWait *) { ++stops; };
    wait.setCaption("abc");
    wait.StartWait();
    EXPECT_EQ(wait.Caption().toStdString(), "15");
    EXPECT_EQ(wait.InitialCount(), 15);
    EXPECT_TRUE(wait.Running());
    EXPECT_EQ(starts, 1);
    wait.setCaption(" 7 seconds");
    wait.StopWait();
    EXPECT_FALSE(wait.Running());
    EXPECT_EQ(wait.ModalResult(), 1);
    EXPECT_EQ(wait.Caption().toStdString(), "15");
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(TCustomWait::LeadingNumber("  42x"), 42);
    EXPECT_EQ(TCustomWait::LeadingNumber("x42"), 0);
}

TEST(WaitTest, CountsDownToATimeoutWhileSleeping)
{
    TWait wait;
    wait.setInterval(40);
    wait.setCaption("5");
    QList<int> counts;
    int timeouts = 0, waiting = 0;
    wait.OnWait = [&](TCustomWait *, int count) { counts.append(count); };
    wait.OnTimeout = [&](TCustomWait *) { ++timeouts; };
    wait.OnWaiting = [&](TCustomWait *) { ++waiting; };
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = cpuSeconds();
    wait.RunWait();
    const double cpu = cpuSeconds() - cpuBefore;
    EXPECT_GE(clock.elapsed(), 150);
    EXPECT_EQ(counts, (QList<int>{4, 3, 2, 1, 0}));
    EXPECT_EQ(timeouts, 1);
    EXPECT_GE(waiting, 1);
    EXPECT_EQ(wait.ModalResult(), 2);
    EXPECT_EQ(wait.Caption().toStdString(), "5");
    EXPECT_FALSE(wait.Running());
    // A nested loop that sleeps costs next to nothing; a spin would burn the whole time.
    EXPECT_LT(cpu, 0.1) << "the wait spun for " << cpu << " s of CPU";
}

TEST(WaitTest, EveryPumpSwallowsInputButABoxShownDuringItTakesItsOwn)
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *edit = new QLineEdit(&window);
    auto *button = new QPushButton("Go", &window);
    auto *wait = new TWait(&window);
    layout->addWidget(edit);
    layout->addWidget(button);
    layout->addWidget(wait);
    int clicks = 0, shortcuts = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    auto *action = new QAction(&window);
    action->setShortcut(QKeySequence("Ctrl+K"));
    action->setShortcutContext(Qt::ApplicationShortcut);
    window.addAction(action);
    QObject::connect(action, &QAction::triggered, [&] { ++shortcuts; });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    edit->setFocus();

    // A press before the wait and its release during it must not click either.
    QTest::mousePress(button, Qt::LeftButton);
    wait->setInterval(1000);
    wait->setCaption("10");
    QTimer::singleShot(20, [&] {
        QTest::keyClicks(edit, "typed");
        QTest::mouseRelease(button, Qt::LeftButton);
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::keyClick(&window, Qt::Key_K, Qt::ControlModifier);
        wait->StopWait();
    });
    wait->RunWait();
    EXPECT_EQ(edit->text().toStdString(), "");
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(shortcuts, 0);
    EXPECT_EQ(wait->ModalResult(), 1);

    // The filter is gone afterwards.
    QTest::keyClicks(edit, "ok");
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::keyClick(&window, Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(edit->text().toStdString(), "ok");
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(shortcuts, 1);

    // The pump between protocol lines: the same posted press and release click only
    // without it.
    const QPoint centre = button->rect().center();
    auto postClick = [&] {
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
            QCoreApplication::postEvent(button, new QMouseEvent(type, centre, button->mapToGlobal(centre), Qt::LeftButton,
                                                                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                                                Qt::NoModifier));
    };
    postClick();
    QTest::qSleep(net::kPumpPeriodMs + 5);
    net::letEventsRun();
    EXPECT_EQ(clicks, 1);
    postClick();
    QCoreApplication::processEvents();
    EXPECT_EQ(clicks, 2);

    // A box shown during a wait (the default error handler's) answers its keys and
    // clicks, while input elsewhere is still swallowed.
    int byKey = 0, byClick = 0;
    QTimer::singleShot(20, [&] {
        QMessageBox box(QMessageBox::Warning, "quorvel", "Error", QMessageBox::Ok | QMessageBox::Cancel, &window);
        auto answer = [&box](const std::function<void()> &input) {
            QTimer::singleShot(20, &box, input);
            QTimer::singleShot(3000, &box, [&box] { box.done(-1); }); // unanswerable: fail, not hang
            return box.exec();
        };
        byKey = answer([&] { QTest::keyClick(&box, Qt::Key_Escape); });
        byClick = answer([&] {
            QTest::mouseClick(button, Qt::LeftButton);
            QTest::mouseClick(box.button(QMessageBox::Ok), Qt::LeftButton);
        });
        wait->StopWait();
    });
    wait->RunWait();
    EXPECT_EQ(byKey, QMessageBox::Cancel);
    EXPECT_EQ(byClick, QMessageBox::Ok);
    EXPECT_EQ(clicks, 2);
}

TEST(WaitTest, PaintsTheRemainingShareAsABar)
{
    TWait wait;
    wait.setCaption("60");
    wait.StartWait();
    wait.StopWait();
    const QColor highlight = wait.palette().color(QPalette::Highlight);
    QImage full = wait.grab().toImage();
    EXPECT_EQ(full.pixelColor(0, 0), QColor(Qt::black));
    EXPECT_EQ(full.pixelColor(1, 20), QColor(Qt::white));
    EXPECT_EQ(full.pixelColor(100, 25), highlight);
    EXPECT_EQ(full.pixelColor(185, 25), highlight);

    wait.setCaption("30"); // half left: the bar ends at 3 + 30 * 185 / 60 = 95
    QImage half = wait.grab().toImage();
    EXPECT_EQ(half.pixelColor(90, 25), highlight);
    EXPECT_EQ(half.pixelColor(100, 25), QColor(Qt::white));
}
