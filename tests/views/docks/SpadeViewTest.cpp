// The SPADE view with its real pages from the bundle, on a real SPADE run
// over files with hostile marker names: drawing, real mouse and key input,
// bubbles, saves, master and slave, and files reopened during the layout.
#include "docks/UI_SpadeWidget.h"

#include "analyses/MCV_SpadeAnalysis.h"
#include "analyses/MCV_TemplateAnalysis.h"
#include "data/FcsReader.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/HostileMarkerFiles.h"
#include "support/IsolatedSettings.h"
#include "support/ModalDialogDriver.h"
#include "support/PageUnderTest.h"
#include "support/RegistryTestData.h"
#include "support/SilentUiInterface.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMouseEvent>
#include <QMainWindow>
#include <QPointer>
#include <QProcess>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>

namespace {

const bool settingsIsolated = isolateSettings();

bool byEvent(const MCV_PointIndex& a, const MCV_PointIndex& b)
{
    return std::make_pair(a.sampleIndex, a.eventIndex) < std::make_pair(b.sampleIndex, b.eventIndex);
}

/// The notifications the main window routes to SPADE views: every view
/// follows data, selection and highlight; slaves also take positions on a
/// highlight change.
class ViewWiring : public SilentUiInterface
{
public:
    std::vector<QPointer<UI_SpadeWidget>> views;

    void dataRefreshedSignal(void* data) override { each([data](UI_SpadeWidget* v) { v->dataRefreshed(data); }); }
    void selectionRefreshedSignal(void* data) override
    {
        each([data](UI_SpadeWidget* v) { v->selectionRefreshed(data); });
    }
    void highlightRefreshedSignal(void* data) override
    {
        each([data](UI_SpadeWidget* v) {
            v->highlightRefreshed(data);
            if (v->isSlave())
                v->spadePositionsRefreshed(data);
        });
    }

private:
    template <class F>
    void each(F f)
    {
        const auto copy = views;
        for (const QPointer<UI_SpadeWidget>& view : copy)
            if (view)
                f(view);
    }
};

/// Corners [x0, y0, x1, y1] of a rectangle drag that starts on the background
/// and holds the centre of node %1 and no other; empty when none is found.
const char* const kRectangleAround = R"((function (i) {
    var n = graph.nodes[i], cx = screenX(n), cy = screenY(n), r = n.radius + 6;
    var directions = [[1, 1], [-1, 1], [1, -1], [-1, -1]];
    for (var k = 0; k < 4; ++k) {
        var s = [Math.round(cx + directions[k][0] * r), Math.round(cy + directions[k][1] * r)];
        var e = [Math.round(cx - directions[k][0] * 2), Math.round(cy - directions[k][1] * 2)];
        var start = document.elementFromPoint(s[0], s[1]);
        if (!start || start.id !== 'background')
            continue;
        var x0 = Math.min(s[0], e[0]), x1 = Math.max(s[0], e[0]), y0 = Math.min(s[1], e[1]), y1 = Math.max(s[1], e[1]);
        var others = graph.nodes.some(function (m) {
            var x = screenX(m), y = screenY(m);
            return m !== n && x >= x0 && x < x1 && y >= y0 && y < y1;
        });
        if (!others)
            return s.concat(e);
    }
    return [];
})(%1))";

class SpadeViewTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsIsolated);
        open();
        m_analysis = std::make_unique<MCV_SpadeAnalysis>();
        m_analysis->initialize(&m_wiring, "SPADE \"tree\" <b>");
        m_analysis->setKeepPercentage(100.0f);
        m_analysis->setTargetClusterCount(6);
    }
    void TearDown() override
    {
        m_views.clear();
        m_analysis.reset();
        RegistryTestData::dropRegistry();
    }

    /// A new registry with two generated files, as opening files makes it.
    void open()
    {
        MCV_DataRegistry* registry = RegistryTestData::freshRegistry();
        registry->setUiInterface(&m_wiring);
        const std::string folder = m_dir.path().toStdString();
        ASSERT_EQ(registry->loadFcsFile(HostileMarkerFiles::write(folder, "a.fcs", 90, 3, 1)), 0);
        ASSERT_EQ(registry->loadFcsFile(HostileMarkerFiles::write(folder, "b.fcs", 60, 3, 5)), 0);
        registry->createAllPointsData();
    }
    void compute()
    {
        testing::internal::CaptureStdout();
        m_analysis->computeSpadeTree();
        testing::internal::GetCapturedStdout();
    }
    MCV_DerivedDataClusters* shown() { return MCV_DataRegistry::instance()->clustersDataList().front(); }

    /// A view of the analysis in a floating dock of 900 by 700, its page loaded.
    UI_SpadeWidget* makeView(bool slave, MCV_Analysis* analysis = nullptr)
    {
        m_pages.push_back(std::make_unique<PageUnderTest>());
        auto view = std::make_unique<UI_SpadeWidget>(&m_window, analysis ? analysis : m_analysis.get(), slave);
        view->setFloating(true);
        view->resize(900, 700);
        view->show();
        EXPECT_TRUE(m_pages.back()->waitForLoad(60000));
        m_wiring.views.push_back(view.get());
        m_views.push_back(std::move(view));
        return m_views.back().get();
    }
    PageUnderTest& page(int i = 0) { return *m_pages[static_cast<std::size_t>(i)]; }

    /// Turns "Fix Tree" on, so nodes stay put, and reports the positions once.
    void freeze(PageUnderTest& master)
    {
        ASSERT_TRUE(master.waitFor("graph !== null && simulation !== null", 30000));
        master.evaluate("document.getElementById('fixTreeSwitch').click()");
        ASSERT_TRUE(master.evaluate("fixTree").toBool());
        master.evaluate("layoutTicked()");
    }
    /// A point of the background with room for a menu right of and below it.
    QPoint backgroundPoint(PageUnderTest& p)
    {
        const QVariantList xy = p.evaluate("(function () { for (var y = 150; y < 450; y += 10)"
                                           " for (var x = 100; x < 600; x += 10) {"
                                           " var e = document.elementFromPoint(x, y);"
                                           " if (e && e.id === 'background') return [x, y]; } return [0, 0]; })()")
                                    .toList();
        return QPoint(xy[0].toInt(), xy[1].toInt());
    }
    QPoint nodeCentre(PageUnderTest& p, int node)
    {
        const QVariantList xy =
            p.evaluate(QString("[screenX(graph.nodes[%1]), screenY(graph.nodes[%1])]").arg(node)).toList();
        return QPoint(qRound(xy[0].toDouble()), qRound(xy[1].toDouble()));
    }
    /// A right click as the window system delivers it: press, context menu, release.
    void rightClick(PageUnderTest& p, QPoint point)
    {
        p.move(point);
        const QPoint global = p.view()->mapToGlobal(point);
        QMouseEvent press(QEvent::MouseButtonPress, point, global, Qt::RightButton, Qt::RightButton, Qt::NoModifier);
        QApplication::sendEvent(p.view(), &press);
        QContextMenuEvent menu(QContextMenuEvent::Mouse, point, global);
        QApplication::sendEvent(p.view(), &menu);
        QMouseEvent release(QEvent::MouseButtonRelease, point, global, Qt::RightButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(p.view(), &release);
        QApplication::processEvents();
    }
    /// A point on a glyph of the first bubble label (its box's centre may lie
    /// off the curved text).
    QPoint labelPoint(PageUnderTest& p)
    {
        p.settle();
        const QVariantList xy = p.evaluate("(function () { var label = document.querySelector('.bubbleLabel');"
                                           " var box = label.getBoundingClientRect();"
                                           " for (var y = Math.ceil(box.top); y < box.bottom; ++y)"
                                           " for (var x = Math.ceil(box.left); x < box.right; ++x)"
                                           " if (label.contains(document.elementFromPoint(x, y))) return [x, y];"
                                           " return [0, 0]; })()")
                                    .toList();
        return QPoint(xy[0].toInt(), xy[1].toInt());
    }
    /// Clicks the entry of the open context menu with that title.
    void chooseMenuEntry(PageUnderTest& p, const QString& title)
    {
        const int index = p.evaluate(QString("Array.prototype.map.call(document.querySelectorAll("
                                             "'.d3-context-menu li'), function (li) { return li.textContent; })"
                                             ".indexOf(%1)")
                                         .arg(PageUnderTest::jsString(title)))
                              .toInt();
        ASSERT_GE(index, 0) << "no entry " << title.toStdString() << " in "
                            << p.evaluate("document.querySelector('.d3-context-menu').textContent")
                                   .toString()
                                   .toStdString();
        p.click(QString(".d3-context-menu li:nth-child(%1)").arg(index + 1));
    }
    /// The events of the clusters, sorted.
    std::vector<MCV_PointIndex> eventsOf(const std::vector<int>& clusters)
    {
        std::vector<MCV_PointIndex> events;
        for (int c : clusters)
            events.insert(events.end(), shown()->members()[static_cast<std::size_t>(c)].begin(),
                          shown()->members()[static_cast<std::size_t>(c)].end());
        std::sort(events.begin(), events.end(), byEvent);
        return events;
    }
    static std::vector<MCV_PointIndex> sorted(std::vector<MCV_PointIndex> events)
    {
        std::sort(events.begin(), events.end(), byEvent);
        return events;
    }
    std::vector<MCV_PointIndex> selection() { return sorted(MCV_DataRegistry::instance()->selectionData()->points()); }
    /// The events of an FCS file, one row of values each.
    static std::vector<std::vector<float>> readRows(const QString& path)
    {
        FcsHeader header;
        header.setFileName(path.toStdString());
        float* block = nullptr;
        std::vector<std::vector<float>> rows;
        EXPECT_EQ(FcsReader().read(&block, header), 0) << path.toStdString();
        for (int e = 0; block && e < header.eventCount(); ++e)
            rows.emplace_back(block + e * header.parameterCount(), block + (e + 1) * header.parameterCount());
        delete[] block;
        return rows;
    }
    /// The loaded files' rows of the events.
    static std::vector<std::vector<float>> sourceRows(const std::vector<MCV_PointIndex>& events)
    {
        MCV_DataRegistry* registry = MCV_DataRegistry::instance();
        std::vector<std::vector<float>> rows;
        for (const MCV_PointIndex& p : events) {
            const float* row = registry->sampleData(p.sampleIndex) + p.eventIndex * registry->parameterCount();
            rows.emplace_back(row, row + registry->parameterCount());
        }
        return rows;
    }
    /// Answers the next save dialog with the path.
    static void saveAs(const QString& path)
    {
        whenModal<QFileDialog>([path](QFileDialog* dialog) {
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(path);
            static_cast<QDialog*>(dialog)->accept();
        });
    }

    QTemporaryDir m_dir;
    ViewWiring m_wiring;
    QMainWindow m_window;
    std::unique_ptr<MCV_SpadeAnalysis> m_analysis;
    std::vector<std::unique_ptr<PageUnderTest>> m_pages;
    std::vector<std::unique_ptr<UI_SpadeWidget>> m_views;
};

} // namespace

