#include "store/SharedState.h"
#include "support/TempHome.h"
#include "transfer/BusyIndicator.h"
#include "transfer/GetMail.h"
#include "transfer/Popup.h"
#include "transfer/SendMail.h"

#include <QDir>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

TEST(Popup, AProgressWindowWithTwoAnimationsABarAndAText)
{
    TfrmPopup popup;
    EXPECT_EQ(popup.windowTitle(), "Progress");
    const Qt::WindowFlags flags = popup.windowFlags();
    EXPECT_FALSE(flags & (Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint
                          | Qt::WindowMaximizeButtonHint | Qt::WindowSystemMenuHint));
    EXPECT_EQ(popup.pbBar->minimum(), 0);
    EXPECT_EQ(popup.pbBar->maximum(), 100);

    // What a posting run does with it.
    popup.pbBar->setMaximum(3);
    popup.gaPost->show();
    popup.gaPost->move(12, 12);
    popup.gaPost->start();
    popup.gaFetch->hide();
    popup.Panel1->setText("3 mail(s) to be sent");
    popup.show();

    EXPECT_EQ(popup.frameGeometry().center(), popup.screen()->availableGeometry().center());
    EXPECT_EQ(popup.gaPost->pos(), QPoint(12, 12));
    EXPECT_TRUE(popup.gaPost->isVisible());
    EXPECT_FALSE(popup.gaFetch->isVisible());
    EXPECT_TRUE(popup.gaPost->isRunning());
    const int before = popup.gaPost->phase();
    QTest::qWait(4 * TBusyIndicator::kFrameMs);
    EXPECT_NE(popup.gaPost->phase(), before);

    popup.gaPost->stop();
    const int stopped = popup.gaPost->phase();
    QTest::qWait(3 * TBusyIndicator::kFrameMs);
    EXPECT_EQ(popup.gaPost->phase(), stopped);
    EXPECT_FALSE(popup.gaFetch->isRunning());
    popup.close();
}

TEST(SendMail, RemoveSentMailFromQueueKeepsTheUnmarkedLines)
{
    testsupport::TempHome home;
    ControlCentreState state;
    state.SetAppPath(home.path());
    QDir().mkpath(state.OutboxDir);
    TfrmSendMail send(state);
    EXPECT_EQ(send.windowTitle(), "Send Mail");

    state.meTemp = QStringList{"SENTmail1", "mail2=/docs/SENT.txt;", "FAILmail3", "", "mail4"};
    send.RemoveSentMailFromQueue();
    EXPECT_EQ(state.meTemp, (QStringList{"mail2=/docs/SENT.txt;", "", "mail4"}));
    EXPECT_EQ(testsupport::readFile(state.OutboxDir + "quorvel.que"), "mail2=/docs/SENT.txt;\r\n\r\nmail4\r\n");

    state.meTemp = QStringList{"SENTmail2"};
    send.RemoveSentMailFromQueue();
    EXPECT_EQ(testsupport::readFile(state.OutboxDir + "quorvel.que"), "");

    TfrmGetMail get(state);
    EXPECT_EQ(get.windowTitle(), "Retrieving Mails...");
}
