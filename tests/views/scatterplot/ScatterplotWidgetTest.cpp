// The scatterplot widget on a real t-SNE analysis: mouse protocol, keys, the
// context menu and cluster export, screenshots, its children, and life across
// contexts (floating, re-docking, re-parenting, collapsing, scale factor 2).
#include "framework/UI_Settings.h"
#include "framework/screenshotFilePath.h"
#include "render/PointRenderer.h"
#include "scatterplot/UI_ColormapSelectionWidget.h"
#include "scatterplot/UI_ScatterplotWidget.h"
#include "scatterplot/UI_TsneSettingsSliderWidget.h"
#include "web/UI_MaterialCheckBoxWidget.h"
#include "web/UI_ProgressSpinnerWidget.h"

#include "analyses/MCV_TsneAnalysis.h"
#include "data/FcsError.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/FcsStrictChecker.h"
#include "support/IsolatedSettings.h"
#include "support/ModalDialogDriver.h"
#include "support/RecordingUiInterface.h"
#include "support/RegistryTestData.h"
#include "support/ShownDialogsAndMenus.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <random>

namespace {

const bool settingsIsolated = isolateSettings();

/// A t-SNE analysis of `events` events in three marker blobs, computed for a
/// few iterations; tests then place its points where they need them.
class TsneOnFile
{
public:
    explicit TsneOnFile(int events, int iterations = 10)
    {
        std::mt19937 random(1);
        std::normal_distribution<float> noise(0.0f, 1.0f);
        std::vector<float> values;
        for (int e = 0; e < events; ++e)
            for (int m = 0; m < 3; ++m)
                values.push_back(noise(random) + 20.0f * static_cast<float>((e % 3) == m));
        registry = RegistryTestData::freshRegistry();
        registry->setUiInterface(&ui);
        EXPECT_EQ(registry->loadFcsFile(RegistryTestData::writeFcs(folder.path().toStdString(), "blobs.fcs", 3,
                                                                   values)),
                  FcsErrorNone);
        analysis.initialize(&ui, "Test tSNE");
        analysis.setInputData(registry->createAllPointsData());
        analysis.setIterations(iterations);
        analysis.setExaggerationIterations(iterations / 2);
        analysis.compute();
    }
    ~TsneOnFile() { RegistryTestData::dropRegistry(); }

    /// Puts point k at raw (x, y); a square of corners (0, 0) and (1, 1)
    /// keeps the normalisation 0.1 + 0.8 v.
    void place(const std::vector<std::pair<float, float>>& points)
    {
        std::vector<float>& positions = analysis.embeddingPositions();
        for (size_t k = 0; k < positions.size() / 2; ++k) {
            const auto& p = points[k % points.size()];
            positions[2 * k] = p.first;
            positions[2 * k + 1] = p.second;
        }
        positions[0] = positions[1] = 0.0f;
        positions[2] = positions[3] = 1.0f;
    }

    QTemporaryDir folder;
    RecordingUiInterface ui;
    MCV_DataRegistry* registry = nullptr;
    MCV_TsneAnalysis analysis;
};

/// A shown 300 x 300 scatterplot of the analysis, every point in file 0.
struct ShownScatterplot
{
    explicit ShownScatterplot(TsneOnFile& tsne, QWidget* parent = nullptr)
        : widget(new UI_ScatterplotWidget(&tsne.analysis, 30.0f, parent))
    {
        widget->setSampleSources(&files, &colors);
        widget->setEmbedding(3);
        widget->resize(300, 300);
        if (parent == nullptr)
            widget->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(widget->window()));
    }
    ~ShownScatterplot()
    {
        if (widget->parent() == nullptr)
            delete widget;
    }

    std::vector<bool> files{true};
    std::vector<unsigned char> colors{20, 20, 20};
    UI_ScatterplotWidget* widget;
};

/// Widget position of a unit-square point in a square widget of `side` pixels.
QPoint at(float unitX, float unitY, int side = 300)
{
    return QPoint(static_cast<int>(unitX * side), side - 1 - static_cast<int>(unitY * side));
}

void send(QWidget* widget, QEvent::Type type, QPoint position, Qt::MouseButton button, Qt::MouseButtons buttons,
          Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QMouseEvent event(type, position, widget->mapToGlobal(position), button, buttons, modifiers);
    QApplication::sendEvent(widget, &event);
}

