#include "ui/uStartFailure.h"

#include "UiTestUtil.h"

#include <QLabel>
#include <QMessageBox>
#include <gtest/gtest.h>

TEST(StartFailure, BoxWithTitleReasonAndPathIsShownBeforeTheEnd) {
    const std::string reason = "Unable to write to /home/jan/.config/QmVardel/QmVardel.ini";
    QString title;
    QString shownReason;
    OnNextModal([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        shownReason = box->informativeText();
        QTest::keyClick(box, Qt::Key_Return);
    });
    testing::internal::CaptureStderr();
    EXPECT_EQ(ReportStartFailure(reason), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("QmVardel: " + reason + "\n", 0), 0u);
    EXPECT_EQ(title, "QmVardel");
    EXPECT_EQ(shownReason.toStdString(), reason);
}
