// The main road through the real main window: open three files, start an
// A-tSNE analysis, compute, watch it converge, pause, resume, restart,
// select a blob and read its statistics, and remove, reopen or close during
// a run. Dialogs are answered as a user would; frames come from real GL.
#include "MainWindow.h"
#include "UI_Interface.h"

#include "analyses/MCV_TsneAnalysis.h"
#include "analysis_settings/UI_SpadeSettingsWidget.h"
#include "analysis_settings/UI_TsneSettingsWidget.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"
#include "docks/UI_TsneWidget.h"
#include "panels/UI_SampleSelectionWidget.h"
#include "panels/UI_SampleStatisticsWidget.h"
#include "panels/UI_SelectionStatisticsWidget.h"
#include "scatterplot/UI_ScatterplotWidget.h"
#include "scatterplot/UI_TsneSettingsSliderWidget.h"
#include "support/DebugLines.h"
#include "support/IsolatedSettings.h"
#include "support/MainWindowDriver.h"
#include "support/RegistryTestData.h"
#include "web/UI_ProgressSpinnerWidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QLabel>
#include <QSpinBox>
#include <QTableWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>

namespace {

const bool settingsIsolated = isolateSettings();
const int kEventsPerFile = 240; // three blobs of 80

class TsneEndToEndTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsIsolated);
        ASSERT_TRUE(dir.isValid());
        startFreshSession(dir.path());
        // Blob b of event e is e % 3; "CD_A" is high in blob 0 only. Most
        // tests open the first three files.
        std::mt19937 random(7);
        std::normal_distribution<float> noise(0.0f, 0.4f);
        for (int f = 0; f < 4; ++f) {
            std::vector<float> values;
            for (int e = 0; e < kEventsPerFile; ++e)
                for (int m = 0; m < 4; ++m)
                    values.push_back(noise(random) + ((e % 3) == m ? 8.0f : 0.0f));
            RegistryTestData::writeFcs(dir.path().toStdString(), "f" + std::to_string(f) + ".fcs", 4, values,
                                       {{"$P1N", "CD_A"}, {"$P2N", "CD_B"}, {"$P3N", "CD_C"}, {"$P4N", "CD_D"}});
        }
        window.resize(1100, 800);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    void TearDown() override { RegistryTestData::dropRegistry(); }

    /// Opens the three files and starts an A-tSNE analysis from the
    /// post-load dialog, keeping the proposed name; then hooks the tests'
    /// slots into the window's notifications around the view's own.
    void openAndStart()
    {
        answerNamePrompt(QString());
        openFilesThroughDialog(window, "\"f0.fcs\" \"f1.fcs\" \"f2.fcs\"", "Start A-tSNE");
        ASSERT_NE(view(), nullptr);
        watchUpdates();
    }
    /// Counts the analyses' updates and hands each to onUpdate.
    void watchUpdates()
    {
        notifications = dynamic_cast<UI_Interface*>(MCV_DataRegistry::instance()->uiInterface());
        ASSERT_NE(notifications, nullptr);
        // Connected after the view's slot: runs once the view has processed events.
        QObject::connect(notifications, &UI_Interface::analysisUpdatedSignal, &window, [this](void*) {
            ++updates;
            if (onUpdate)
                onUpdate(updates);
        });
    }
    UI_TsneWidget* view(int index = 0) const
    {
        const QList<UI_TsneWidget*> views = window.findChildren<UI_TsneWidget*>();
        return index < views.size() ? views[index] : nullptr;
    }
    MCV_TsneAnalysis* analysis() const { return static_cast<MCV_TsneAnalysis*>(view()->analysis()); }
    UI_TsneSettingsSliderWidget* slider() const { return view()->scatterplot()->settingsSlider(); }
    QPushButton* slideInButton(int index) const
    {
        QList<QPushButton*> round;
        for (QPushButton* button : slider()->findChildren<QPushButton*>())
            if (button->size() == QSize(35, 35))
                round << button;
        return round.value(index);
    }
    /// The iteration count in the slide-in panel's "Advanced" page, set as a user would.
    void setIterations(int iterations)
    {
        for (QWidget* widget : QApplication::allWidgets())
            if (auto* box = qobject_cast<QSpinBox*>(widget); box && box->maximum() == 99999)
                box->setValue(iterations);
    }
    /// The newest analysis' " Compute tSNE ", its settings tab opened as a user would.
    QPushButton* computeButton() const
    {
        for (QTabWidget* tabs : window.findChildren<QTabWidget*>())
            for (int i = tabs->count() - 1; i >= 0; --i)
                for (QPushButton* button : tabs->widget(i)->findChildren<QPushButton*>())
                    if (button->text() == " Compute tSNE ") {
                        tabs->setCurrentIndex(i);
                        return button;
                    }
        return nullptr;
    }
    static void press(QPushButton* button)
    {
        QTest::mousePress(button, Qt::LeftButton);
        QTest::mouseRelease(button, Qt::LeftButton);
    }
    static bool showsIcon(const QPushButton* button, const char* resource)
    {
        return button->icon().pixmap(35).toImage() == QIcon(resource).pixmap(35).toImage();
    }
    /// Pixels of the frame that are not the light background.
    static int drawnPixels(const QImage& frame)
    {
        int drawn = 0;
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                drawn += qGray(frame.pixel(x, y)) < 200;
        return drawn;
    }

    QTemporaryDir dir;
    MainWindow window;
    UI_Interface* notifications = nullptr;
    int updates = 0;
    std::function<void(int)> onUpdate;
};

} // namespace