void drag(QWidget* widget, QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    send(widget, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, modifiers);
    send(widget, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, modifiers);
    send(widget, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, modifiers);
}

/// Clicks the action with that text in the open context menu.
void chooseInMenu(const QString& text, QStringList* offered = nullptr)
{
    QTimer::singleShot(50, [text, offered] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->actions()) {
            if (offered)
                *offered << action->text();
            if (action->text() == text)
                menu->setActiveAction(action);
        }
        QTest::keyClick(menu, text.isEmpty() ? Qt::Key_Escape : Qt::Key_Return);
    });
}

/// The slider of the slide-in panel's shown page with that range.
QSlider* panelSlider(UI_TsneSettingsSliderWidget* panel, int minimum, int maximum)
{
    for (QSlider* slider : panel->findChildren<QSlider*>())
        if (slider->minimum() == minimum && slider->maximum() == maximum)
            return slider;
    ADD_FAILURE() << "no slider " << minimum << " to " << maximum;
    return nullptr;
}

/// The slide-in panel's combo box offering `item`.
QComboBox* panelCombo(UI_TsneSettingsSliderWidget* panel, const QString& item)
{
    for (QComboBox* box : panel->findChildren<QComboBox*>())
        if (box->findText(item) >= 0)
            return box;
    ADD_FAILURE() << "no combo box with " << item.toStdString();
    return nullptr;
}

/// Every part of the look, set as a user does in the panels: the marker,
/// point size, opacity and halo, both modes' colour maps and discrete
/// switches, dark mode, and the density mode with its sigma (which stays on).
void setTheLook(UI_ScatterplotWidget* widget)
{
    UI_TsneSettingsSliderWidget* panel = widget->settingsSlider();
    panelCombo(panel, "Sample")->setCurrentIndex(3);
    panelSlider(panel, 50, 200)->setValue(180);
    panelSlider(panel, 20, 100)->setValue(100);
    panelSlider(panel, 10, 50)->setValue(40);
    widget->colormapPicker()->colormapClicked(4);
    widget->colormapPicker()->discreteColormapClicked(1);
    for (UI_MaterialCheckBoxWidget* box : panel->findChildren<UI_MaterialCheckBoxWidget*>())
        if (box->findChild<QLabel*>()->text().contains("Darkmode"))
            box->js_clicked();
    panelCombo(panel, "Clustering")->setCurrentIndex(1);
    widget->colormapPicker()->colormapClicked(9);
    widget->colormapPicker()->discreteColormapClicked(0);
    panelSlider(panel, 1, 200)->setValue(70);
}

/// A 200 x 200 scatterplot in a dock of its own window, not yet shown.
struct DockedScatterplot
{
    explicit DockedScatterplot(TsneOnFile& tsne)
        : dock(new QDockWidget("view", &window)), widget(new UI_ScatterplotWidget(&tsne.analysis, 30.0f))
    {
        window.addDockWidget(Qt::LeftDockWidgetArea, dock);
        widget->setEmbedding(3);
        widget->setMarkerNames({"a", "b", "c"});
        widget->setFixedSize(200, 200);
    }
    void show()
    {
        dock->setWidget(widget);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    /// The density frame, then the frame of points.
    std::pair<QImage, QImage> frames()
    {
        QApplication::processEvents();
        const QImage density = widget->grabFramebuffer();
        panelCombo(widget->settingsSlider(), "Clustering")->setCurrentIndex(0);
        const QImage points = widget->grabFramebuffer();
        panelCombo(widget->settingsSlider(), "Clustering")->setCurrentIndex(1);
        return {density, points};
    }

    QMainWindow window;
    QDockWidget* dock;
    UI_ScatterplotWidget* widget;
};

/// Three tight groups of points: bottom left, bottom right, top middle.
const std::vector<std::pair<float, float>> threeGroups{{0.2f, 0.2f}, {0.8f, 0.2f}, {0.5f, 0.8f}};

} // namespace

