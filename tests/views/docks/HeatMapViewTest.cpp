// The heat map view with its real page from the bundle: a SPADE tree of
// generated files with hostile marker and set names, chosen in the page's
// chooser, drawn, sorted, selected, merged, renamed and saved through the
// real dialogs.
#include "docks/UI_HeatMapWidget.h"

#include "analyses/MCV_SpadeAnalysis.h"
#include "data/DefaultStateStore.h"
#include "data/FcsReader.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"
#include "framework/UI_Settings.h"
#include "framework/readTextResource.h"
#include "support/CsvRecords.h"
#include "support/IsolatedSettings.h"
#include "support/ModalDialogDriver.h"
#include "support/PageUnderTest.h"
#include "support/RecordingUiInterface.h"
#include "support/RegistryTestData.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

// Readable QString values in failure messages.
static void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

const bool settingsIsolated = isolateSettings();

const std::vector<std::string> kMarkers = {"CD4 \"a\"", "x\\y\x01\x1f", "</script><img src=x onerror=Qt.js_debug('injected')>",
                                           "é µ –", "CD\xc2\xa0" "8"};
const std::string kSetName = "Tree \"q\" <b>é</b>";
constexpr int kClusters = 6;

/// Events of six populations, each with its own level in every marker.
std::vector<float> populationEvents(int events, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> noise(-0.3f, 0.3f);
    std::vector<float> values;
    for (int e = 0; e < events; ++e)
        for (std::size_t m = 0; m < kMarkers.size(); ++m)
            values.push_back(static_cast<float>((e % kClusters) * (m + 2) % 7) * 1.5f + 8.0f * (e % kClusters) + noise(rng));
    return values;
}

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

class HeatMapViewTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsIsolated);
        ASSERT_TRUE(m_dir.isValid());
        UI_Settings::instance()->setValue("exportDefaultFilePath", m_dir.path());
        UI_Settings::instance()->setValue("dataExportDefaultFilePath", m_dir.path());
        UI_Settings::instance()->sync();
        std::vector<bool> states = {true, true, true, false, true};
        DefaultStateStore::instance()->setMarkerStates(states);

        MCV_DataRegistry* registry = RegistryTestData::freshRegistry();
        registry->setUiInterface(&m_ui);
        std::vector<std::pair<std::string, std::string>> names;
        for (std::size_t m = 0; m < kMarkers.size(); ++m)
            names.emplace_back("$P" + std::to_string(m + 1) + "N", kMarkers[m]);
        for (int f = 0; f < 2; ++f)
            ASSERT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(m_dir.path().toStdString(),
                                                                       "s" + std::to_string(f) + ".fcs",
                                                                       static_cast<int>(kMarkers.size()),
                                                                       populationEvents(240 + 60 * f, f + 1), names)),
                      0);
        registry->createAllPointsData();
        m_spade.initialize(&m_ui, kSetName);
        m_spade.setTargetClusterCount(kClusters);
        testing::internal::CaptureStdout();
        m_spade.computeSpadeTree();
        testing::internal::GetCapturedStdout();
        m_clusters = registry->createClustersData(kSetName, true);
        ASSERT_EQ(m_clusters->clusterCount(), kClusters);

        m_ui.onCall = [this](const RecordingUiInterface::Call& call) {
            if (!m_view)
                return;
            if (call.operation == "dataRefreshedSignal")
                m_view->dataRefreshed(call.argument);
            else if (call.operation == "selectionRefreshedSignal")
                m_view->selectionRefreshed(call.argument);
            else if (call.operation == "highlightRefreshedSignal")
                m_view->highlightRefreshed(call.argument);
        };
        m_page.reset(new PageUnderTest());
        m_view = new UI_HeatMapWidget();
        m_view->resize(900, 640);
        m_view->show();
        // Pages load slowly in the sanitizer build.
        ASSERT_TRUE(m_page->waitForLoad(60000));
        ASSERT_TRUE(m_page->waitFor("_availableDataSets.length === 1", 30000));
    }
    void TearDown() override
    {
        m_page.reset();
        delete m_view;
        m_view = nullptr;
        RegistryTestData::dropRegistry();
    }

    /// Chooses the set at `index` of the page's chooser, as a user does.
    void choose(int index)
    {
        m_page->evaluate(QString("var chooser = document.getElementById('dataChooser');"
                                 " chooser.selectedIndex = %1;"
                                 " var event = document.createEvent('HTMLEvents'); event.initEvent('change', true, true);"
                                 " chooser.dispatchEvent(event);")
                             .arg(index + 1));
        m_page->settle();
    }
    QVariant js(const QString& script) { return m_page->evaluate(script); }
    /// The clusters in display order, first first.
    std::vector<int> displayOrder()
    {
        const QVariantList positions = js("_sorting").toList();
        std::vector<int> order(static_cast<std::size_t>(positions.size()));
        for (int c = 0; c < positions.size(); ++c)
            order[static_cast<std::size_t>(positions[c].toInt())] = c;
        return order;
    }
    /// A column's x from its transform.
    double columnX(int cluster)
    {
        const QString transform = js(QString("d3.select('#cluster%1').attr('transform')").arg(cluster)).toString();
        return transform.section('(', 1).section(',', 0, 0).toDouble();
    }
    QPoint cellPoint(int cluster, int marker)
    {
        return m_page->elementPoint(QString("#cluster%1 rect.cell:nth-of-type(%2)").arg(cluster).arg(marker + 2));
    }
    /// Waits until no transition runs: columns and cells stand where they go.
    void idle()
    {
        EXPECT_TRUE(m_page->waitFor("Array.prototype.every.call(document.querySelectorAll('#mainView *'),"
                                    " function (node) { return !node.__transition; })"));
    }
    void press(int cluster, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        const QPoint point = cellPoint(cluster, 0);
        m_page->move(point, modifiers);
        m_page->press(point, modifiers);
        m_page->release(point, modifiers);
        idle();
    }
    /// Opens the page's context menu at the point with a right press and clicks
    /// the entry, turning the wheel over the menu first if the entry lies below.
    void menu(const QString& entry, QPoint at = QPoint(300, 200))
    {
        const QPoint global = m_page->view()->mapToGlobal(at);
        QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::RightButton, Qt::RightButton, Qt::NoModifier);
        QApplication::sendEvent(m_page->view(), &press);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, global);
        QApplication::sendEvent(m_page->view(), &event);
        const int index = js(QString("d3.selectAll('.d3-context-menu li').nodes().map(function (li) {"
                                     " return li.textContent; }).indexOf(%1)")
                                 .arg(PageUnderTest::jsString(entry)))
                              .toInt();
        ASSERT_GE(index, 0) << entry.toStdString();
        const QString item = QString(".d3-context-menu li:nth-child(%1)").arg(index + 1);
        const QPoint over = (m_page->elementRect(".d3-context-menu") & m_page->view()->rect()).center();
        if (m_page->elementPoint(item).y() > m_page->view()->height()) {
            QWheelEvent wheel(over, m_page->view()->mapToGlobal(over), QPoint(), QPoint(0, -600), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(m_page->view(), &wheel);
        }
        m_page->click(item);
        idle();
    }
    QStringList menuEntries(QPoint at = QPoint(300, 200))
    {
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, m_page->view()->mapToGlobal(at));
        QApplication::sendEvent(m_page->view(), &event);
        const QStringList entries = js("d3.selectAll('.d3-context-menu li').nodes().map(function (li) {"
                                       " return li.textContent; })")
                                        .toStringList();
        js("hideContextMenu()");
        return entries;
    }
    /// Answers the next save dialog with the file name (in the test folder).
    void saveAs(const QString& name, QStringList* filters = nullptr)
    {
        whenModal<QFileDialog>([this, name, filters](QFileDialog* dialog) {
            if (filters)
                *filters = dialog->nameFilters();
            EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
            EXPECT_EQ(dialog->parentWidget(), m_view);
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(m_dir.filePath(name));
            QTest::keyClick(dialog->findChild<QLineEdit*>("fileNameEdit"), Qt::Key_Return);
        });
    }
    std::vector<MCV_PointIndex> selectionPoints() { return MCV_DataRegistry::instance()->selectionData()->points(); }
    std::vector<MCV_PointIndex> membersOf(std::initializer_list<int> clusters)
    {
        std::vector<MCV_PointIndex> points;
        for (int c : clusters)
            points.insert(points.end(), m_clusters->members()[c].begin(), m_clusters->members()[c].end());
        return points;
    }

    QTemporaryDir m_dir;
    RecordingUiInterface m_ui;
    MCV_SpadeAnalysis m_spade;
    MCV_DerivedDataClusters* m_clusters = nullptr;
    std::unique_ptr<PageUnderTest> m_page;
    UI_HeatMapWidget* m_view = nullptr;
};

} // namespace

