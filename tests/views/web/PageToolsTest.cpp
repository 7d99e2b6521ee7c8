// The shared page layer (jstools/) in a real page with the libraries the
// analysis pages load: data from the core's writer shown as text, colour
// legend, exports, and the same page without the program.
#include "web/PageBridge.h"

#include "data/FcsError.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/PageUnderTest.h"
#include "support/RegistryTestData.h"

#include <QTemporaryDir>
#include <QTest>
#include <QWebFrame>
#include <gtest/gtest.h>

namespace {

// A page as the analysis pages are built: libraries, then the shared layer in
// its order; names listed as text, elements with the names as ids.
const char* const kToolsPage = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8">
<link rel="stylesheet" href="ui.css">
<script src="../jslibs/d3.v4.js"></script>
<script src="../jslibs/d3-scale-chromatic.js"></script>
<script src="debug_data.js"></script>
<script src="colormaps.js"></script>
<script src="globals.js"></script>
<script src="tools.js"></script>
<script src="ui.js"></script>
</head><body>
<div id="mainView"><svg width="100" height="40"><text x="5" y="20">tree</text></svg></div>
<div id="names"></div>
<div id="legend"><div id="legendActive"></div><div id="legendAll"></div></div>
<div id="uihover"></div><div id="ui"><div id="drawer"></div></div>
<script>
var data = null;
var chosenMaps = [];
function leftClickColormap(index) {
    chosenMaps.push(index);
    setColormap(index, true);
}
function setData(text) {
    data = JSON.parse(text);
    d3.select('#names').selectAll('div').data(data.nodes).enter().append('div')
        .attr('id', function (node) { return node.name; })
        .text(function (node) { return node.name; });
    data.nodes.forEach(function (node) { node.width = node.name.width(); });
}
try {
    Qt.qt_setData.connect(setData);
} catch (error) {
    isQtAvailable = false;
    log('could not connect qt');
}
initDrawer();
initLegend();
</script></body></html>)";

/// The program's side of the test page: records every call the page makes.
class ToolsHost : public QObject
{
    Q_OBJECT

public:
    QStringList calls;
    QString svg;

signals:
    void qt_setData(const QString& json);

public slots:
    void connectJs() { PageBridge::publishHost(qobject_cast<QWebFrame*>(sender()), this); }
    void js_debug(const QString& text) { calls << "js_debug " + text; }
    void js_saveSVG(const QString& markup)
    {
        calls << "js_saveSVG";
        svg = markup;
    }
    void js_saveJSON() { calls << "js_saveJSON"; }
};

} // namespace

TEST(PageToolsTest, HostileNamesFromTheCoreArriveAsTextAndSelectTheirElement)
{
    QTemporaryDir folder;
    MCV_DataRegistry* registry = RegistryTestData::freshRegistry();
    ASSERT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(folder.path().toStdString(), "a.fcs", 2, {1, 2, 3, 4})),
              FcsErrorNone);
    MCV_DerivedDataPoints* all = registry->createAllPointsData();
    const std::vector<std::string> names = {
        "quote\"d 'single'", "back\\slash\\", "</script><script>Qt.js_debug('injected')</script>",
        "<img src=x onerror=\"Qt.js_saveJSON()\">", "line\xe2\x80\xa8" "end", std::string("ctl\t\x01\x1f", 6),
        u8"ünïcødé 細胞", "CD45 RA", "CD4/CD8", "1", "-2x", "a#b.c[d]"};
    MCV_DerivedDataClusters* clusters = registry->createClustersData("Hostile", false);
    clusters->setClusters(std::vector<std::vector<MCV_PointIndex>>(names.size(), {{0, 0}}), all, {{1.0f, 1, 0}});
    for (std::size_t i = 0; i < names.size(); ++i)
        clusters->setClusterName(static_cast<int>(i), names[i]);
    const QString json = QString::fromStdString(clusters->jsonString());
    RegistryTestData::dropRegistry();

    ToolsHost host;
    PageUnderTest page(kToolsPage, "qrc:/jstools/", &host);
    ASSERT_TRUE(page.waitForLoad());
    emit host.qt_setData(json);
    // A name taken as markup would have made an image whose failed load calls
    // the host: a probe image of the same source reports its failure after it.
    page.evaluate("window.probe = new Image(); probe.onerror = function () { probe.failed = true; }; probe.src = 'x';");
    ASSERT_TRUE(page.waitFor("probe.failed === true", 30000));

    EXPECT_EQ(page.evaluate("data.nodes.length").toInt(), static_cast<int>(names.size()));
    for (std::size_t i = 0; i < names.size(); ++i) {
        const QString row = QString("document.getElementById('names').children[%1]").arg(i);
        EXPECT_EQ(page.evaluate(row + ".textContent").toString(), QString::fromStdString(names[i])) << i;
        EXPECT_TRUE(page.evaluate(QString("var found = document.querySelectorAll('#' + cssSanitize(data.nodes[%1].name));"
                                          " found.length === 1 && found[0] === %2")
                                      .arg(i)
                                      .arg(row))
                        .toBool())
            << names[i];
        EXPECT_GT(page.evaluate(QString("data.nodes[%1].width").arg(i)).toDouble(), 0.0) << i;
    }
    EXPECT_EQ(page.evaluate("document.querySelectorAll('#names *').length").toInt(), static_cast<int>(names.size()));
    EXPECT_TRUE(host.calls.isEmpty()) << host.calls.join("\n").toStdString();
}