TEST_F(SpadeViewTest, DrawsTheTreeWithCoreColoursAndNamesAsText)
{
    makeView(false);
    // The master page shows a tree once an announcement of its set arrives.
    EXPECT_EQ(page().evaluate("document.querySelectorAll('g.node').length").toInt(), 0);
    compute();
    ASSERT_TRUE(page().waitFor("graph !== null && graph.nodes.length === 6", 30000));
    freeze(page());
    MCV_DerivedDataClusters* clusters = shown();
    EXPECT_EQ(page().evaluate("document.querySelectorAll('g.node').length").toInt(), clusters->clusterCount());
    ASSERT_EQ(page().evaluate("document.querySelectorAll('line.link').length").toInt(),
              static_cast<int>(clusters->links().size()));

    // One line per link, ending at its nodes' centres.
    for (std::size_t l = 0; l < clusters->links().size(); ++l) {
        const QVariantList ends =
            page().evaluate(QString("(function () { var line = document.querySelectorAll('line.link')[%1];"
                                    " return ['x1', 'y1', 'x2', 'y2'].map(function (a) {"
                                    " return Number(line.getAttribute(a)); }); })()")
                                .arg(l))
                .toList();
        const QPoint source = nodeCentre(page(), clusters->links()[l].source);
        const QPoint target = nodeCentre(page(), clusters->links()[l].target);
        EXPECT_NEAR(ends[0].toDouble(), source.x(), 0.6);
        EXPECT_NEAR(ends[1].toDouble(), source.y(), 0.6);
        EXPECT_NEAR(ends[2].toDouble(), target.x(), 0.6);
        EXPECT_NEAR(ends[3].toDouble(), target.y(), 0.6);
    }

    // Left half: marker 0, right half: marker 3, each Viridis over the
    // marker's range of medians; the drawn pixels agree.
    page().evaluate("var select = document.getElementById('rightMarkerSelect'); select.value = '3';"
                    " select.dispatchEvent(new Event('change'));");
    const QImage image = page().view()->grab().toImage();
    for (int half = 0; half < 2; ++half) {
        const int marker = half == 0 ? 0 : 3;
        float low = 1e30f, high = -1e30f;
        for (int c = 0; c < clusters->clusterCount(); ++c) {
            low = std::min(low, clusters->clusterMedians(c)[marker]);
            high = std::max(high, clusters->clusterMedians(c)[marker]);
        }
        for (int c = 0; c < clusters->clusterCount(); ++c) {
            const double t = (clusters->clusterMedians(c)[marker] - low) / (high - low);
            const QString expected = page().evaluate(QString("d3.interpolateViridis(%1)").arg(t, 0, 'g', 17)).toString();
            const QString fill = page().evaluate(QString("d3.selectAll('g.node').filter(function (n) {"
                                                         " return n.index === %1; }).select('path.%2').attr('fill')")
                                                     .arg(c)
                                                     .arg(half == 0 ? "left" : "right"))
                                     .toString();
            EXPECT_EQ(fill, expected) << c << " " << half;
            const double radius = page().evaluate(QString("graph.nodes[%1].radius").arg(c)).toDouble();
            const QPoint pixel = nodeCentre(page(), c) + QPoint(qRound((half == 0 ? -0.5 : 0.5) * radius), 0);
            const QColor drawn = image.pixelColor(pixel);
            const QColor wanted(expected);
            // Another node may lie on top; most must show their own colour.
            EXPECT_LE(std::abs(drawn.red() - wanted.red()) + std::abs(drawn.green() - wanted.green())
                          + std::abs(drawn.blue() - wanted.blue()),
                      12)
                << c << " " << half << " " << drawn.name().toStdString() << " " << expected.toStdString();
        }
    }

    // Marker names arrive as text, none as markup.
    const QStringList options = page().evaluate("Array.prototype.map.call(document.querySelectorAll("
                                                "'#leftMarkerSelect option'), function (o) { return o.textContent; })")
                                    .toStringList();
    QStringList names;
    for (const std::string& name : HostileMarkerFiles::markerNames())
        names << QString::fromStdString(name);
    EXPECT_EQ(options, names);
    EXPECT_EQ(page().evaluate("document.querySelectorAll('img').length").toInt(), 0);
    EXPECT_FALSE(page().evaluate("window.injected === 1").toBool());
    EXPECT_TRUE(page().messages().contains("js_debug: Data set."));
}