TEST_F(HeatMapViewTest, DrawsTheChosenSetWithTheCoresMediansAsText)
{
    EXPECT_EQ(js("_availableDataSets").toStringList(), QStringList{qs(kSetName)});
    choose(0);
    ASSERT_EQ(m_view->shownData(), m_clusters);
    const int active = 4;
    EXPECT_EQ(js("d3.selectAll('rect.cell').filter(function () {"
                 " return this.getAttribute('visibility') === 'visible'; }).size()")
                  .toInt(),
              kClusters * active);

    // Bounds: the range of the active markers' medians over the clusters.
    float low = INFINITY, high = -INFINITY;
    for (int c = 0; c < kClusters; ++c)
        for (int m : {0, 1, 2, 4}) {
            low = std::min(low, m_clusters->clusterMedians(c)[m]);
            high = std::max(high, m_clusters->clusterMedians(c)[m]);
        }
    EXPECT_NEAR(js("_markerUserBounds[0]").toDouble(), low, 1e-5);
    EXPECT_NEAR(js("_markerUserBounds[1]").toDouble(), high, 1e-5);

    const double columnWidth = js("_geometry.columnWidth").toDouble();
    EXPECT_NEAR(columnWidth, js("_geometry.heatmapWidth").toDouble() / kClusters, 1e-9);
    const QImage shot = m_page->view()->grab().toImage();
    const std::vector<int> order = displayOrder();
    for (int c = 0; c < kClusters; ++c) {
        const int position = static_cast<int>(std::find(order.begin(), order.end(), c) - order.begin());
        EXPECT_NEAR(columnX(c), position * columnWidth, 1e-6);
        for (int m : {0, 1, 2, 4}) {
            const double t = (m_clusters->clusterMedians(c)[m] - low) / (high - low);
            const QString expected = js(QString("d3.interpolateViridis(%1)").arg(t, 0, 'g', 10)).toString();
            const QString selector = QString("#cluster%1 rect.cell:nth-of-type(%2)").arg(c).arg(m + 2);
            EXPECT_EQ(js(QString("d3.select('%1').attr('fill')").arg(selector)).toString(), expected);
            const QColor painted = shot.pixelColor(m_page->elementPoint(selector));
            const QColor wanted(expected);
            EXPECT_LE(std::abs(painted.red() - wanted.red()) + std::abs(painted.green() - wanted.green())
                          + std::abs(painted.blue() - wanted.blue()),
                      6)
                << c << " " << m;
        }
        EXPECT_EQ(js(QString("d3.select('#cluster%1 text').text()").arg(c)).toString(),
                  qs(m_clusters->clusterName(c)));
    }
    for (std::size_t m = 0; m < kMarkers.size(); ++m)
        EXPECT_EQ(js(QString("d3.select('#marker%1').text()").arg(m)).toString(), qs(kMarkers[m]));

    // Sliding the lower bound in the drawer recolours at once.
    m_page->click("#drawer");
    ASSERT_TRUE(m_page->waitFor("d3.select('#ui').style('bottom') === '0px'"));
    m_page->drag("#rangeSlider .noUi-handle-lower", QPoint(150, 0), 3);
    const double lower = js("_markerUserBounds[0]").toDouble();
    EXPECT_GT(lower, low + 1.0);
    EXPECT_EQ(js("d3.select('#legendMin').text()").toString(), QString::number(lower, 'f', 2));
    EXPECT_EQ(js("d3.selectAll('rect.cell').filter(function (cell) { return clusterValue(cell) <= _markerUserBounds[0]; })"
                 ".nodes().map(function (rect) { return rect.getAttribute('fill'); })"
                 ".filter(function (fill) { return fill !== d3.interpolateViridis(0); }).length")
                  .toInt(),
              0);
    EXPECT_EQ(js("document.querySelectorAll('img').length").toInt(), 0);
    EXPECT_FALSE(m_page->messages().join('\n').contains("injected"));
}

