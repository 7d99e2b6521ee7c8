// The hierarchy dock with its real page: trees offered and shown from the
// registry, the marker names, the saved image and script file through real
// dialogs, and a reopen of the files.
#include "docks/UI_HierarchyWidget.h"

#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataExploration.h"
#include "data/MCV_DerivedDataPoints.h"
#include "framework/UI_Settings.h"

#include "support/IsolatedSettings.h"
#include "support/ModalDialogDriver.h"
#include "support/PageUnderTest.h"
#include "support/RegistryTestData.h"
#include "support/runNode.h"

#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

namespace {

const bool settingsIsolated = isolateSettings();

/// A registry with one file of markers "CD3" and "a\"b", a clusters set
/// "Set" of three clusters and the tree "Tree": a root "Level" with the
/// clusters as children, the second renamed with a hostile name.
MCV_DerivedDataExploration* loadTree(const QTemporaryDir& dir)
{
    MCV_DataRegistry* registry = RegistryTestData::freshRegistry();
    std::vector<float> values;
    for (int e = 0; e < 6; ++e)
        values.insert(values.end(), {static_cast<float>(e), 10.0f * e});
    EXPECT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(dir.path().toStdString(), "a.fcs", 2, values,
                                                               {{"$P1N", "CD3"}, {"$P2N", "a\"b"}})),
              0);
    MCV_DerivedDataClusters* set = registry->createClustersData("Set", false);
    set->setClusters({{{0, 0}, {0, 1}}, {{0, 2}}, {{0, 3}, {0, 4}, {0, 5}}}, registry->createAllPointsData(), {});
    set->setClusterName(1, "</script><b>x</b>");
    MCV_DerivedDataExploration* tree = registry->createExplorationData("Tree", false);
    tree->addNode("Level", {}, "", false);
    tree->addClusterChildren("Set", "Level", false);
    return tree;
}

QString readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

/// Accepts the next save dialog with `path`, recording the proposed name.
void saveAs(const QString& path, QString* proposed)
{
    whenModal<QFileDialog>([path, proposed](QFileDialog* dialog) {
        *proposed = dialog->findChild<QLineEdit*>("fileNameEdit")->text();
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(path);
        static_cast<QDialog*>(dialog)->accept();
    });
}

} // namespace

TEST(HierarchyWidgetTest, ChosenTreesAreShownWithTheMarkerNamesAndFollowTheirChanges)
{
    RegistryTestData::dropRegistry();
    EXPECT_EQ(UI_HierarchyWidget::markerNamesJson(), "{\"names\": [\"\"]}");
    QTemporaryDir dir;
    MCV_DerivedDataExploration* tree = loadTree(dir);
    EXPECT_EQ(UI_HierarchyWidget::markerNamesJson(), "{\"names\": [\"CD3\", \"a\\\"b\"]}");

    PageUnderTest page;
    UI_HierarchyWidget view;
    view.resize(800, 600);
    view.show();
    ASSERT_TRUE(page.waitForLoad(60000));
    EXPECT_EQ(page.evaluate("Array.prototype.map.call(document.querySelectorAll('#dataChooser option'),"
                            "function(o){return o.value;}).join('|')")
                  .toString(),
              "|Tree");
    QSignalSpy names(&view, &UI_HierarchyWidget::qt_setMarkerNames);
    page.evaluate("var c=document.getElementById('dataChooser');c.value='Tree';c.dispatchEvent(new Event('change'));");
    EXPECT_EQ(view.shownData(), tree);
    EXPECT_EQ(names.count(), 1);
    ASSERT_TRUE(page.waitFor("_hierarchy.root !== null"));
    EXPECT_EQ(page.evaluate("document.querySelectorAll('g.node').length").toInt(), 4);
    EXPECT_EQ(page.evaluate("_hierarchy.names.join('|')").toString(), "CD3|a\"b");
    EXPECT_TRUE(page.messages().join("\n").contains("Data Selected: Tree"));

    // A change of the shown tree redraws it; another tree is only offered.
    MCV_DerivedDataExploration* other = MCV_DataRegistry::instance()->createExplorationData("Other", false);
    tree->addNode("Extra", {}, "Level", true);
    view.dataRefreshed(tree);
    view.dataRefreshed(other);
    EXPECT_TRUE(page.waitFor("document.querySelectorAll('g.node').length === 5"));
    EXPECT_EQ(page.evaluate("document.querySelectorAll('#dataChooser option').length").toInt(), 3);

    // An unknown name gives an empty tree of that name: the page draws nothing.
    view.js_selectData("nope");
    ASSERT_NE(view.shownData(), nullptr);
    EXPECT_EQ(view.shownData()->name(), "nope");
    EXPECT_TRUE(page.waitFor("document.querySelectorAll('g.node').length === 0"));

    // Reopened files: the shown tree is dropped before anything reads it.
    view.js_selectData("Tree");
    loadTree(dir);
    EXPECT_EQ(view.followedShownData(), nullptr);
    ASSERT_TRUE(page.waitForLoad(60000));
    RegistryTestData::dropRegistry();
}