TEST(PageToolsTest, LegendChoosesMapsAndDrawerOpens)
{
    ToolsHost host;
    PageUnderTest page(kToolsPage, "qrc:/jstools/", &host);
    ASSERT_TRUE(page.waitForLoad());
    EXPECT_EQ(page.evaluate("d3.select('#legendActive rect').attr('fill')").toString(), "url(#Viridis)");

    // A press on the legend slides the chooser in; a click on map 3 chooses
    // it and slides the chooser out again.
    page.click("#legendActive");
    ASSERT_TRUE(page.waitFor("getComputedStyle(document.getElementById('legend')).right === '10px'"));
    // A release on a map chooses it only after a press on the same map.
    page.press(page.elementPoint("#legendAll rect:nth-child(3)"));
    page.release(page.elementPoint("#legendAll rect:nth-child(4)"));
    page.click("#legendAll rect:nth-child(4)");
    EXPECT_EQ(page.evaluate("chosenMaps").toList(), QVariantList{3});
    EXPECT_EQ(page.evaluate("d3.select('#legendActive rect').attr('fill')").toString(), "url(#PuOr)");
    EXPECT_TRUE(page.waitFor("getComputedStyle(document.getElementById('legend')).right === '-490px'"));

    page.evaluate("setDiscreteColormap(true)");
    EXPECT_EQ(page.evaluate("d3.select('#legendActive rect').attr('fill')").toString(), "url(#PuOr_discrete)");
    EXPECT_EQ(page.evaluate("document.querySelectorAll('linearGradient').length").toInt(), 28);

    page.press(page.elementPoint("#drawer"));
    EXPECT_TRUE(page.waitFor("getComputedStyle(document.getElementById('ui')).bottom === '0px'"));
    EXPECT_TRUE(host.calls.isEmpty()) << host.calls.join("\n").toStdString();
}

TEST(PageToolsTest, ExportsReachTheProgramOnlyWhenItIsThere)
{
    ToolsHost host;
    PageUnderTest page(kToolsPage, "qrc:/jstools/", &host);
    PageUnderTest alone(kToolsPage, "qrc:/jstools/", nullptr);
    ASSERT_TRUE(page.waitForLoad());
    ASSERT_TRUE(alone.waitForLoad());

    page.evaluate("printSVG(); printJSON(); log(42)");
    EXPECT_EQ(host.calls, (QStringList{"js_saveSVG", "js_saveJSON", "js_debug 42"}));
    EXPECT_TRUE(host.svg.startsWith("<svg")) << host.svg.toStdString();

    alone.evaluate("printSVG(); printJSON();");
    EXPECT_TRUE(alone.messages().contains("console.log: could not connect qt"));
    EXPECT_EQ(host.calls.size(), 3);
}

TEST(PageToolsTest, ScriptErrorsAreReportedThroughTheLog)
{
    ToolsHost host;
    PageUnderTest page(kToolsPage, "qrc:/jstools/", &host);
    ASSERT_TRUE(page.waitForLoad());
    page.evaluate("setTimeout(function () { undefinedFunction(); }, 0)");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !host.calls.isEmpty(); }, 30000));
    // A second report, sent or queued once the first was, would come before a
    // log call the page queues now.
    page.evaluate("setTimeout(function () { log('after the error'); }, 0)");
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.calls.last() == "js_debug after the error"; }, 30000));
    ASSERT_EQ(host.calls.size(), 2) << host.calls.join("\n").toStdString();
    EXPECT_TRUE(host.calls[0].startsWith("js_debug Error: ReferenceError")) << host.calls[0].toStdString();
    EXPECT_TRUE(host.calls[0].contains("\nURL: ") && host.calls[0].contains("\nLine: "));
    EXPECT_EQ(page.takeScriptErrors().size(), 1);
}

#include "PageToolsTest.moc"
