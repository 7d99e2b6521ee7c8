// The collapsible box: its state, its body and the resizing of its dialog.
#include "framework/UI_ExpanderWidget.h"
#include "framework/UI_ExpanderWidgetHeader.h"

#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

TEST(UI_ExpanderWidgetTest, CollapsedBoxHidesBodySetLaterAndClickFlips)
{
    QWidget window;
    auto* layout = new QGridLayout(&window);
    auto* expander = new UI_ExpanderWidget(&window, false, false);
    layout->addWidget(expander, 0, 0);
    auto* header = expander->findChild<UI_ExpanderWidgetHeader*>();
    ASSERT_NE(header, nullptr);
    EXPECT_TRUE(expander->isCollapsed());

    // Without a body a click only flips the state.
    window.show();
    QTest::mouseClick(header, Qt::LeftButton);
    EXPECT_FALSE(expander->isCollapsed());
    QTest::mouseClick(header, Qt::RightButton);
    EXPECT_TRUE(expander->isCollapsed());

    auto* body = new QLabel("markers");
    expander->setBody(body);
    EXPECT_FALSE(body->isVisible());
    QTest::mouseClick(header, Qt::LeftButton);
    EXPECT_TRUE(body->isVisible());
    QTest::mouseClick(header, Qt::LeftButton);
    EXPECT_FALSE(body->isVisible());
}

TEST(UI_ExpanderWidgetTest, ExpandedBoxShowsBodyAndSetTitleNamesIt)
{
    QWidget window;
    auto* layout = new QGridLayout(&window);
    auto* expander = new UI_ExpanderWidget(&window, true, false);
    layout->addWidget(expander, 0, 0);
    expander->setTitle("Select Markers for ArcSinH Transform");
    auto* body = new QLabel("markers");
    expander->setBody(body);
    window.show();

    EXPECT_FALSE(expander->isCollapsed());
    EXPECT_TRUE(body->isVisible());
    bool titled = false;
    for (QLabel* label : expander->findChildren<QLabel*>())
        titled = titled || label->text() == "Select Markers for ArcSinH Transform";
    EXPECT_TRUE(titled);
}

TEST(UI_ExpanderWidgetTest, ResizesItsDialogOnToggle)
{
    QDialog dialog;
    auto* layout = new QGridLayout(&dialog);
    layout->addWidget(new QLabel("Files loaded"), 0, 0);
    auto* expander = new UI_ExpanderWidget(&dialog, false, true);
    auto* body = new QWidget;
    body->setFixedSize(200, 300);
    expander->setBody(body);
    layout->addWidget(expander, 1, 0);
    dialog.show();
    dialog.resize(dialog.sizeHint());
    const int collapsedHeight = dialog.height();
    ASSERT_LT(collapsedHeight, 300);

    auto* header = expander->findChild<UI_ExpanderWidgetHeader*>();
    QTest::mouseClick(header, Qt::LeftButton);
    EXPECT_GE(dialog.height(), collapsedHeight + 300);

    QTest::mouseClick(header, Qt::LeftButton);
    EXPECT_EQ(dialog.height(), collapsedHeight);
}