TEST_F(SpadeViewTest, EmptyOneNodeAndMergedTreesDrawCleanly)
{
    UI_SpadeWidget* view = makeView(false);
    compute();
    ASSERT_TRUE(page().waitFor("graph !== null && graph.nodes.length === 6", 30000));

    // Merged clusters keep their remapped links; every line joins two nodes.
    shown()->mergeClusters({1, 4});
    ASSERT_TRUE(page().waitFor("graph.nodes.length === 5", 30000));
    EXPECT_EQ(page().evaluate("document.querySelectorAll('line.link').length").toInt(),
              static_cast<int>(shown()->links().size()));

    emit view->qt_setData("{\"nodes\":[\n]}");
    EXPECT_EQ(page().evaluate("document.querySelectorAll('g.node').length").toInt(), 0);
    emit view->qt_setData("{\"nodes\":[{\"name\":\"1\", \"size\":0, \"expression\":[1], \"stddev\":[0]}],"
                          "\"links\":[{\"source\":0, \"target\":3, \"value\":1}], \"names\":[\"m\"]}");
    EXPECT_EQ(page().evaluate("document.querySelectorAll('g.node').length").toInt(), 1);
    EXPECT_EQ(page().evaluate("document.querySelectorAll('line.link').length").toInt(), 0);
    page().evaluate("selectAll(true); openBubbleDialog(); drawRings(); toggleRing(graph.nodes[0]);");
    page().settle();
    // A dock smaller than the margins: the page lays the tree out in a square of side 0.
    view->resize(120, 90);
    ASSERT_TRUE(page().waitFor("geometry.side === 0", 30000));
    page().settle();
}

