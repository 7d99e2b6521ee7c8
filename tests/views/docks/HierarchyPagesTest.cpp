// The hierarchy pages (sunburst and icicle) in a real view: the generated
// sample tree, clicks with modifiers through real mouse events, the context
// menu, and the protocol with a recording host.
#include "framework/readTextResource.h"
#include "support/PageUnderTest.h"
#include "web/PageBridge.h"

#include <QTest>
#include <QWebFrame>
#include <gtest/gtest.h>

namespace {

/// The program's side of the page: records every call the page makes.
class HierarchyHost : public QObject
{
    Q_OBJECT

public:
    QStringList calls;

signals:
    void qt_setData(const QString& json);
    void qt_addAvailableData(const QString& name);
    void qt_setMarkerSelection(const QList<int>& markers);
    void qt_setMarkerNames(const QString& json);

public slots:
    void connectJs() { PageBridge::publishHost(qobject_cast<QWebFrame*>(sender()), this); }
    void js_debug(const QString& text) { calls << "js_debug " + text; }
    void js_selectData(const QString& name) { calls << "js_selectData " + name; }
    void js_drillIntoCluster(const QString& a, const QString& b, int c, const QString& d, int e)
    {
        calls << QString("js_drillIntoCluster %1|%2|%3|%4|%5").arg(a, b).arg(c).arg(d).arg(e);
    }
    void js_saveSVG(const QString&) { calls << "js_saveSVG"; }
    void js_saveJSON() { calls << "js_saveJSON"; }
    void js_raiseView(const QString& name, int marker) { calls << QString("js_raiseView %1|%2").arg(name).arg(marker); }
};

// A point inside the element where it is the topmost element, in page coordinates.
const char* const kInsidePoint = R"(
function insidePoint(selector) {
    var element = document.querySelector(selector);
    if (!element) return null;
    var r = element.getBoundingClientRect();
    for (var i = 1; i < 24; ++i)
        for (var j = 1; j < 24; ++j) {
            var x = r.left + r.width * i / 24, y = r.top + r.height * j / 24;
            if (document.elementFromPoint(x, y) === element) return [Math.round(x), Math.round(y)];
        }
    return null;
})";

class HierarchyPagesTest : public ::testing::TestWithParam<const char*>
{
protected:
    QString folder() const { return QString("qrc:/") + GetParam() + "/"; }
    QString html() const { return readTextResource(QString(":/") + GetParam() + "/hierarchy.html"); }

    /// The node's id of the named node in the shown tree.
    static QString idOf(PageUnderTest& page, const QString& name)
    {
        return page
            .evaluate("(function(){var id='';Hierarchy.walk(_hierarchy.root,function(n){if(n.name==="
                      + PageUnderTest::jsString(name) + ")id=n.id;});return id;})()")
            .toString();
    }

    static QPoint inside(PageUnderTest& page, const QString& selector)
    {
        page.settle();
        const QVariantList point = page.evaluate(QString(kInsidePoint) + "insidePoint("
                                                 + PageUnderTest::jsString(selector) + ")")
                                       .toList();
        return point.size() == 2 ? QPoint(point[0].toInt(), point[1].toInt()) : QPoint(-1, -1);
    }

    /// Waits until no transition is scheduled or running (d3 keeps them on
    /// the element), so elements stand where the last zoom puts them.
    static bool transitionsEnded(PageUnderTest& page)
    {
        return page.waitFor("Array.prototype.every.call(document.querySelectorAll('*'),"
                            " function (element) { return !element.__transition; })",
                            30000);
    }

    static void clickAt(PageUnderTest& page, QPoint point, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        ASSERT_GE(point.x(), 0);
        page.press(point, modifiers);
        page.release(point, modifiers);
    }
};

} // namespace

