// The two overlays of the scatterplot, standalone: the slide-in panel with
// its "Extended Settings" dock, and the colour-map picker.
#include "framework/UI_DockableContainerWidget.h"
#include "scatterplot/UI_ColormapSelectionWidget.h"
#include "scatterplot/UI_SettingsSliderWidget.h"
#include "web/UI_MaterialCheckBoxWidget.h"

#include "support/PageUnderTest.h"

#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace {

/// Jumps the overlay's running animation to its end.
void finishAnimation(QWidget* overlay)
{
    auto* animation = overlay->findChild<QPropertyAnimation*>();
    if (animation->state() == QAbstractAnimation::Running)
        animation->setCurrentTime(animation->totalDuration());
}

/// The swatch shows the image inside its 1-pixel border.
void expectShowsImage(QPushButton* swatch, const QString& path)
{
    const QImage shown = swatch->grab().toImage();
    const QImage image(path);
    ASSERT_EQ(image.size(), QSize(24, 168)) << path.toStdString();
    for (int y : {10, 60, 110, 160}) {
        const QColor expected = image.pixelColor(11, y - 1);
        const QColor seen = shown.pixelColor(12, y);
        EXPECT_LE(std::abs(seen.red() - expected.red()) + std::abs(seen.green() - expected.green())
                      + std::abs(seen.blue() - expected.blue()),
                  6)
            << path.toStdString() << " at " << y;
    }
}

QString handleStyle(UI_SettingsSliderWidget& panel)
{
    for (QPushButton* button : panel.findChildren<QPushButton*>())
        if (button->size() == QSize(100, 15))
            return button->styleSheet();
    return QString();
}

} // namespace

TEST(UI_SettingsSliderWidgetTest, PlacementToggleAndHandlePeek)
{
    QWidget plot;
    plot.resize(600, 400);
    UI_SettingsSliderWidget panel(&plot, 110);
    EXPECT_TRUE(panel.isOpen());
    panel.updatePlacement(600, 400);
    EXPECT_EQ(panel.geometry(), QRect(0, 290, 600, 110));

    // Open: no peeking either way.
    panel.showHandle();
    panel.hideHandle();
    EXPECT_FALSE(panel.isHandleShown());
    EXPECT_EQ(panel.y(), 290);

    panel.toggle();
    EXPECT_FALSE(panel.isOpen());
    EXPECT_TRUE(handleStyle(panel).contains(":/Icons/closeArrow"));
    finishAnimation(&panel);
    EXPECT_EQ(panel.y(), 400);
    EXPECT_TRUE(handleStyle(panel).contains(":/Icons/openArrow"));

    panel.hideHandle();
    EXPECT_EQ(panel.findChild<QPropertyAnimation*>()->state(), QAbstractAnimation::Stopped);
    panel.showHandle();
    panel.showHandle();
    EXPECT_TRUE(panel.isHandleShown());
    finishAnimation(&panel);
    EXPECT_EQ(panel.y(), 385);
    panel.hideHandle();
    finishAnimation(&panel);
    EXPECT_EQ(panel.y(), 400);

    // Resizing keeps a closed panel below the edge and an open one flush with it.
    panel.updatePlacement(500, 300);
    EXPECT_EQ(panel.geometry(), QRect(0, 300, 500, 110));
    panel.toggle();
    finishAnimation(&panel);
    EXPECT_EQ(panel.geometry(), QRect(0, 190, 500, 110));
    panel.updatePlacement(700, 350);
    EXPECT_EQ(panel.geometry(), QRect(0, 240, 700, 110));
}

TEST(UI_SettingsSliderWidgetTest, ExtendedSettingsDockOnTheHoldingWindow)
{
    QMainWindow window;
    auto* plot = new QWidget();
    window.setCentralWidget(plot);
    auto* panel = new UI_SettingsSliderWidget(plot, 110);
    QPointer<QLabel> samples = new QLabel("samples");
    QPointer<QLabel> neverShown = new QLabel("statistics");
    panel->addOptionTab(samples, "Select Samples");
    window.show();

    QSignalSpy screenshots(panel, &UI_SettingsSliderWidget::screenshotButtonPressed);
    QList<QPushButton*> buttons = panel->findChildren<QPushButton*>();
    for (QPushButton* button : buttons)
        if (button->styleSheet().contains("cameraBt"))
            button->click();
    EXPECT_EQ(screenshots.size(), 1);

    panel->openOptions();
    panel->openOptions();
    const QList<UI_DockableContainerWidget*> docks = window.findChildren<UI_DockableContainerWidget*>();
    ASSERT_EQ(docks.size(), 1);
    QPointer<UI_DockableContainerWidget> dock = docks[0];
    EXPECT_EQ(dock->windowTitle(), "Extended Settings");
    EXPECT_TRUE(dock->isFloating());
    EXPECT_EQ(window.dockWidgetArea(dock), Qt::RightDockWidgetArea);
    EXPECT_TRUE(dock->isHidden());
    panel->openOptions();
    EXPECT_TRUE(dock->isVisible());
    EXPECT_EQ(panel->openExtendedSettings(), dock.data());

    // Later tabs appear at once.
    auto* tabs = dock->findChild<QTabWidget*>();
    ASSERT_NE(tabs, nullptr);
    panel->addOptionTab(new QLabel("selection"), "Selection Statistics");
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), "Select Samples");
    EXPECT_EQ(tabs->tabText(1), "Selection Statistics");

    delete panel;
    EXPECT_TRUE(dock.isNull());
    EXPECT_TRUE(samples.isNull());
    delete neverShown;

    // Without a dock the panel frees what it was given.
    auto* other = new UI_SettingsSliderWidget(plot, 110);
    QPointer<QLabel> kept = new QLabel("kept");
    other->addOptionTab(kept, "Sample Statistics");
    delete other;
    EXPECT_TRUE(kept.isNull());
}