TEST_F(SpadeViewTest, MouseAndKeysSelectHighlightAndDrag)
{
    UI_SpadeWidget* view = makeView(false);
    compute();
    freeze(page());
    const QPoint node0 = nodeCentre(page(), 0);
    const QPoint node2 = nodeCentre(page(), 2);

    page().move(node0);
    EXPECT_EQ(shown()->highlightedCluster(), 0);
    page().move(QPoint(5, 300));
    EXPECT_EQ(shown()->highlightedCluster(), -1);

    page().press(node0);
    page().release(node0);
    EXPECT_EQ(selection(), eventsOf({0}));
    page().press(node2, Qt::ShiftModifier);
    page().release(node2, Qt::ShiftModifier);
    EXPECT_EQ(selection(), eventsOf({0, 2}));

    // Rectangles from the background: around node 2 alone, then with Shift
    // around node 0 (added) and node 2 again (inverted).
    for (const auto& [node, shift, expected] : {std::make_tuple(2, false, std::vector<int>{2}),
                                               std::make_tuple(0, true, std::vector<int>{0, 2}),
                                               std::make_tuple(2, true, std::vector<int>{0})}) {
        const QVariantList corners = page().evaluate(QString(kRectangleAround).arg(node)).toList();
        ASSERT_EQ(corners.size(), 4) << node;
        const Qt::KeyboardModifiers modifiers = shift ? Qt::ShiftModifier : Qt::NoModifier;
        const QPoint from(corners[0].toInt(), corners[1].toInt());
        const QPoint to(corners[2].toInt(), corners[3].toInt());
        page().move(from, modifiers);
        page().press(from, modifiers);
        page().move((from + to) / 2, modifiers);
        page().move(to, modifiers);
        page().release(to, modifiers);
        EXPECT_EQ(selection(), eventsOf(expected)) << node;
    }
    EXPECT_EQ(page().evaluate("document.getElementById('selectionRect').style.display").toString(), "none");

    view->webView()->setFocus();
    QTest::keyClick(view->webView(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(selection().size(), 150u);
    QTest::keyClick(view->webView(), Qt::Key_D, Qt::ControlModifier);
    EXPECT_TRUE(selection().empty());
    // An empty report with nothing selected before changes nothing.
    MCV_DataRegistry::instance()->selectionData()->setPoints({{0, 1}}, false);
    QTest::keyClick(view->webView(), Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(selection().size(), 1u);

    // With the tree free again, dragging node 0 (selected by the press)
    // moves and pins it alone.
    page().evaluate("document.getElementById('fixTreeSwitch').click()");
    ASSERT_FALSE(page().evaluate("fixTree").toBool());
    // The layout has come to rest, so the press lands on the node and the
    // pin's move is the pointer's, give or take the little motion the drag
    // itself restarts.
    page().evaluate("for (var i = 0; i < 700; ++i) simulation.tick(); simulation.stop(); layoutTicked();");
    const QVariantList before = page().evaluate("[graph.nodes[0].x, graph.nodes[0].y,"
                                                " layoutDelta(xScale, 40), layoutDelta(yScale, 24)]")
                                    .toList();
    const QPoint start = nodeCentre(page(), 0);
    page().move(start);
    page().press(start);
    for (int step = 1; step <= 4; ++step)
        page().move(start + QPoint(10, 6) * step);
    page().release(start + QPoint(40, 24));
    EXPECT_EQ(selection(), eventsOf({0}));
    EXPECT_TRUE(page().evaluate("graph.nodes.every(function (n) { return n.index === 0"
                                " ? n.fixed && n.fx !== null : !n.fixed && n.fx === null; })")
                    .toBool());
    EXPECT_NEAR(page().evaluate("graph.nodes[0].fx").toDouble() - before[0].toDouble(), before[2].toDouble(),
                0.3 * before[2].toDouble());
    EXPECT_NEAR(page().evaluate("graph.nodes[0].fy").toDouble() - before[1].toDouble(), before[3].toDouble(),
                0.3 * before[3].toDouble());
    EXPECT_EQ(page().evaluate("d3.selectAll('g.node.fixed').size()").toInt(), 1);
}

TEST_F(SpadeViewTest, BubblesThroughMenuAndDialogHoldTheirEventsAndFollowChanges)
{
    UI_SpadeWidget* view = makeView(false);
    compute();
    freeze(page());
    const QString hostile = QString::fromUtf8("</b><img src=x onerror=window.injected=2> \"é\" \u00a0–");
    for (int node : {1, 3})
        page().press(nodeCentre(page(), node), node == 3 ? Qt::ShiftModifier : Qt::NoModifier),
            page().release(nodeCentre(page(), node), node == 3 ? Qt::ShiftModifier : Qt::NoModifier);
    rightClick(page(), nodeCentre(page(), 3));
    chooseMenuEntry(page(), "Create Bubble ...");
    ASSERT_TRUE(page().waitFor("bubbleDialogIsOpen()", 30000));
    EXPECT_TRUE(page().evaluate("document.getElementById('saveBubble').disabled").toBool());
    page().type("#bubbleName", hostile);
    ASSERT_FALSE(page().evaluate("bubbleDialogIsOpen()").toBool());
    ASSERT_EQ(view->bubbleSetName(hostile), hostile);
    MCV_DerivedDataPoints* bubble = MCV_DataRegistry::instance()->createPointsData(hostile.toStdString(), true);
    EXPECT_EQ(sorted(bubble->points()), eventsOf({1, 3}));
    // The selection was cleared and reported.
    EXPECT_TRUE(selection().empty());
    EXPECT_EQ(page().evaluate("d3.select('.bubbleLabel textPath').text()").toString(), hostile);
    EXPECT_EQ(page().evaluate("document.querySelectorAll('img').length").toInt(), 0);

    // Nothing selected: node 0 joins through its menu; the set follows.
    rightClick(page(), nodeCentre(page(), 0));
    EXPECT_EQ(page().evaluate("document.querySelector('.d3-context-menu li:nth-child(3)').textContent").toString(),
              "Add Node to " + hostile);
    chooseMenuEntry(page(), "Add Node to " + hostile);
    EXPECT_EQ(sorted(bubble->points()), eventsOf({0, 1, 3}));
    rightClick(page(), nodeCentre(page(), 1));
    chooseMenuEntry(page(), "Remove Node from " + hostile);
    EXPECT_EQ(sorted(bubble->points()), eventsOf({0, 3}));
    EXPECT_FALSE(page().evaluate("window.injected === 2").toBool());

    // A bubble called "All Points" leaves that set whole.
    page().evaluate("graph.nodes[5].selected = true; openBubbleDialog();"
                    " document.getElementById('bubbleName').value = 'All Points'; saveBubble();");
    EXPECT_EQ(MCV_DataRegistry::instance()->createPointsData("All Points", true)->points().size(), 150u);
    EXPECT_EQ(view->bubbleSetName("All Points"), "All Points-1");
    EXPECT_EQ(sorted(MCV_DataRegistry::instance()->createPointsData("All Points-1", true)->points()), eventsOf({5}));

    // "Save Bubble ..." through the label's menu and the real dialog.
    const QString folder = m_dir.filePath("out");
    ASSERT_TRUE(QDir().mkpath(folder));
    for (int separate = 0; separate < 2; ++separate) {
        saveAs(folder + "/saved" + QString::number(separate));
        rightClick(page(), labelPoint(page()));
        chooseMenuEntry(page(), separate ? "Save Bubble to Separate Files ..." : "Save Bubble ...");
        const QString written = folder + (separate ? "/saved1-b.fcs" : "/saved0.fcs");
        EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(written); }, 30000)) << written.toStdString();
    }
    const std::vector<MCV_PointIndex> members = bubble->points();
    EXPECT_EQ(readRows(folder + "/saved0.fcs"), sourceRows(members));
    for (int sample = 0; sample < 2; ++sample) {
        std::vector<MCV_PointIndex> ofSample;
        for (const MCV_PointIndex& p : members)
            if (p.sampleIndex == sample)
                ofSample.push_back(p);
        EXPECT_EQ(readRows(folder + "/saved1-" + (sample == 0 ? "a" : "b") + ".fcs"), sourceRows(ofSample));
    }
}

