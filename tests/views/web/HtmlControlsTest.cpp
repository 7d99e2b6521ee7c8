// The three small page controls in real pages: range slider, switch and
// spinner, with and without the program on the other side of the bridge.
#include "framework/readTextResource.h"
#include "web/PageBridge.h"
#include "web/UI_DualSliderWidget.h"
#include "web/UI_MaterialCheckBoxWidget.h"
#include "web/UI_ProgressSpinnerWidget.h"

#include "support/PageUnderTest.h"
#include "support/ShownDialogsAndMenus.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebFrame>
#include <QWebView>
#include <gtest/gtest.h>

namespace {

/// A shown slider whose page has loaded.
struct LoadedSlider
{
    PageUnderTest page;
    UI_DualSliderWidget slider;

    LoadedSlider()
    {
        slider.show();
        EXPECT_TRUE(page.waitForLoad());
    }

    std::vector<double> pageValues() { return numbers("[_values[0], _values[1]]"); }
    std::vector<double> pageRange() { return numbers("[_range[0], _range[1]]"); }
    QStringList fields() { return page.evaluate("[lowerspinbox.value, upperspinbox.value]").toStringList(); }

    std::vector<double> numbers(const QString& script)
    {
        std::vector<double> result;
        for (const QVariant& value : page.evaluate(script).toList())
            result.push_back(value.toDouble());
        return result;
    }
};

std::vector<double> pair(double a, double b)
{
    return {a, b};
}

} // namespace

TEST(UI_DualSliderWidgetTest, SettersClampStoreAndShowWithoutReportingBack)
{
    LoadedSlider s;
    QSignalSpy changed(&s.slider, &UI_DualSliderWidget::valuesChanged);
    QSignalSpy rangeSent(&s.slider, &UI_DualSliderWidget::qt_rangeSet);
    QSignalSpy valuesSent(&s.slider, &UI_DualSliderWidget::qt_valuesSet);
    // The page shows the widget's own state from its first load on.
    EXPECT_EQ(s.pageRange(), pair(0, 1));
    EXPECT_EQ(s.pageValues(), pair(0.25, 0.75));

    // Each bound moves its own value only, so the values may cross.
    s.slider.setRange(2, 8);
    EXPECT_EQ(s.slider.lowerValue(), 2.0f);
    EXPECT_EQ(s.slider.upperValue(), 0.75f);
    ASSERT_EQ(rangeSent.size(), 1);
    EXPECT_EQ(rangeSent[0], (QVariantList{2.0f, 8.0f}));
    ASSERT_EQ(valuesSent.size(), 1);
    EXPECT_EQ(valuesSent[0], (QVariantList{2.0f, 0.75f}));
    EXPECT_EQ(s.pageRange(), pair(2, 8));
    EXPECT_EQ(s.pageValues(), pair(2, 0.75));

    // A lower value equal to the minimum stores the minimum; an upper value
    // above the maximum stores the maximum.
    s.slider.setValues(2, 9.5f);
    EXPECT_EQ(s.slider.lowerValue(), 2.0f);
    EXPECT_EQ(s.slider.upperValue(), 8.0f);

    // The page rounds to 2 decimals; a tiny negative value is still a number.
    s.slider.setRangeAndValues(-1.004f, 5.678f, -1.234e-7f, 3.14159f);
    EXPECT_EQ(s.pageRange(), pair(-1, 5.68));
    EXPECT_EQ(s.pageValues()[1], 3.14);
    EXPECT_EQ(s.pageValues()[0], 0.0);
    EXPECT_EQ(s.fields(), (QStringList{"0", "3.14"}));
    EXPECT_EQ(changed.size(), 0);
}

TEST(UI_DualSliderWidgetTest, DraggingAHandleReportsEveryStep)
{
    LoadedSlider s;
    s.slider.setRangeAndValues(0, 10, 2, 8);
    QSignalSpy changed(&s.slider, &UI_DualSliderWidget::valuesChanged);

    s.page.drag(".noUi-handle-lower", QPoint(60, 0), 3);
    ASSERT_EQ(changed.size(), 3);
    float previous = 2;
    for (const QList<QVariant>& step : changed) {
        EXPECT_GT(step[0].toFloat(), previous);
        EXPECT_EQ(step[1].toFloat(), 8.0f);
        previous = step[0].toFloat();
    }
    EXPECT_EQ(s.slider.lowerValue(), previous);
    EXPECT_EQ(static_cast<float>(s.pageValues()[0]), previous);
    EXPECT_EQ(s.fields()[0].toFloat(), previous);
}