TEST(ScatterplotWidgetTest, MouseProtocolSelectsAndAnnounces)
{
    TsneOnFile tsne(90);
    tsne.place(threeGroups);
    ShownScatterplot view(tsne);
    UI_ScatterplotWidget* widget = view.widget;
    widget->refreshEmbedding();
    QSignalSpy updates(widget, &UI_ScatterplotWidget::selectionUpdated);
    const float left = 0.1f + 0.8f * 0.2f;
    const float right = 0.1f + 0.8f * 0.8f;

    // 1 pixel of movement is a click (no clusters: nothing selected), 2 a drag.
    send(widget, QEvent::MouseButtonPress, at(left, left), Qt::LeftButton, Qt::LeftButton);
    send(widget, QEvent::MouseButtonRelease, at(left, left) + QPoint(1, 1), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(updates.count(), 1);
    EXPECT_TRUE(widget->selectedIndices().empty());
    updates.clear();
    drag(widget, at(left, left) + QPoint(-10, 10), at(left, left) + QPoint(10, -10));
    EXPECT_EQ(updates.count(), 2) << "one while dragging, one on release";
    const size_t group = widget->selectedIndices().size();
    EXPECT_EQ(group, 29u) << "every third point but the corner point 0";

    // Ctrl adds the right group, Shift removes it again; Alt keeps the drag quiet.
    updates.clear();
    drag(widget, at(right, left) + QPoint(-10, 10), at(right, left) + QPoint(10, -10), Qt::ControlModifier);
    EXPECT_EQ(widget->selectedIndices().size(), 2 * group);
    drag(widget, at(right, left) + QPoint(-10, 10), at(right, left) + QPoint(10, -10),
         Qt::ShiftModifier | Qt::AltModifier);
    EXPECT_EQ(widget->selectedIndices().size(), group);
    EXPECT_EQ(updates.count(), 3);

    // Keys: Ctrl+A selects all, Ctrl+D none.
    QTest::keyClick(widget, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(widget->selectedIndices().size(), 90u);
    QTest::keyClick(widget, Qt::Key_D, Qt::ControlModifier);
    EXPECT_TRUE(widget->selectedIndices().empty());
    EXPECT_EQ(updates.count(), 5);
}

TEST(ScatterplotWidgetTest, ContextMenuMergesAndSavesClusters)
{
    TsneOnFile tsne(90);
    tsne.place(threeGroups);
    ShownScatterplot view(tsne);
    UI_ScatterplotWidget* widget = view.widget;
    widget->refreshEmbedding();

    // No clusters: no menu, no flag.
    send(widget, QEvent::MouseButtonPress, at(0.5f, 0.5f), Qt::RightButton, Qt::RightButton);
    EXPECT_FALSE(widget->isContextMenuOpen());

    widget->cluster();
    PointRenderer* renderer = widget->renderer();
    MCV_DerivedDataClusters* clusters = renderer->densityClusters();
    ASSERT_NE(clusters, nullptr);
    const int before = clusters->clusterCount();
    ASSERT_GE(before, 3);
    const float left = 0.1f + 0.8f * 0.2f;
    const float right = 0.1f + 0.8f * 0.8f;
    drag(widget, at(left, left), at(left, left));
    send(widget, QEvent::MouseButtonPress, at(right, left), Qt::LeftButton, Qt::LeftButton, Qt::ShiftModifier);
    send(widget, QEvent::MouseButtonRelease, at(right, left), Qt::LeftButton, Qt::NoButton, Qt::ShiftModifier);
    ASSERT_EQ(renderer->countSelectedClusters(), 2);

    QStringList offered;
    chooseInMenu("Merge Clusters", &offered);
    send(widget, QEvent::MouseButtonPress, at(0.5f, 0.5f), Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(offered, (QStringList{"Merge Clusters", "Save Clusters"}));
    EXPECT_EQ(clusters->clusterCount(), before - 1);
    EXPECT_TRUE(widget->isContextMenuOpen());
    QSignalSpy updates(widget, &UI_ScatterplotWidget::selectionUpdated);
    send(widget, QEvent::MouseButtonRelease, at(0.5f, 0.5f), Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(widget->isContextMenuOpen());
    EXPECT_EQ(updates.count(), 0) << "the release after the menu is swallowed";

    // Save: one FCS file per cluster, each one a valid FCS 3.1 file.
    QTemporaryDir out;
    whenModal<QFileDialog>([&out](QFileDialog* dialog) {
        EXPECT_EQ(dialog->defaultSuffix(), "fcs");
        dialog->selectFile(out.filePath("clusters.fcs"));
        static_cast<QDialog*>(dialog)->accept();
    });
    offered.clear();
    chooseInMenu("Save Clusters", &offered);
    send(widget, QEvent::MouseButtonPress, at(0.5f, 0.5f), Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(offered, (QStringList{"Save Clusters"}));
    const QStringList written = QDir(out.path()).entryList({"clusters-*.fcs"});
    EXPECT_EQ(written.size(), clusters->clusterCount());
    for (const QString& file : written) {
        const std::vector<std::string> problems = FcsStrictChecker::checkFile(out.filePath(file).toStdString());
        EXPECT_TRUE(problems.empty()) << file.toStdString() << ": " << FcsStrictChecker::join(problems);
    }
    UI_Settings::instance()->sync();
    EXPECT_EQ(UI_Settings::instance()->value("dataExportDefaultFilePath").toString(), QDir(out.path()).absolutePath());

    // A folder that cannot exist, as a file stands at its path (so also for
    // root): one warning box for all the files names the first and why.
    QFile plain(out.filePath("plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    whenModal<QFileDialog>([&out](QFileDialog* dialog) { chooseInFileDialog(dialog, out.filePath("plain/c.fcs")); });
    std::unique_ptr<ShownDialogsAndMenus> later;
    const auto warned = whenModal<QMessageBox>([&](QMessageBox* box) {
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        EXPECT_TRUE(box->text().startsWith("Could not write " + out.filePath("plain/c-"))) << box->text().toStdString();
        EXPECT_TRUE(box->text().endsWith(QString(".fcs: ") + std::strerror(ENOTDIR) + ".")) << box->text().toStdString();
        later = std::make_unique<ShownDialogsAndMenus>();
        box->accept();
    });
    chooseInMenu("Save Clusters");
    send(widget, QEvent::MouseButtonPress, at(0.5f, 0.5f), Qt::RightButton, Qt::RightButton);
    EXPECT_TRUE(*warned);
    EXPECT_EQ(later ? later->names() : "", "") << "one box however many files failed";
}

TEST(ScatterplotWidgetTest, CtrlPWritesAnUprightScreenshotNamedAfterTheMarker)
{
    TsneOnFile tsne(30);
    tsne.place({{0.5f, 0.9f}}); // near the top
    ShownScatterplot view(tsne);
    UI_ScatterplotWidget* widget = view.widget;
    widget->refreshEmbedding();
    widget->setMarkerNames({"CD4/CD8", "CD3", "CD19"});
    widget->setMarker(0);
    widget->pointSizeChanged(0.05f);

    QTemporaryDir out;
    UI_Settings::instance()->setValue("exportDefaultFilePath", "");
    UI_Settings::instance()->sync();
    QTest::keyClick(widget, Qt::Key_P, Qt::ControlModifier);
    EXPECT_TRUE(QDir(out.path()).entryList(QDir::Files).isEmpty());

    UI_Settings::instance()->setValue("exportDefaultFilePath", out.path());
    UI_Settings::instance()->sync();
    for (int mode : {0, 1}) {
        widget->setMode(mode);
        QTest::keyClick(widget, Qt::Key_P, Qt::ControlModifier);
        // The names carry the time to the millisecond: the next shot waits until
        // one taken now would get a name of its own.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return !QFile::exists(screenshotFilePath(out.path(), "CD4/CD8", QDateTime::currentDateTime())); },
            10000));
    }
    const QStringList shots = QDir(out.path()).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(shots.size(), 2);
    const QRegularExpression name("^CD4_CD8_\\d\\d_\\d\\d_\\d\\d_\\d\\d_\\d\\d_\\d\\d_\\d\\d\\d\\.png$");
    for (const QString& shot : shots) {
        EXPECT_TRUE(name.match(shot).hasMatch()) << shot.toStdString();
        const QImage image(out.filePath(shot));
        EXPECT_EQ(image.size(), QSize(4096, 4096));
        EXPECT_FALSE(image.hasAlphaChannel());
        // The points (and their density) near the top, nothing near the bottom.
        const int column = static_cast<int>(0.5f * 4096);
        EXPECT_NE(image.pixel(column, static_cast<int>((1.0f - 0.82f) * 4096)), qRgb(255, 255, 255)) << shot.toStdString();
        EXPECT_EQ(image.pixel(column, static_cast<int>(0.82f * 4096)), qRgb(255, 255, 255)) << shot.toStdString();
    }
}

TEST(ScatterplotWidgetTest, ChildrenReachTheRenderer)
{
    TsneOnFile tsne(30);
    ShownScatterplot view(tsne);
    UI_ScatterplotWidget* widget = view.widget;
    PointRenderer* renderer = widget->renderer();
    widget->colormapPicker()->colormapClicked(4);
    EXPECT_EQ(renderer->getColormap(), 4);
    widget->colormapPicker()->discreteColormapClicked(1);
    EXPECT_TRUE(renderer->isColormapDiscrete());
    // Switching to the density shows that mode's map in the picker.
    widget->setMode(1);
    EXPECT_EQ(renderer->renderMode(), 3);
    EXPECT_EQ(widget->colormapPicker()->activeColormap(), 0);
    widget->setMode(0);
    EXPECT_EQ(widget->colormapPicker()->activeColormap(), 4);

    EXPECT_FALSE(widget->progressSpinner()->isVisible());
    widget->computationStarted();
    EXPECT_TRUE(widget->progressSpinner()->isVisible());
    widget->computationFinished();
    EXPECT_FALSE(widget->progressSpinner()->isVisible());

    widget->setMarker(-5);
    EXPECT_EQ(widget->marker(), -1);
    EXPECT_EQ(renderer->marker(), -1);
}

TEST(ScatterplotWidgetTest, NewContextsGiveTheSameFrame)
{
    TsneOnFile tsne(60);
    tsne.place(threeGroups);
    QMainWindow window;
    auto* dock = new QDockWidget("view", &window);
    window.addDockWidget(Qt::LeftDockWidgetArea, dock);
    // The embedding arrives before the widget is ever shown.
    auto* widget = new UI_ScatterplotWidget(&tsne.analysis, 30.0f);
    std::vector<bool> files{true};
    std::vector<unsigned char> colors{20, 20, 20};
    widget->setSampleSources(&files, &colors);
    widget->setEmbedding(3);
    widget->setFixedSize(200, 200);
    dock->setWidget(widget);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QImage first = widget->grabFramebuffer();
    EXPECT_NE(first.pixel(at(0.26f, 0.26f, 200)), first.pixel(at(0.5f, 0.5f, 200))) << "points are shown";

    auto sameFrameAfter = [&](const char* what) {
        QApplication::processEvents();
        EXPECT_EQ(widget->grabFramebuffer(), first) << what;
        widget->makeCurrent();
        QOpenGLFunctions* gl = QOpenGLContext::currentContext()->functions();
        for (unsigned name : widget->renderer()->glNames().buffers)
            EXPECT_TRUE(gl->glIsBuffer(name)) << what;
        widget->doneCurrent();
    };
    dock->setFloating(true);
    sameFrameAfter("floating");
    dock->setFloating(false);
    sameFrameAfter("docked again");
    QMainWindow other;
    auto* otherDock = new QDockWidget("other", &other);
    other.addDockWidget(Qt::RightDockWidgetArea, otherDock);
    otherDock->setWidget(widget);
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    sameFrameAfter("in another window");

    // Collapsed to nothing in a splitter and back.
    QSplitter splitter;
    splitter.addWidget(new QWidget);
    widget->setMinimumSize(0, 0);
    widget->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    splitter.addWidget(widget);
    splitter.resize(400, 200);
    splitter.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&splitter));
    splitter.setSizes({400, 0});
    QApplication::processEvents();
    widget->update();
    QApplication::processEvents();
    splitter.setSizes({200, 200});
    QApplication::processEvents();
    const QImage back = widget->grabFramebuffer();
    EXPECT_GT(back.width(), 150);
    const int side = std::min(back.width(), back.height());
    const QPoint leftGroup = at(0.26f, 0.26f, side) + QPoint((back.width() - side) / 2, (back.height() - side) / 2);
    EXPECT_NE(back.pixel(leftGroup), back.pixel(1, 1)) << "points again";
}

TEST(ScatterplotWidgetTest, TheLookSetBeforeThePlotOrItsContextIsTheLookDrawn)
{
    TsneOnFile tsne(60);
    tsne.place(threeGroups);
    DockedScatterplot early(tsne);
    setTheLook(early.widget);
    early.show();
    const auto earlyFrames = early.frames();

    DockedScatterplot late(tsne);
    late.show();
    setTheLook(late.widget);
    const auto lateFrames = late.frames();
    EXPECT_TRUE(earlyFrames.first == lateFrames.first) << "density";
    EXPECT_TRUE(earlyFrames.second == lateFrames.second) << "points";
    EXPECT_FALSE(lateFrames.first == lateFrames.second);

    // A new context draws what the panels say.
    late.dock->setFloating(true);
    const auto floatingFrames = late.frames();
    EXPECT_TRUE(floatingFrames.first == lateFrames.first) << "density";
    EXPECT_TRUE(floatingFrames.second == lateFrames.second) << "points";
}

TEST(ScatterplotWidgetTest, ClustersOfTheClusterButtonOutliveANewContext)
{
    TsneOnFile tsne(90);
    tsne.place(threeGroups);
    DockedScatterplot view(tsne);
    view.show();
    panelCombo(view.widget->settingsSlider(), "Clustering")->setCurrentIndex(1);
    view.widget->cluster(); // what "Cluster" runs, with "Continously" off
    const QImage withDots = view.widget->grabFramebuffer();
    for (bool floating : {true, false}) // floated and docked again: a new context
        view.dock->setFloating(floating);
    EXPECT_EQ(view.widget->grabFramebuffer(), withDots) << "the cluster dots";
    drag(view.widget, at(0.26f, 0.26f, 200), at(0.26f, 0.26f, 200));
    EXPECT_EQ(view.widget->selectedIndices().size(), 29u) << "the bottom-left group but its corner point 0";
}

TEST(ScatterplotWidgetTest, LiveEmbeddingKeepsItsBuffersAndEndsInBlobClusters)
{
    TsneOnFile tsne(2000, 0); // probabilities only; the run below is watched
    ShownScatterplot view(tsne);
    UI_ScatterplotWidget* widget = view.widget;
    widget->setMsGrid(128);
    widget->setSigma(0.4f);
    const PointRenderer::GlNames names = widget->renderer()->glNames();
    const std::vector<unsigned> order = widget->renderer()->drawOrder();
    int iterations = 0;
    tsne.ui.onCall = [&](const RecordingUiInterface::Call& call) {
        if (call.operation != "analysisUpdatedSignal")
            return;
        if (++iterations == 200)
            widget->setOtfClustering(1); // the last frame finds the clusters
        widget->refreshEmbedding();
        widget->repaint();
        QApplication::processEvents();
    };
    tsne.analysis.setIterations(200);
    tsne.analysis.setExaggerationIterations(250); // the default: still exaggerated at 200
    tsne.analysis.restart();
    EXPECT_EQ(iterations, 200);
    EXPECT_EQ(widget->renderer()->glNames().buffers, names.buffers);
    EXPECT_EQ(widget->renderer()->drawOrder(), order);
    // Each blob lies as a flat disc; a kernel about the disc's size finds it
    // as one cluster, with points of that blob only (event e is of blob e % 3).
    int big = 0;
    for (const auto& members : widget->renderer()->labeling().members()) {
        if (members.size() * 100 <= 2000)
            continue;
        ++big;
        for (unsigned k : members)
            ASSERT_EQ(k % 3, members.front() % 3);
    }
    EXPECT_EQ(big, 3);
}

TEST(ScatterplotWidgetTest, ScaleFactorTwoKeepsTheMouseOnItsPoints)
{
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        GTEST_SKIP() << "already the scaled run";
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_SCALE_FACTOR", "2");
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=ScatterplotWidgetTest.MouseProtocolSelectsAndAnnounces"});
    ASSERT_TRUE(child.waitForFinished(120000));
    EXPECT_EQ(child.exitCode(), 0) << child.readAll().toStdString();
}