TEST_F(SpadeViewTest, SlaveFollowsTheMasterAndIgnoresPositionsOfAnotherLength)
{
    makeView(false);
    compute();
    freeze(page());
    UI_SpadeWidget* slave = makeView(true);
    ASSERT_TRUE(page(1).waitFor("graph !== null && graph.nodes.length === 6", 30000));
    // Positions reported before the slave existed arrived with its data.
    auto positions = [this](int p) {
        return page(p).evaluate("graph.nodes.map(function (n) { return [screenX(n), screenY(n)]; })").toList();
    };
    EXPECT_EQ(positions(1), positions(0));

    // The master moves on; a report and a highlight change bring the slave along.
    page().evaluate("graph.nodes.forEach(function (n) { n.x += 3 * n.index; n.y -= n.index; }); layoutTicked();");
    page().move(nodeCentre(page(), 4));
    EXPECT_EQ(shown()->highlightedCluster(), 4);
    EXPECT_EQ(positions(1), positions(0));
    EXPECT_EQ(page(1).evaluate("d3.select('#graph').style('visibility')").toString(), "visible");

    const QVariantList before = positions(1);
    emit slave->qt_setPositions("[{\"px\":1,\"py\":2}]");
    emit slave->qt_setPositions("not json");
    EXPECT_EQ(positions(1), before);

    // A bubble on the slave reports no selection, a label click does.
    page(1).evaluate("graph.nodes[2].selected = true; createBubble('S');");
    EXPECT_EQ(slave->bubbleSetName("S"), "S");
    page(1).click(".bubbleLabel");
    EXPECT_EQ(selection(), eventsOf({2}));
}