TEST_F(TsneEndToEndTest, ConvergesLiveAndPausesResumesAndRestartsFromThePanel)
{
    openAndStart();
    setIterations(150);
    EXPECT_EQ(analysis()->iterations(), 150);
    // A second connection before the view's own would be after it; the view's
    // slot is watched through the depth of the notifications instead.
    int depth = 0, deepest = 0;
    QObject::connect(notifications, &UI_Interface::analysisUpdatedSignal, &window, [&](void*) {
        deepest = std::max(deepest, ++depth);
        QCoreApplication::processEvents();
        --depth;
    });

    QImage early, late;
    bool runningLooks = false;
    onUpdate = [&](int count) {
        if (count == 10)
            early = view()->scatterplot()->grabFramebuffer();
        if (count == 60) {
            late = view()->scatterplot()->grabFramebuffer();
            runningLooks = showsIcon(slideInButton(0), ":/Icons/pauseBt")
                           && view()->scatterplot()->progressSpinner()->isVisible();
        }
        if (count == 80)
            press(slideInButton(0)); // pause
    };
    testing::internal::CaptureStdout();
    press(computeButton());
    EXPECT_EQ(updates, 80) << "paused at the next iteration";
    EXPECT_EQ(analysis()->gradientDescent().iteration(), 80);
    EXPECT_TRUE(runningLooks);
    EXPECT_TRUE(showsIcon(slideInButton(0), ":/Icons/runBt"));
    EXPECT_FALSE(view()->scatterplot()->progressSpinner()->isVisible());
    ASSERT_FALSE(early.isNull());
    EXPECT_GT(drawnPixels(early), 50) << "the embedding is drawn";
    EXPECT_NE(early, late) << "and moves over 50 iterations";

    // Resume: a full run more; restart during it begins a new embedding.
    onUpdate = [&](int count) {
        if (count == 80 + 120)
            press(slideInButton(1)); // replay
    };
    press(slideInButton(0));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(updates, 80 + 120 + 150);
    EXPECT_EQ(analysis()->gradientDescent().iteration(), 150) << "restarted from the beginning";
    EXPECT_TRUE(showsIcon(slideInButton(0), ":/Icons/runBt"));
    auto count = [&out](const std::string& text) {
        size_t n = 0;
        for (size_t at = out.find(text); at != std::string::npos; at = out.find(text, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("A-tSNE Analysis: iteration: 100, KL-divergence"), 2u) << out;
    EXPECT_EQ(count("A-tSNE: Finished embedding of A-tSNE Analysis"), 3u);
    EXPECT_EQ(deepest, 1) << "computationUpdated is never re-entered";
}

TEST_F(TsneEndToEndTest, TheFirstComputeIsColouredByFileAsThePanelSays)
{
    openAndStart();
    setIterations(40);
    press(computeButton());
    ASSERT_EQ(updates, 40);
    UI_ScatterplotWidget* plot = view()->scatterplot();
    const QImage first = plot->grabFramebuffer();
    auto* markers = slider()->findChildren<QComboBox*>().value(1);
    ASSERT_NE(markers, nullptr);
    ASSERT_EQ(markers->currentText(), "Sample");
    markers->setCurrentIndex(1);
    const QImage byFirstMarker = plot->grabFramebuffer();
    markers->setCurrentIndex(0);
    EXPECT_TRUE(plot->grabFramebuffer() == first);
    EXPECT_FALSE(byFirstMarker == first);
}

TEST_F(TsneEndToEndTest, SelectingBlobAByItsColourFillsTheSelectionAndItsStatistics)
{
    openAndStart();
    setIterations(250);
    QImage secondViewBefore, secondViewFrame;
    onUpdate = [&](int count) {
        // "Scatterplot View" is in no menu: the test triggers it.
        if (count == 100) {
            window.findChild<QAction*>("actionScatterplotView")->trigger();
            // Floated, as a user may: the view gets a new context while the run goes on.
            view(1)->setFloating(true);
            view(1)->resize(400, 400);
        }
        if (count == 150)
            secondViewBefore = view(1)->scatterplot()->grabFramebuffer();
        if (count == 200)
            secondViewFrame = view(1)->scatterplot()->grabFramebuffer();
    };
    press(computeButton());
    ASSERT_EQ(updates, 250);
    // Three blobs, each a few pixels across while the exaggeration holds them tight.
    EXPECT_GT(drawnPixels(secondViewFrame), 10) << "the second view shows the embedding";
    EXPECT_NE(secondViewBefore, secondViewFrame) << "and follows it live";

    // Colour by "CD_A" and find blob A by its colour: the green-yellow top of
    // the map, where the other blobs are purple.
    UI_ScatterplotWidget* plot = view()->scatterplot();
    auto* markers = slider()->findChildren<QComboBox*>().value(1);
    ASSERT_NE(markers, nullptr);
    ASSERT_EQ(markers->itemText(1), "CD_A");
    markers->setCurrentIndex(1);
    const QImage frame = plot->grabFramebuffer();
    QRect blob;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x) {
            const QColor c = frame.pixelColor(x, y);
            if (c.green() > 120 && c.green() > c.blue() + 60)
                blob |= QRect(x, y, 1, 1);
        }
    ASSERT_FALSE(blob.isEmpty()) << "no green-yellow points";
    const QRect around = blob.adjusted(-6, -6, 6, 6);
    auto send = [plot](QEvent::Type type, QPoint position, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent event(type, position, plot->mapToGlobal(position), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(plot, &event);
    };
    send(QEvent::MouseButtonPress, around.topLeft(), Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, around.center(), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseMove, around.bottomRight(), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, around.bottomRight(), Qt::LeftButton, Qt::NoButton);
    QCoreApplication::processEvents();

    std::set<std::pair<int, int>> selected, blobA;
    for (const MCV_PointIndex& p : MCV_DataRegistry::instance()->selectionData()->points())
        selected.emplace(p.sampleIndex, p.eventIndex);
    for (int s = 0; s < 3; ++s)
        for (int e = 0; e < kEventsPerFile; e += 3)
            blobA.emplace(s, e);
    EXPECT_EQ(selected, blobA);

    const QTableWidget* samples = plot->sampleStatistics()->table();
    ASSERT_EQ(samples->rowCount(), 3);
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(samples->item(row, 3)->text(), QString::number(kEventsPerFile / 3)) << "row " << row;

    UI_SelectionStatisticsWidget* statistics = plot->selectionStatistics();
    QPushButton* refresh = statistics->findChild<QPushButton*>();
    press(refresh);
    QCoreApplication::processEvents();
    const QTableWidget* table = statistics->table();
    EXPECT_EQ(table->horizontalHeaderItem(1)->text(), "CD_A");
    EXPECT_NEAR(table->item(0, 1)->text().toDouble(), 8.0, 0.3) << "median of CD_A";
    EXPECT_NEAR(table->item(0, 2)->text().toDouble(), 0.0, 0.3) << "median of CD_B";
}

TEST_F(TsneEndToEndTest, RemovalDuringARunEndsItAndTakesDocksAndTab)
{
    openAndStart();
    setIterations(400);
    const std::string name = analysis()->name();
    QPointer<UI_TsneWidget> dock(view());
    onUpdate = [&](int count) {
        if (count == 20) {
            // As the hierarchical SNE will: no menu command removes an analysis.
            std::vector<std::string> names{name};
            notifications->analysesRemovedSignal(&names);
        }
    };
    testing::internal::CaptureStdout();
    press(computeButton());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(updates, 20) << "no update after the request";
    ASSERT_TRUE(dock);
    EXPECT_EQ(dock->analysis(), nullptr);
    EXPECT_FALSE(dock->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(dock);
    EXPECT_EQ(window.findChildren<UI_TsneWidget*>().size(), 0);
    EXPECT_EQ(window.findChildren<UI_TsneSettingsWidget*>().size(), 0);

    // The base name is free again, and the new analysis computes.
    QString proposed;
    answerNamePrompt(QString(), &proposed);
    window.findChild<QAction*>("actionNewTsneAnalysis")->trigger();
    EXPECT_EQ(proposed, "A-tSNE Analysis");
    setIterations(30);
    updates = 0;
    onUpdate = nullptr;
    press(computeButton());
    EXPECT_EQ(updates, 30);
    EXPECT_EQ(analysis()->name(), "A-tSNE Analysis");
}

TEST_F(TsneEndToEndTest, ReopeningFilesDuringARunLeavesTheOldViewHarmless)
{
    openAndStart();
    setIterations(60);
    onUpdate = [&](int count) {
        if (count == 20) {
            whenModal<QFileDialog>([](QFileDialog* dialog) {
                dialog->findChild<QLineEdit*>("fileNameEdit")->setText("\"f1.fcs\" \"f2.fcs\"");
                static_cast<QDialog*>(dialog)->accept();
            });
            // "OK": accepting the dialog would be "Start SPADE", which asks for a name.
            whenModal<QDialog>(
                [](QDialog* dialog) {
                    for (QPushButton* button : dialog->findChildren<QPushButton*>())
                        if (button->text() == "OK")
                            button->click();
                },
                "Succes");
            // The action behind Ctrl+O (the shortcut itself needs an active window,
            // which a loaded display grants late).
            window.findChild<QAction*>("actionOpenFile")->trigger();
        }
    };
    testing::internal::CaptureStdout();
    press(computeButton());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(updates, 60) << "the run went on";
    EXPECT_NE(out.find("A-tSNE: The data were reloaded; the embedding of A-tSNE Analysis is not written"),
              std::string::npos);
    ASSERT_EQ(MCV_DataRegistry::instance()->sampleCount(), 2) << "the files were reopened";

    // Selecting in the old view names events of files no longer loaded: nothing changes.
    DebugLines debug;
    QTest::keyClick(view()->scatterplot(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(MCV_DataRegistry::instance()->selectionData()->points().empty());
    EXPECT_EQ(DebugLines::matching("The data were reloaded since"),
              "The data were reloaded since A-tSNE Analysis was computed: its selection is not passed on.");
}

TEST_F(TsneEndToEndTest, ReopenedFilesReachTheViewAndThePanels)
{
    answerNamePrompt(QString());
    openFilesThroughDialog(window, "\"f0.fcs\" \"f1.fcs\"", "Start A-tSNE");
    setIterations(20);
    testing::internal::CaptureStdout();
    press(computeButton());
    UI_SampleSelectionWidget* samples = view()->scatterplot()->samplePanel();
    samples->colorPickerClicked(1);
    samples->findChild<QColorDialog*>()->setCurrentColor(QColor(10, 200, 30));
    samples->findChild<QColorDialog*>()->hide();
    answerNamePrompt(QString());
    window.findChild<QAction*>("actionNewSpadeAnalysis")->trigger();

    // Four files, without the two t-SNE channels the first load was given.
    openFilesThroughDialog(window, "\"f0.fcs\" \"f1.fcs\" \"f2.fcs\" \"f3.fcs\"");
    press(computeButton());
    testing::internal::GetCapturedStdout();
    QTest::keyClick(view()->scatterplot(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(MCV_DataRegistry::instance()->selectionData()->points().size(), 4u * kEventsPerFile);

    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QStringList rows;
    for (QLabel* label : samples->findChildren<QLabel*>())
        if (label->text().endsWith(".fcs"))
            rows << label->text();
    EXPECT_EQ(rows.join(' ').toStdString(), "f0.fcs f1.fcs f2.fcs f3.fcs");
    const std::vector<unsigned char>& colours = samples->sampleColors();
    ASSERT_EQ(colours.size(), 12u);
    EXPECT_EQ(std::vector<unsigned char>(colours.begin() + 3, colours.begin() + 6),
              (std::vector<unsigned char>{10, 200, 30})) << "f1 keeps its colour";

    QStringList spadeMarkers;
    for (QCheckBox* box : window.findChild<UI_SpadeSettingsWidget*>()->findChildren<QCheckBox*>())
        spadeMarkers << box->text();
    EXPECT_EQ(spadeMarkers.join(' ').toStdString(), "CD_A CD_B CD_C CD_D");
}

TEST_F(TsneEndToEndTest, AViewOfAnEmbeddingOfEarlierFilesDrawsEachPointInItsOwnFilesRow)
{
    answerNamePrompt(QString());
    openFilesThroughDialog(window, "\"f0.fcs\" \"f1.fcs\"", "Start A-tSNE");
    setIterations(20);
    testing::internal::CaptureStdout();
    press(computeButton());
    // f0 goes, f1 moves up to the first row, f2 comes; a further view opens
    // during a restart. "Scatterplot View" is in no menu: the test triggers it.
    openFilesThroughDialog(window, "\"f1.fcs\" \"f2.fcs\"");
    watchUpdates();
    onUpdate = [&](int count) {
        if (count == 5) {
            window.findChild<QAction*>("actionScatterplotView")->trigger();
            view(1)->setFloating(true);
            view(1)->resize(400, 400);
        }
    };
    press(slideInButton(1));
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(updates, 20);
    UI_ScatterplotWidget* plot = view(1)->scatterplot();
    // f1 keeps its light colour: every pixel off the background counts.
    auto pointPixels = [plot] {
        const QImage frame = plot->grabFramebuffer();
        int drawn = 0;
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                drawn += frame.pixel(x, y) != frame.pixel(0, 0);
        return drawn;
    };
    EXPECT_GT(pointPixels(), 10) << "f1's events are drawn";

    // With f1 hidden nothing of the analysis is left to draw: f0 is gone and
    // f2 was not in it.
    const QList<QCheckBox*> rows = plot->samplePanel()->findChildren<QCheckBox*>();
    ASSERT_EQ(rows.size(), 2);
    rows[0]->click();
    EXPECT_EQ(pointPixels(), 0);
}

TEST_F(TsneEndToEndTest, ClosingDuringARunEndsTheEventLoopWithZero)
{
    openAndStart();
    setIterations(1000);
    QPointer<UI_TsneWidget> dock(view());
    onUpdate = [&](int count) {
        if (count == 10)
            window.close();
    };
    EXPECT_EQ(runEventLoopFrom([this] { press(computeButton()); }), 0);
    EXPECT_EQ(updates, 10) << "the loop stopped at its next iteration";
    EXPECT_TRUE(!dock || !dock->analysis()) << "the analysis was deleted";
}