TEST_P(HierarchyPagesTest, WithoutTheProgramTheSampleTreeIsShownWithIdsFractionsAndThumbnails)
{
    PageUnderTest page(html(), folder(), nullptr);
    ASSERT_TRUE(page.waitForLoad(60000));
    ASSERT_TRUE(page.waitFor("_hierarchy.root !== null"));
    EXPECT_EQ(page.evaluate("(function(){var ids=[];Hierarchy.walk(_hierarchy.root,function(n){ids.push(n.id);});"
                            "return ids.join(',');})()")
                  .toString()
                  .section(',', 0, 2),
              "UID0,UID1,UID2");
    EXPECT_NEAR(page.evaluate("(function(){var s=0;Hierarchy.walk(_hierarchy.root,function(n){if(!n.children)"
                              "s+=n.fraction;});return s;})()")
                    .toDouble(),
                1.0, 1e-9);
    EXPECT_EQ(page.evaluate("document.querySelectorAll('g.node').length").toInt(),
              page.evaluate("(function(){var c=0;Hierarchy.walk(_hierarchy.root,function(){++c;});return c;})()")
                  .toInt());
    // Thumbnails fade in by their size; the smallest is always shown.
    const double side = page.evaluate("Number(document.querySelector('#UID0 image.thumb2').getAttribute('width'))")
                            .toDouble();
    ASSERT_GT(side, 0.0);
    EXPECT_NEAR(page.evaluate("Number(document.querySelector('#UID0 image.thumb1').style.opacity)").toDouble(),
                std::min(1.0, std::max(0.0, (side - 128) / 128)), 1e-3);
    EXPECT_EQ(page.evaluate("document.querySelector('#UID0 image.thumb2').style.opacity").toString(), "1");
    // Hostile names are text: the breadcrumbs show them and no markup of theirs runs.
    page.evaluate("hierarchyView.zoomTo(d3.select('#"
                  + idOf(page, "Hostile Names</script><script>Qt.js_debug('injected')</script>") + "').datum())");
    page.settle();
    EXPECT_TRUE(page.evaluate("Array.prototype.some.call(document.querySelectorAll('.crumb text'),"
                              "function(t){return t.textContent.indexOf('</script>')>=0;})")
                    .toBool());
    EXPECT_EQ(page.evaluate("document.querySelectorAll('#mainView img, #mainView script').length").toInt(), 0);
    EXPECT_FALSE(page.messages().join("\n").contains("injected"));
}

TEST_P(HierarchyPagesTest, ClicksRaiseViewsAndZoomAsTheirModifiersSay)
{
    HierarchyHost host;
    PageUnderTest page(html(), folder(), &host);
    ASSERT_TRUE(page.waitForLoad(60000));
    const QString tree = page.evaluate("_debug_data_[4]").toString();
    const QString names = page.evaluate("_debug_data_marker_names").toString();
    emit host.qt_addAvailableData("Tree");
    emit host.qt_addAvailableData("Tree");
    EXPECT_EQ(page.evaluate("document.querySelectorAll('#dataChooser option').length").toInt(), 2);
    emit host.qt_setMarkerNames(names);
    emit host.qt_setMarkerSelection({1, 1, 1, 1, 1, 1, 1, 1});
    emit host.qt_setData(tree);
    ASSERT_TRUE(page.waitFor("_hierarchy.root !== null"));
    const QString root = idOf(page, "Overview Level");
    const QString zoom = idOf(page, "Zoom Level");

    clickAt(page, inside(page, "#" + root + " image.thumb2"), Qt::ControlModifier);
    EXPECT_EQ(host.calls, QStringList{"js_raiseView Overview Level|-1"});
    host.calls.clear();
    clickAt(page, inside(page, "#" + zoom + " image.thumb2"), Qt::ShiftModifier);
    EXPECT_TRUE(host.calls.isEmpty());
    EXPECT_TRUE(page.waitFor("hierarchyView.viewRoot().data.name === 'Zoom Level'"));
    ASSERT_TRUE(transitionsEnded(page));
    EXPECT_GE(page.evaluate("document.querySelectorAll('.crumb').length").toInt(), 3);
    clickAt(page, inside(page, ".crumb polygon"));
    EXPECT_TRUE(page.waitFor("hierarchyView.viewRoot().data.name === 'Overview Level'"));
    ASSERT_TRUE(transitionsEnded(page));
    clickAt(page, inside(page, "#" + zoom + " image.thumb2"));
    EXPECT_EQ(host.calls, QStringList{"js_raiseView Zoom Level|-1"});
    EXPECT_TRUE(page.waitFor("hierarchyView.viewRoot().data.name === 'Zoom Level'"));
    ASSERT_TRUE(transitionsEnded(page));

    // Marker segments: with Alt the parent coloured by that marker; a plain
    // click raises only nodes with thumbnails (a cluster has none).
    host.calls.clear();
    const QString leaf = idOf(page, "Hostile NamesCD45 RA");
    clickAt(page, inside(page, "#" + leaf + " path.segment:nth-of-type(3)"));
    EXPECT_TRUE(host.calls.isEmpty());
    clickAt(page, inside(page, "#" + leaf + " path.segment:nth-of-type(3)"), Qt::AltModifier);
    EXPECT_EQ(host.calls, QStringList{"js_raiseView Zoom Level|1"});

    // The chooser asks for the chosen set.
    host.calls.clear();
    page.evaluate("var c=document.getElementById('dataChooser');c.value='Tree';"
                  "c.dispatchEvent(new Event('change'));");
    EXPECT_EQ(host.calls, QStringList{"js_selectData Tree"});
}