TEST_F(SpadeViewTest, SavedSvgIsAStandAloneDocumentWithTheNodeColours)
{
    makeView(false);
    compute();
    freeze(page());
    // A bubble's label links to its hull.
    page().evaluate("graph.nodes[2].selected = true; createBubble('B');");
    const QString path = m_dir.filePath("tree.svg");
    QString proposed;
    whenModal<QFileDialog>([&](QFileDialog* dialog) {
        proposed = dialog->findChild<QLineEdit*>("fileNameEdit")->text();
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(path);
        static_cast<QDialog*>(dialog)->accept();
    });
    rightClick(page(), backgroundPoint(page()));
    chooseMenuEntry(page(), "Save Image ...");
    EXPECT_EQ(proposed, "SPADE _tree_ _b_.svg");

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader reader(&file);
    int nodes = 0, namespaces = 0, styles = 0;
    QStringList sizes, labelLinks;
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement())
            continue;
        namespaces += reader.namespaceDeclarations().size();
        styles += reader.name() == QLatin1String("style");
        if (reader.name() == QLatin1String("textPath"))
            labelLinks << reader.attributes().value("http://www.w3.org/1999/xlink", "href").toString();
        if (reader.attributes().value("class") == QLatin1String("node"))
            ++nodes;
        if (reader.attributes().value("class") == QLatin1String("nodeSize"))
            sizes << reader.readElementText();
    }
    ASSERT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    EXPECT_EQ(namespaces, 2);
    EXPECT_EQ(styles, 1);
    EXPECT_EQ(nodes, shown()->clusterCount());
    EXPECT_EQ(labelLinks, QStringList{"#" + page().evaluate("d3.select('path.bubbleHull').attr('id')").toString()});
    EXPECT_TRUE(QSvgRenderer(path).isValid());
    QStringList expectedSizes;
    for (int c = 0; c < shown()->clusterCount(); ++c)
        expectedSizes << QString::number(shown()->clusterSize(c));
    sizes.sort();
    expectedSizes.sort();
    EXPECT_EQ(sizes, expectedSizes);

    // rsvg-convert draws it with the nodes' colours.
    const QString png = m_dir.filePath("tree.png");
    ASSERT_EQ(QProcess::execute("rsvg-convert", {"-o", png, path}), 0);
    const QImage image(png);
    const QPoint centre = nodeCentre(page(), 0);
    const double radius = page().evaluate("graph.nodes[0].radius").toDouble();
    const QColor wanted(page().evaluate("d3.select('g.node path.left').attr('fill')").toString());
    const QColor drawn = image.pixelColor(centre - QPoint(qRound(radius / 2), 0));
    EXPECT_LE(std::abs(drawn.red() - wanted.red()) + std::abs(drawn.green() - wanted.green())
                  + std::abs(drawn.blue() - wanted.blue()),
              12)
        << drawn.name().toStdString() << " " << wanted.name().toStdString();
}

TEST_F(SpadeViewTest, FilesReopenedDuringTheLayoutReachOnlyTheNewSet)
{
    UI_SpadeWidget* view = makeView(false);
    compute();
    ASSERT_TRUE(page().waitFor("graph !== null && graph.nodes.length === 6", 30000));
    open();
    // The next report finds the reopened files' set of that name (empty
    // until the analysis runs again) and sends its tree to the page.
    ASSERT_TRUE(page().waitFor("graph.nodes.length === 0", 30000));
    compute();
    ASSERT_TRUE(page().waitFor("graph.nodes.length === 6", 30000));
    MCV_DerivedDataClusters* fresh = shown();
    EXPECT_EQ(view->shownData(), fresh);
    ASSERT_TRUE(QTest::qWaitFor([fresh] { return !fresh->nodePositions().empty(); }, 5000));
    page().press(nodeCentre(page(), 1));
    page().release(nodeCentre(page(), 1));
    EXPECT_EQ(selection(), eventsOf({1}));
}