TEST_F(HeatMapViewTest, EmptySetsOneClusterAndNoActiveMarkerDrawCleanly)
{
    MCV_DerivedDataClusters* one = MCV_DataRegistry::instance()->createClustersData("One \"cluster\"", false);
    one->setClusters({m_clusters->members()[0]}, m_clusters->parentData(), {});
    EXPECT_EQ(js("_availableDataSets").toStringList(), (QStringList{qs(kSetName), "One \"cluster\""}));
    choose(1);
    EXPECT_EQ(js("d3.selectAll('g.column').size()").toInt(), 1);
    menu("Toggle Dendrogram");
    EXPECT_TRUE(js("_showDendrogram && document.getElementById('switchDendrogram').checked").toBool());
    EXPECT_EQ(js("d3.selectAll('path.dendrogramLink').size()").toInt(), 0);
    press(0);
    EXPECT_EQ(selectionPoints(), membersOf({0}));

    // A name no set carries makes an empty set, which draws nothing.
    js("Qt.js_selectData('Gone')");
    ASSERT_NE(m_view->shownData(), nullptr);
    EXPECT_EQ(m_view->shownData()->clusterCount(), 0);
    EXPECT_EQ(js("d3.selectAll('g.column').size()").toInt(), 0);
    menu("Toggle Variation");
    menu("Toggle Marker Selection");

    // Every marker switched off in the marker switches: the range stays.
    choose(0);
    for (int m : {0, 1, 2})
        m_page->press(m_page->elementPoint(QString("#markerSwitch%1 circle").arg(m)));
    const QString range = js("_markerRange.join()").toString();
    m_page->press(m_page->elementPoint("#markerSwitch4 circle"));
    m_page->release(QPoint(5, 5));
    EXPECT_EQ(js("_markerSelection").toList(), (QVariantList{0, 0, 0, 0, 0}));
    EXPECT_EQ(js("_markerRange.join()").toString(), range);
    menu("Toggle Marker Selection");
    menu("Toggle Dendrogram");
    EXPECT_EQ(js("_geometry.rowHeight").toDouble(), 0.0);
}