TEST(UI_DualSliderWidgetTest, StateSetBeforeLoadIsShownAfterEveryLoad)
{
    PageUnderTest page;
    UI_DualSliderWidget slider;
    slider.setRange(0, 20);
    slider.setValues(0, 5);
    slider.setSliderEnabled(false);
    slider.resize(400, 55);
    slider.show();

    for (int load = 0; load < 2; ++load) {
        ASSERT_TRUE(page.waitForLoad()) << load;
        EXPECT_EQ(page.evaluate("[_range, _values, _isDisabled]").toList(),
                  (QVariantList{QVariantList{0, 20}, QVariantList{0, 5}, true}));
        EXPECT_TRUE(page.evaluate("slider.hasAttribute('disabled') && lowerspinbox.disabled"
                                  " && upperspinbox.disabled")
                        .toBool());
        // A disabled slider ignores the mouse.
        QSignalSpy changed(&slider, &UI_DualSliderWidget::valuesChanged);
        page.drag(".noUi-handle-lower", QPoint(40, 0), 2);
        EXPECT_EQ(changed.size(), 0);
        PageBridge::loadPage(page.view(), ":/html_ui_elements/dualslider.html", "qrc:/html_ui_elements/");
    }
}

TEST(UI_DualSliderWidgetTest, TypedValuesAreCheckedClampedAndUncrossed)
{
    LoadedSlider s;
    s.slider.setRangeAndValues(0, 10, 2, 8);
    QSignalSpy changed(&s.slider, &UI_DualSliderWidget::valuesChanged);

    s.page.type("#lowerspinbox", "abc");
    s.page.type("#lowerspinbox", "");
    EXPECT_EQ(changed.size(), 0);
    EXPECT_EQ(s.fields(), (QStringList{"2", "8"}));

    s.page.type("#upperspinbox", "1e9");
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed.last(), (QVariantList{2.0f, 10.0f}));
    s.page.type("#lowerspinbox", "12");
    EXPECT_EQ(changed.last(), (QVariantList{10.0f, 10.0f}));
    s.page.type("#upperspinbox", "3.5");
    EXPECT_EQ(changed.last(), (QVariantList{10.0f, 10.0f}));
    s.page.type("#lowerspinbox", "-4");
    EXPECT_EQ(changed.last(), (QVariantList{0.0f, 10.0f}));
    s.page.type("#upperspinbox", "3.5");
    EXPECT_EQ(changed.last(), (QVariantList{0.0f, 3.5f}));
    EXPECT_EQ(s.pageValues(), pair(0, 3.5));
    EXPECT_EQ(s.fields(), (QStringList{"0", "3.5"}));
}

TEST(UI_MaterialCheckBoxWidgetTest, ClicksReportStateSettersDoNot)
{
    PageUnderTest page;
    UI_MaterialCheckBoxWidget box("Darkmode");
    box.show();
    ASSERT_TRUE(page.waitForLoad());
    EXPECT_EQ(box.findChild<QLabel*>()->text(), " Darkmode");

    QStringList emitted;
    QObject::connect(&box, &UI_MaterialCheckBoxWidget::clicked, [&] { emitted << "clicked"; });
    QObject::connect(&box, &UI_MaterialCheckBoxWidget::stateChanged,
                     [&](int state) { emitted << QString("state %1").arg(state); });
    page.click("#switch");
    EXPECT_EQ(emitted, (QStringList{"clicked", "state 1"}));
    EXPECT_TRUE(box.isChecked());
    page.click("#switch");
    EXPECT_EQ(emitted, (QStringList{"clicked", "state 1", "clicked", "state 0"}));
    EXPECT_FALSE(page.evaluate("_switch.checked").toBool());

    emitted.clear();
    QSignalSpy sent(&box, &UI_MaterialCheckBoxWidget::qt_setState);
    box.setChecked(true);
    box.setChecked(true);
    EXPECT_EQ(sent.size(), 2);
    EXPECT_TRUE(emitted.isEmpty());
    EXPECT_TRUE(page.evaluate("_switch.checked && document.getElementById('switch').classList.contains('is-checked')").toBool());
}

TEST(UI_MaterialCheckBoxWidgetTest, StateSetBeforeLoadIsShown)
{
    PageUnderTest page;
    UI_MaterialCheckBoxWidget box("Continously");
    box.setChecked(true);
    box.show();
    ASSERT_TRUE(page.waitForLoad());
    EXPECT_TRUE(page.waitFor("_switch.checked && document.getElementById('switch').classList.contains('is-checked')"));
}