TEST_F(SpadeViewTest, ABubbleOnATemplateTreeMakesNoSet)
{
    MCV_TemplateAnalysis templates;
    testing::internal::CaptureStdout();
    templates.initialize(&m_wiring, "Templates", {{0, 0, 0, 0, 0}, {10, 10, 10, 10, 10}, {20, 0, 10, 20, 0}});
    ASSERT_TRUE(templates.classify());
    testing::internal::GetCapturedStdout();
    UI_SpadeWidget* view = makeView(true, &templates);
    ASSERT_TRUE(page().waitFor("graph !== null && graph.nodes.length === 4", 30000));
    const size_t sets = MCV_DataRegistry::instance()->pointsDataList().size();
    page().evaluate("graph.nodes[1].selected = true; createBubble('T');");
    EXPECT_EQ(MCV_DataRegistry::instance()->pointsDataList().size(), sets);
    EXPECT_EQ(view->bubbleSetName("T"), "");
    m_wiring.views.clear();
    m_views.clear();
}

TEST_F(SpadeViewTest, EveryBubbleShowsItsWholeLabelAndSavesThroughIt)
{
    m_analysis->setTargetClusterCount(9);
    makeView(false);
    compute();
    freeze(page());
    ASSERT_GE(page().evaluate("graph.nodes.length").toInt(), 8);
    // The smallest node alone, and seven nodes of the others.
    const QVariantList bySize = page().evaluate("graph.nodes.slice().sort(function (a, b) { return a.radius - b.radius; })"
                                                ".map(function (node) { return node.index; })")
                                    .toList();
    std::vector<int> seven;
    for (int i = 1; i <= 7; ++i)
        seven.push_back(bySize[i].toInt());
    const std::vector<std::pair<QString, std::vector<int>>> bubbles = {{"Small bubble", {bySize[0].toInt()}},
                                                                       {"Seven nodes", seven}};
    for (const auto& [name, nodes] : bubbles) {
        for (int node : nodes)
            page().evaluate(QString("graph.nodes[%1].selected = true;").arg(node));
        page().evaluate(QString("createBubble(%1)").arg(PageUnderTest::jsString(name)));
    }
    page().settle();

    for (const auto& [name, nodes] : bubbles) {
        // Every character lies where the pointer finds it.
        const QVariantList shown =
            page().evaluate(QString("(function (name) { var label = d3.selectAll('.bubbleLabel')"
                                    ".filter(function (bubble) { return bubble === name; }).node();"
                                    " var shown = 0, first = [0, 0];"
                                    " for (var i = 0; i < label.getNumberOfChars(); ++i) {"
                                    " var box = label.getExtentOfChar(i);"
                                    " var x = Math.round(box.x + box.width / 2), y = Math.round(box.y + box.height / 2);"
                                    " if (label.contains(document.elementFromPoint(x, y))) {"
                                    " if (shown++ === 0) first = [x, y]; } }"
                                    " return [shown, first[0], first[1]]; })(%1)")
                                .arg(PageUnderTest::jsString(name)))
                .toList();
        ASSERT_EQ(shown[0].toInt(), name.size()) << name.toStdString();

        const QString path = m_dir.filePath(name + ".fcs");
        saveAs(path);
        rightClick(page(), QPoint(shown[1].toInt(), shown[2].toInt()));
        chooseMenuEntry(page(), "Save Bubble ...");
        const std::vector<MCV_PointIndex> members =
            MCV_DataRegistry::instance()->createPointsData(name.toStdString(), true)->points();
        EXPECT_EQ(sorted(members), eventsOf(nodes));
        EXPECT_EQ(readRows(path), sourceRows(members)) << name.toStdString();
    }
}

TEST_F(SpadeViewTest, AClickInsideASizeLegendCircleSwitchesTheLabels)
{
    makeView(false);
    compute();
    ASSERT_TRUE(page().waitFor("graph !== null && graph.nodes.length === 6", 30000));
    const QString last = "d3.select('#sizeLegend g.sizeEntry:nth-child(5) text').text()";
    EXPECT_EQ(page().evaluate(last).toString(), "> 20%");
    page().click("#sizeLegend g.sizeEntry:nth-child(5) circle");
    EXPECT_EQ(page().evaluate(last).toString(), "> 30");
}