TEST_F(HeatMapViewTest, MarkerLabelsSortBothWaysSelectedFirstAndTheDendrogramStandsOverItsColumns)
{
    choose(0);
    const int marker = 1;
    std::vector<int> ascending(kClusters);
    for (int c = 0; c < kClusters; ++c)
        ascending[c] = c;
    std::stable_sort(ascending.begin(), ascending.end(), [this](int a, int b) {
        return m_clusters->clusterMedians(a)[marker] < m_clusters->clusterMedians(b)[marker];
    });
    const std::vector<int> descending(ascending.rbegin(), ascending.rend());

    m_page->click("#marker1");
    EXPECT_EQ(displayOrder(), descending);
    m_page->click("#marker1");
    EXPECT_EQ(displayOrder(), ascending);
    idle();

    // Three selected stand first, in either direction.
    press(ascending[4]);
    press(ascending[1], Qt::ShiftModifier);
    press(ascending[2], Qt::ShiftModifier);
    EXPECT_EQ(displayOrder(), (std::vector<int>{ascending[1], ascending[2], ascending[4], ascending[0], ascending[3],
                                                ascending[5]}));
    m_page->click("#marker1");
    EXPECT_EQ(displayOrder(), (std::vector<int>{ascending[4], ascending[2], ascending[1], ascending[5], ascending[3],
                                                ascending[0]}));

    menu("Toggle Dendrogram");
    const double columnWidth = js("_geometry.columnWidth").toDouble();
    const QVariantList leaves = js("d3.selectAll('path.dendrogramLink').data().filter(function (link) {"
                                   " return !link.target.children; }).map(function (link) {"
                                   " return [link.target.data.index, link.target.x]; })")
                                    .toList();
    ASSERT_EQ(leaves.size(), kClusters);
    for (const QVariant& leaf : leaves) {
        const QVariantList entry = leaf.toList();
        EXPECT_NEAR(entry[1].toDouble(), columnX(entry[0].toInt()) + columnWidth / 2, 1e-3);
    }
    EXPECT_EQ(js("d3.selectAll('text.dendrogramLabel').size()").toInt(), kClusters - 1);
    // A selection change re-sorts from the same tree.
    const QVariant tree = js("_dendrogramKey");
    press(ascending[0]);
    EXPECT_EQ(js("_dendrogramKey"), tree);
}