TEST_P(HierarchyPagesTest, TheMenuOpensOnlyOnClustersThatCanBeDrilledInto)
{
    HierarchyHost host;
    PageUnderTest page(html(), folder(), &host);
    ASSERT_TRUE(page.waitForLoad(60000));
    emit host.qt_setMarkerNames(page.evaluate("_debug_data_marker_names").toString());
    emit host.qt_setData(page.evaluate("_debug_data_[4]").toString());
    ASSERT_TRUE(page.waitFor("_hierarchy.root !== null"));
    const auto rightClick = [&page](QPoint point) {
        ASSERT_GE(point.x(), 0);
        QContextMenuEvent event(QContextMenuEvent::Mouse, point, page.view()->mapToGlobal(point));
        QMouseEvent press(QEvent::MouseButtonPress, point, Qt::RightButton, Qt::RightButton, Qt::NoModifier);
        QApplication::sendEvent(page.view(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, point, Qt::RightButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(page.view(), &release);
        QApplication::sendEvent(page.view(), &event);
    };
    const QString shown = "document.querySelector('.d3-context-menu') !== null && "
                          "document.querySelector('.d3-context-menu').style.display === 'block'";
    // A node with children (the zoom level's parent) gets no menu.
    rightClick(inside(page, "#" + idOf(page, "Small Tree1") + " path.idBar"));
    page.settle();
    EXPECT_FALSE(page.evaluate(shown).toBool());
    const QString cluster = idOf(page, "Small Tree2");
    rightClick(inside(page, "#" + cluster + " path.idBar"));
    ASSERT_TRUE(page.waitFor(shown));
    const QStringList entries = page.evaluate("Array.prototype.map.call(document.querySelectorAll("
                                              "'.d3-context-menu li'),function(l){return l.textContent;}).join('|')")
                                    .toString()
                                    .split('|');
    QStringList expected{"Zoom into Cluster", "", "Save Hierarchy as Image ..."};
    if (QString(GetParam()) == "hierarchy")
        expected << "Save Hierarchy as html ...";
    EXPECT_EQ(entries, expected);
    const int marker = page.evaluate("d3.select('#" + cluster + "').datum().data.maxMarker").toInt();
    page.click(".d3-context-menu li:first-child");
    EXPECT_EQ(host.calls, QStringList{QString("js_drillIntoCluster Small Tree2|Small Tree|1|Overview Level|%1")
                                          .arg(marker)});
    EXPECT_FALSE(page.evaluate(shown).toBool());
    host.calls.clear();
    rightClick(inside(page, "#" + cluster + " path.idBar"));
    ASSERT_TRUE(page.waitFor(shown));
    page.click(".d3-context-menu li:nth-child(3)");
    EXPECT_EQ(host.calls, QStringList{"js_saveSVG"});

    // A tiny view and an empty set draw without errors.
    page.view()->resize(100, 80);
    page.settle();
    emit host.qt_setData("");
    page.settle();
    EXPECT_EQ(page.evaluate("document.querySelectorAll('g.node').length").toInt(), 0);
}

INSTANTIATE_TEST_SUITE_P(Pages, HierarchyPagesTest, ::testing::Values("hierarchy", "hierarchy_icicle"));

#include "HierarchyPagesTest.moc"