TEST(HierarchyWidgetTest, AReopenWithNoTreeChosenListsOnlyTheNewTrees)
{
    QTemporaryDir dir;
    loadTree(dir);
    PageUnderTest page;
    UI_HierarchyWidget view;
    view.resize(800, 600);
    view.show();
    ASSERT_TRUE(page.waitForLoad(60000));
    const QString options = "Array.prototype.map.call(document.querySelectorAll('#dataChooser option'),"
                            "function(o){return o.value;}).join('|')";
    ASSERT_EQ(page.evaluate(options).toString(), "|Tree");

    // Other files, whose registry holds another tree; the window tells every view.
    MCV_DataRegistry* registry = RegistryTestData::freshRegistry();
    ASSERT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(dir.path().toStdString(), "b.fcs", 1, {1.0f}, {})), 0);
    registry->createExplorationData("Fresh", false);
    view.filesReopened();
    ASSERT_TRUE(page.waitForLoad(60000));
    EXPECT_EQ(page.evaluate(options).toString(), "|Fresh");
    RegistryTestData::dropRegistry();
}

TEST(HierarchyWidgetTest, TheImageAndTheScriptFileAreSavedThroughTheDialogs)
{
    ASSERT_TRUE(settingsIsolated);
    QTemporaryDir dir;
    loadTree(dir);
    PageUnderTest page;
    UI_HierarchyWidget view;
    view.resize(800, 600);
    view.show();
    ASSERT_TRUE(page.waitForLoad(60000));

    // Nothing shown: no dialog, no file.
    view.js_saveJSON();
    view.js_saveSVG("<svg></svg>");
    view.js_selectData("Tree");
    ASSERT_TRUE(page.waitFor("_hierarchy.root !== null"));

    QString proposed;
    saveAs(dir.filePath("tree.svg"), &proposed);
    page.evaluate("printSVG()");
    EXPECT_EQ(proposed, "Tree.svg");
    const QString svg = readFile(dir.filePath("tree.svg"));
    QXmlStreamReader reader(svg);
    while (!reader.atEnd())
        reader.readNext();
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    EXPECT_TRUE(svg.contains("<style type=\"text/css\">"));
    QProcess rsvg;
    rsvg.start("rsvg-convert", {"-o", dir.filePath("tree.png"), dir.filePath("tree.svg")});
    ASSERT_TRUE(rsvg.waitForFinished(30000));
    EXPECT_EQ(rsvg.exitCode(), 0) << rsvg.readAllStandardError().toStdString();

    saveAs(dir.filePath("tree.js"), &proposed);
    page.evaluate("printJSON()");
    EXPECT_EQ(proposed, "Tree.js");
    EXPECT_EQ(readFile(dir.filePath("tree.js")).left(12), "var data = \"");
    const std::string json = runNode("-e \"eval(require('fs').readFileSync(process.argv[1],'utf8'));"
                                     "const t=JSON.parse(data);console.log(t.name+'|'+t.children[1].name)\" "
                                     + dir.filePath("tree.js").toStdString());
    EXPECT_EQ(json, "Level|Set</script><b>x</b>\n");
    RegistryTestData::dropRegistry();
}