TEST_F(HeatMapViewTest, PressesKeysHoverMergeAndRenameReachTheCore)
{
    choose(0);
    press(3);
    EXPECT_EQ(selectionPoints(), membersOf({3}));
    press(1, Qt::ShiftModifier);
    EXPECT_EQ(selectionPoints(), membersOf({1, 3}));
    press(3);
    EXPECT_TRUE(selectionPoints().empty());

    m_page->move(cellPoint(4, 2));
    EXPECT_EQ(m_clusters->highlightedCluster(), 4);
    m_page->move(QPoint(5, 300));
    EXPECT_EQ(m_clusters->highlightedCluster(), -1);

    // Arrows move a single selection to the neighbouring column.
    press(2);
    const std::vector<int> order = displayOrder();
    const int position = static_cast<int>(std::find(order.begin(), order.end(), 2) - order.begin());
    m_page->view()->setFocus();
    QTest::keyClick(m_page->view(), position + 1 < kClusters ? Qt::Key_Right : Qt::Key_Left);
    const int neighbour = order[static_cast<std::size_t>(position + 1 < kClusters ? position + 1 : position - 1)];
    EXPECT_EQ(selectionPoints(), membersOf({neighbour}));
    QTest::keyClick(m_page->view(), Qt::Key_Up);
    EXPECT_EQ(selectionPoints(), membersOf({order.back()}));

    // Nodes selected elsewhere (a SPADE view of the set) are framed here.
    m_clusters->setSelectedClusters({1, 4});
    EXPECT_EQ(js("_selection").toList(), (QVariantList{0, 1, 0, 0, 1, 0}));
    idle();
    const double columnWidth = js("_geometry.columnWidth").toDouble();
    const QVariantList frameX = js("d3.selectAll('#frames line').nodes().map(function (line) {"
                                   " return +line.getAttribute('x1'); })")
                                    .toList();
    ASSERT_EQ(frameX.size(), 4);
    EXPECT_NEAR(frameX[2].toDouble(), 0.0, 1e-9);
    EXPECT_NEAR(frameX[3].toDouble(), 2 * columnWidth, 1e-9);

    const std::vector<MCV_PointIndex> merged = membersOf({1, 4});
    menu("Merge Selected Clusters");
    ASSERT_EQ(m_clusters->clusterCount(), kClusters - 1);
    EXPECT_EQ(m_clusters->members()[1], merged);
    EXPECT_EQ(js("d3.selectAll('g.column').size()").toInt(), kClusters - 1);
    EXPECT_EQ(js("_selection").toList(), (QVariantList{0, 1, 0, 0, 0}));

    // Renaming through the dialog, typed as key events carrying the text.
    m_page->click("#cluster0 text");
    ASSERT_EQ(js("d3.select('#renameOverlay').style('display')").toString(), "block");
    EXPECT_EQ(js("document.getElementById('renameField').value").toString(), "1");
    const QString hostile = "<img src=x onerror=Qt.js_debug('injected')> «é» \u00a0\"";
    for (const QChar ch : hostile) {
        QKeyEvent down(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QKeyEvent up(QEvent::KeyRelease, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(m_page->view(), &down);
        QApplication::sendEvent(m_page->view(), &up);
    }
    QTest::keyClick(m_page->view(), Qt::Key_Return);
    m_page->settle();
    EXPECT_EQ(qs(m_clusters->clusterName(0)), hostile);
    EXPECT_EQ(js("d3.select('#cluster0 text').text()").toString(), hostile);
    EXPECT_EQ(js("d3.select('#renameOverlay').style('display')").toString(), "none");
    EXPECT_EQ(js("document.querySelectorAll('img').length").toInt(), 0);
    EXPECT_FALSE(m_page->messages().join('\n').contains("injected"));
}

TEST_F(HeatMapViewTest, SavesThroughTheRealDialogsReadBack)
{
    choose(0);
    m_clusters->setClusterName(2, "1");
    QStringList filters;
    saveAs("medians.csv", &filters);
    menu("Save Heatmap as CSV ...");
    EXPECT_EQ(filters, QStringList{"Table Files (*.csv)"});
    QFile medians(m_dir.filePath("medians.csv"));
    ASSERT_TRUE(medians.open(QIODevice::ReadOnly));
    const auto records = parseCsv(medians.readAll().toStdString());
    ASSERT_EQ(records.size(), static_cast<std::size_t>(kClusters + 1));
    EXPECT_EQ(records[0], (std::vector<std::string>{"Subset", kMarkers[0], kMarkers[1], kMarkers[2], kMarkers[3],
                                                    kMarkers[4]}));
    for (int c = 0; c < kClusters; ++c) {
        EXPECT_EQ(records[c + 1][0], m_clusters->clusterName(c));
        for (std::size_t m = 0; m < kMarkers.size(); ++m)
            EXPECT_NEAR(std::stod(records[c + 1][m + 1]), m_clusters->clusterMedians(c)[m], 1e-5);
    }

    // Per-cluster statistics beside the chosen path; a repeated name gets its index.
    saveAs("origins.csv");
    menu("Save Cell Origins as CSV ...");
    for (int c = 0; c < kClusters; ++c) {
        const QString part = c == 2 ? "1-3" : qs(m_clusters->clusterName(c));
        QFile file(m_dir.filePath("origins" + part + ".csv"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << part.toStdString();
        const auto lines = parseCsv(file.readAll().toStdString());
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(std::stoll(lines[1][3]) + std::stoll(lines[2][3]), m_clusters->clusterSize(c));
    }

    // One FCS file per cluster holding exactly its members' rows.
    saveAs("clusters.fcs", &filters);
    menu("Save Clusters as FCS...");
    EXPECT_EQ(filters, QStringList{"Cytometry Files (*.fcs)"});
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const int64_t width = registry->parameterCount();
    for (int c = 0; c < kClusters; ++c) {
        const QString part = c == 2 ? "1-3" : qs(m_clusters->clusterName(c));
        FcsHeader header;
        header.setFileName(m_dir.filePath("clusters-" + part + ".fcs").toStdString());
        float* rows = nullptr;
        ASSERT_EQ(FcsReader().read(&rows, header), 0) << part.toStdString();
        const std::vector<MCV_PointIndex>& members = m_clusters->members()[c];
        ASSERT_EQ(header.eventCount(), static_cast<int64_t>(members.size()));
        for (std::size_t e = 0; e < members.size(); ++e) {
            const float* source = registry->sampleData(members[e].sampleIndex) + members[e].eventIndex * width;
            ASSERT_TRUE(std::equal(source, source + width, rows + e * width)) << c << " " << e;
        }
        delete[] rows;
    }

    // The picture: one namespace each, the page's style sheet, the cell colours.
    saveAs("map.svg");
    menu("Save Heatmap as Image ...");
    QFile svgFile(m_dir.filePath("map.svg"));
    ASSERT_TRUE(svgFile.open(QIODevice::ReadOnly));
    const QString svg = QString::fromUtf8(svgFile.readAll());
    QXmlStreamReader xml(svg);
    while (!xml.atEnd())
        xml.readNext();
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_TRUE(QSvgRenderer(m_dir.filePath("map.svg")).isValid());
    // The control characters of a marker name, which XML forbids, are replaced.
    EXPECT_TRUE(svg.contains(QString::fromUtf8("x\\y\uFFFD\uFFFD")));
    EXPECT_EQ(svg.count("xmlns=\"http://www.w3.org/2000/svg\""), 1);
    EXPECT_EQ(svg.count("xmlns:xlink=\"http://www.w3.org/1999/xlink\""), 1);
    EXPECT_TRUE(svg.contains("<style type=\"text/css\">" + readTextResource(":/heatmap/heatmap.css") + "</style></svg>"));
    const QString png = m_dir.filePath("map.png");
    ASSERT_EQ(QProcess::execute("rsvg-convert", {"-o", png, m_dir.filePath("map.svg")}), 0);
    const QImage image(png);
    for (int c : {0, 5}) {
        const QString cell = QString("#cluster%1 rect.cell:nth-of-type(3)").arg(c);
        const QVariantList at = js(QString("(function () { var cell = document.querySelector('%1').getBoundingClientRect();"
                                           " var svg = document.getElementById('heatmapSvg').getBoundingClientRect();"
                                           " return [cell.left - svg.left + cell.width / 2, cell.top - svg.top + cell.height / 2]; })()")
                                        .arg(cell))
                                     .toList();
        const QColor painted = image.pixelColor(at[0].toInt(), at[1].toInt());
        const QColor wanted(js(QString("d3.select('%1').attr('fill')").arg(cell)).toString());
        EXPECT_LE(std::abs(painted.red() - wanted.red()) + std::abs(painted.green() - wanted.green())
                      + std::abs(painted.blue() - wanted.blue()),
                  6);
    }
}

TEST_F(HeatMapViewTest, AMenuOpenedNearTheRightEndOfShortPagesKeepsItsLastEntryReachable)
{
    choose(0);
    // The main window's own dock, and one lower than the whole menu.
    for (const QSize page : {QSize(994, 337), QSize(600, 200)}) {
        m_view->resize(m_view->size() + page - m_page->view()->size());
        ASSERT_TRUE(m_page->waitFor(QString("window.innerHeight === %1").arg(page.height())));
        const QRect drawing = m_page->elementRect("#heatmapSvg") & m_page->view()->rect();
        const QString file = QString("map%1.csv").arg(page.height());
        saveAs(file);
        menu("Save Heatmap as CSV ...", QPoint(drawing.right() - 10, drawing.center().y()));
        EXPECT_TRUE(QFileInfo::exists(m_dir.filePath(file))) << file.toStdString();
    }
}

TEST_F(HeatMapViewTest, NoSaveWritesOverALoadedSample)
{
    choose(0);
    QFile sample(qs(MCV_DataRegistry::instance()->samplePath(0)));
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
    const QByteArray before = sample.readAll();
    sample.close();
    for (const QString entry : {"Save Heatmap as CSV ...", "Save Heatmap as Image ..."}) {
        SCOPED_TRACE(entry.toStdString());
        saveAs(QFileInfo(sample).fileName());
        // The user confirms replacing the existing file, then learns why it was not.
        whenModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
        const auto warned = whenModal<QMessageBox>(
            [](QMessageBox* box) {
                EXPECT_TRUE(box->text().contains("is the file of the loaded sample")) << box->text().toStdString();
                box->accept();
            },
            "Not Saved");
        testing::internal::CaptureStdout();
        menu(entry);
        EXPECT_TRUE(*warned);
        const std::string lines = testing::internal::GetCapturedStdout();
        EXPECT_NE(lines.find("is the file of the loaded sample"), std::string::npos) << lines;
        ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
        EXPECT_EQ(sample.readAll(), before);
        sample.close();
    }
}

TEST_F(HeatMapViewTest, ReplacedRegistryReloadsThePageWithTheNewSets)
{
    choose(0);
    MCV_DataRegistry* fresh = RegistryTestData::freshRegistry();
    fresh->setUiInterface(&m_ui);
    ASSERT_EQ(fresh->loadFcsFile(RegistryTestData::writeFcs(m_dir.path().toStdString(), "new.fcs", 5,
                                                            populationEvents(60, 7))),
              0);
    MCV_DerivedDataPoints* all = fresh->createAllPointsData();
    // Page calls before the reload reach nothing: the old set is gone.
    js("pressCluster(0, false); reportHighlight(2); mergeSelectedClusters();");
    EXPECT_TRUE(fresh->selectionData()->points().empty());
    MCV_DerivedDataClusters* later = fresh->createClustersData("Fresh", false);
    later->setClusters({all->points()}, all, {});
    ASSERT_TRUE(m_page->waitForLoad(60000));
    ASSERT_TRUE(m_page->waitFor("_availableDataSets.length === 1", 30000));
    EXPECT_EQ(m_view->shownData(), nullptr);
    EXPECT_EQ(js("_availableDataSets").toStringList(), QStringList{"Fresh"});
    choose(0);
    EXPECT_EQ(m_view->shownData(), later);
}

TEST(HeatMapPageTest, WithoutTheProgramItRunsOnTestDataAndOffersNoMergeOrSaves)
{
    PageUnderTest page(readTextResource(":/heatmap/heatmap.html"), "qrc:/heatmap/", nullptr);
    ASSERT_TRUE(page.waitForLoad(60000));
    ASSERT_TRUE(page.waitFor("document.readyState === 'complete'", 30000));
    EXPECT_TRUE(page.messages().contains("console.log: could not connect qt"));
    EXPECT_EQ(page.evaluate("d3.selectAll('#testButtons button').size()").toInt(), 4);
    page.click("#testButtons button");
    EXPECT_EQ(page.evaluate("d3.selectAll('g.column').size()").toInt(),
              page.evaluate("JSON.parse(_debug_data_[0]).nodes.length").toInt());
    page.press(page.elementPoint("#cluster1 rect.cell"));
    page.release(page.elementPoint("#cluster1 rect.cell"));
    page.press(page.elementPoint("#cluster2 rect.cell"), Qt::ShiftModifier);
    page.release(page.elementPoint("#cluster2 rect.cell"), Qt::ShiftModifier);
    const QPoint at = page.elementPoint("#cluster1 rect.cell");
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, page.view()->mapToGlobal(at));
    QApplication::sendEvent(page.view(), &event);
    EXPECT_EQ(page.evaluate("d3.selectAll('.d3-context-menu li').nodes().map(function (li) {"
                            " return li.textContent; })")
                  .toStringList(),
              (QStringList{"Toggle Marker Selection", "Toggle Variation", "Toggle Dendrogram",
                           "Toggle Dendrogram Labels"}));
}