namespace {

/// A picker on an 800 pixel wide plot, with its switch page loaded.
struct ShownPicker
{
    PageUnderTest switchPage;
    QWidget plot;
    UI_ColormapSelectionWidget* picker = new UI_ColormapSelectionWidget(&plot);

    ShownPicker()
    {
        plot.resize(800, 500);
        picker->move(0, 10);
        picker->updatePlacement(800);
        plot.show();
        EXPECT_TRUE(switchPage.waitForLoad());
    }

    QPushButton* swatch(const QString& name) { return picker->findChild<QPushButton*>(name); }

    int discreteSwatches()
    {
        int count = 0;
        for (QPushButton* button : picker->findChildren<QPushButton*>())
            count += button->styleSheet().contains("_disc.png") ? 1 : 0;
        return count;
    }
};

} // namespace

TEST(UI_ColormapSelectionWidgetTest, DiscreteSwitchAndSwatchChoice)
{
    ShownPicker s;
    EXPECT_EQ(s.picker->pos(), QPoint(729, 10));
    EXPECT_EQ(s.swatch("activeSwatch")->styleSheet(),
              "QPushButton{background-color: transparent; background-image: url(:/colormaps/Viridis_vert.png);}");
    expectShowsImage(s.swatch("activeSwatch"), ":/colormaps/Viridis_vert.png");
    QSignalSpy selected(s.picker, &UI_ColormapSelectionWidget::colormapSelected);
    QSignalSpy discrete(s.picker, &UI_ColormapSelectionWidget::discreteSelected);

    QTest::mouseClick(s.swatch("activeSwatch"), Qt::LeftButton);
    EXPECT_TRUE(s.picker->isOpen());
    finishAnimation(s.picker);
    EXPECT_EQ(s.picker->pos(), QPoint(174, 10));

    // The real switch: every swatch turns discrete, the picker stays open.
    s.switchPage.click("#switch");
    EXPECT_EQ(discrete.size(), 1);
    EXPECT_EQ(discrete[0][0].toBool(), true);
    EXPECT_EQ(s.discreteSwatches(), 16);
    EXPECT_TRUE(s.picker->isOpen());

    QTest::mouseClick(s.swatch("swatch3"), Qt::LeftButton);
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected[0][0].toInt(), 3);
    EXPECT_FALSE(s.picker->isOpen());
    EXPECT_TRUE(s.picker->isDiscrete());
    EXPECT_EQ(s.swatch("activeSwatch")->styleSheet(),
              "QPushButton{background-color: transparent; background-image: url(:/colormaps/PuOr_vert_disc.png);}");
    finishAnimation(s.picker);
    EXPECT_EQ(s.picker->pos(), QPoint(729, 10));
    expectShowsImage(s.swatch("activeSwatch"), ":/colormaps/PuOr_vert_disc.png");
    expectShowsImage(s.swatch("swatch12"), ":/colormaps/Reds_vert_disc.png");

    // The program's choice moves the switch without a report.
    s.picker->setActiveColormap(13, false);
    EXPECT_EQ(s.discreteSwatches(), 0);
    EXPECT_TRUE(s.switchPage.waitFor("!_switch.checked"));
    EXPECT_EQ(discrete.size(), 1);
    EXPECT_EQ(selected.size(), 1);
    EXPECT_TRUE(s.swatch("activeSwatch")->styleSheet().contains(":/colormaps/qualitative_vert.png"));
}

TEST(UI_ColormapSelectionWidgetTest, ClicksDuringTheSlideEndAtARestPlace)
{
    ShownPicker s;
    QTest::mouseClick(s.swatch("activeSwatch"), Qt::LeftButton);
    // Held at 200 ms of the opening slide for the second click.
    auto* animation = s.picker->findChild<QPropertyAnimation*>();
    ASSERT_EQ(animation->state(), QAbstractAnimation::Running);
    animation->pause();
    animation->setCurrentTime(200);
    ASSERT_GT(s.picker->pos().x(), 174);
    ASSERT_LT(s.picker->pos().x(), 729);
    QTest::mouseClick(s.swatch("activeSwatch"), Qt::LeftButton);
    EXPECT_FALSE(s.picker->isOpen());
    EXPECT_TRUE(QTest::qWaitFor([&] { return s.picker->pos() == QPoint(729, 10); }, 2000));

    s.picker->updatePlacement(1000);
    EXPECT_EQ(s.picker->pos(), QPoint(929, 10));
    s.picker->setDarkMode(true);
    EXPECT_TRUE(s.picker->findChild<QLabel*>()->parentWidget()->styleSheet().contains("rgba(35, 35, 35, 1.0)"));
}