TEST(UI_ProgressSpinnerWidgetTest, RingIsBlueOverWhatLiesBehind)
{
    QWidget parent;
    parent.setStyleSheet("background-color: rgb(255, 0, 0);");
    parent.resize(60, 60);
    PageUnderTest page;
    auto* spinner = new UI_ProgressSpinnerWidget(&parent);
    spinner->move(10, 10);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    ASSERT_TRUE(page.waitForLoad());

    // Somewhere on the ring (3 pixels wide, 18 across inside) the arc shows.
    QImage image;
    auto blueSeen = [&] {
        image = parent.grab().toImage();
        for (int y = 10; y < 34; ++y)
            for (int x = 10; x < 34; ++x) {
                const QColor color = image.pixelColor(x, y);
                if (color.blue() > 150 && color.red() < 150)
                    return true;
            }
        return false;
    };
    EXPECT_TRUE(QTest::qWaitFor(blueSeen, 30000));
    for (QPoint corner : {QPoint(10, 10), QPoint(33, 10), QPoint(10, 33), QPoint(33, 33)})
        EXPECT_EQ(image.pixelColor(corner), QColor(255, 0, 0)) << corner.x() << "," << corner.y();
    EXPECT_EQ(image.pixelColor(22, 22), QColor(255, 0, 0));
}

TEST(PageBridgeTest, ControlPagesWorkWithoutTheProgram)
{
    PageUnderTest slider(readTextResource(":/html_ui_elements/dualslider.html"), "qrc:/html_ui_elements/", nullptr);
    PageUnderTest box(readTextResource(":/html_ui_elements/checkbox.html"), "qrc:/html_ui_elements/", nullptr);
    ASSERT_TRUE(slider.waitForLoad());
    ASSERT_TRUE(box.waitForLoad());
    for (PageUnderTest* page : {&slider, &box})
        EXPECT_TRUE(page->messages().contains("console.log: could not connect qt")) << page->messages().join("\n").toStdString();

    slider.drag(".noUi-handle-upper", QPoint(-100, 0), 2);
    EXPECT_LT(slider.evaluate("_values[1]").toDouble(), 5.0);
    box.click("#switch");
    EXPECT_TRUE(box.evaluate("_switch.checked").toBool());
}

TEST(PageBridgeTest, OnlyBundlePagesReachTheProgramAndLinksAreNotFollowed)
{
    PageUnderTest page;
    UI_MaterialCheckBoxWidget box("Switch");
    QWebView* view = page.view();
    box.show();
    ASSERT_TRUE(page.waitForLoad());
    EXPECT_EQ(page.evaluate("typeof Qt").toString(), "object");

    // A link in a bundle page stays where it is.
    view->setHtml("<a id='away' href='file:///' style='display:block;width:30px;height:20px'>x</a>",
                  QUrl("qrc:/html_ui_elements/"));
    ASSERT_TRUE(page.waitForLoad());
    QSignalSpy handedOn(view, &QWebView::linkClicked);
    QSignalSpy loadStarted(view, &QWebView::loadStarted);
    page.click("#away");
    // The click's one navigation decision either hands the link on or loads it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return handedOn.count() + loadStarted.count() > 0; }, 30000));
    EXPECT_EQ(loadStarted.count(), 0);
    EXPECT_EQ(view->url(), QUrl("qrc:/html_ui_elements/"));

    // A page from elsewhere never sees the host object.
    QTemporaryDir folder;
    QFile file(folder.filePath("page.html"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<html><body><script>var seen = typeof Qt;</script></body></html>");
    file.close();
    view->load(QUrl::fromLocalFile(file.fileName()));
    ASSERT_TRUE(page.waitForLoad());
    EXPECT_EQ(page.evaluate("seen + ' ' + typeof Qt").toString(), "undefined undefined");
}

TEST(PageBridgeTest, PagesSeeContextMenusButNoStandardMenuAndTakeNoDrops)
{
    PageUnderTest page("<body style='height:300px'><script>var menus = 0;"
                       " document.addEventListener('contextmenu', function () { ++menus; });</script></body>",
                       "qrc:/html_ui_elements/", nullptr);
    ASSERT_TRUE(page.waitForLoad());
    EXPECT_FALSE(page.view()->acceptDrops());

    // The view would show the standard menu while it takes the event.
    ShownDialogsAndMenus shown;
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(50, 50), page.view()->mapToGlobal(QPoint(50, 50)));
    QApplication::sendEvent(page.view(), &event);
    EXPECT_EQ(shown.names(), "");
    EXPECT_EQ(page.evaluate("menus").toInt(), 1);
}
