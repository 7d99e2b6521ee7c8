// The dock bases, the "Settings" container and the file-information dock.
#include "docks/UI_FileInfoWidget.h"
#include "framework/UI_DockableContainerWidget.h"
#include "framework/UI_DockableWidget.h"

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QTabWidget>
#include <QTextBrowser>
#include <gtest/gtest.h>

TEST(UI_DockableWidgetTest, VisibilityFollowsSlotsAndToggleAction)
{
    QMainWindow window;
    auto* dock = new UI_DockableWidget(&window);
    window.addDockWidget(Qt::RightDockWidgetArea, dock);
    dock->hide();

    // The flag starts false, so the first toggle shows the dock.
    dock->toggleVisibility();
    EXPECT_FALSE(dock->isHidden());
    dock->toggleVisibility();
    EXPECT_TRUE(dock->isHidden());

    window.show();
    dock->setVisibility(true);
    EXPECT_TRUE(dock->isVisible());

    // Closing through the dock's own action (its close button) clears the
    // flag as well, so the next toggle shows it again.
    dock->toggleViewAction()->trigger();
    EXPECT_FALSE(dock->isVisible());
    dock->toggleVisibility();
    EXPECT_TRUE(dock->isVisible());
}

TEST(UI_DockableContainerWidgetTest, AddTabMakesOneTabWidget)
{
    QMainWindow window;
    auto* container = new UI_DockableContainerWidget(&window);
    EXPECT_EQ(container->findChildren<QTabWidget*>().size(), 0);

    container->addTab(new QLabel("first"), "Spade Analysis");
    container->addTab(new QLabel("second"), "A-tSNE Analysis");

    const QList<QTabWidget*> tabWidgets = container->findChildren<QTabWidget*>();
    ASSERT_EQ(tabWidgets.size(), 1);
    ASSERT_EQ(tabWidgets[0]->count(), 2);
    EXPECT_EQ(tabWidgets[0]->tabText(0), "Spade Analysis");
    EXPECT_EQ(tabWidgets[0]->tabText(1), "A-tSNE Analysis");
}

TEST(UI_FileInfoWidgetTest, ShowsTextAsPlainText)
{
    UI_FileInfoWidget dock;
    EXPECT_EQ(dock.windowTitle(), "File Information");
    QTextBrowser* browser = dock.findChild<QTextBrowser*>();
    ASSERT_NE(browser, nullptr);

    // A file name may contain markup; it must be shown as typed.
    const QString text = "File: /data/<b>run</b> & co.fcs\nEvents: 10";
    dock.setText(text);
    EXPECT_EQ(browser->toPlainText(), text);

    dock.setText("second");
    EXPECT_EQ(browser->toPlainText(), "second");
}
