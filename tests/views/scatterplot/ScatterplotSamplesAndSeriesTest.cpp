// The scatterplot with its sample panel and the screenshot series it takes
// through the serial screenshot dialog: three files, each drawn at its own
// spot, in the panel's colours.
#include "framework/UI_Settings.h"
#include "panels/UI_SampleSelectionWidget.h"
#include "panels/UI_ScreenshotDialog.h"
#include "scatterplot/UI_ScatterplotWidget.h"
#include "scatterplot/UI_TsneSettingsSliderWidget.h"

#include "analyses/MCV_TsneAnalysis.h"
#include "data/DefaultStateStore.h"
#include "data/FcsError.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataPoints.h"
#include "support/IsolatedSettings.h"
#include "support/ModalDialogDriver.h"
#include "support/RecordingUiInterface.h"
#include "support/RegistryTestData.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDateTime>
#include <QDir>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <lodepng.h>

#include <array>
#include <memory>

namespace {

const bool settingsIsolated = isolateSettings();

// Where each file's events are placed: unit coordinates after the view's
// normalisation (0.1 + 0.8 v over the unit square).
const std::array<std::pair<float, float>, 3> fileSpots{{{0.1f, 0.1f}, {0.9f, 0.9f}, {0.1f, 0.9f}}};
// The panel's default colours: hues 0, 1/3, 2/3 at saturation 0.5.
const std::array<QRgb, 3> fileColours{{qRgb(255, 128, 128), qRgb(128, 255, 128), qRgb(128, 128, 255)}};

bool near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) <= 1 && std::abs(qGreen(a) - qGreen(b)) <= 1
           && std::abs(qBlue(a) - qBlue(b)) <= 1;
}

class ScatterplotSamplesAndSeriesTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsIsolated);
        DefaultStateStore::instance()->setSampleSelection({});
        DefaultStateStore::instance()->setSampleColors({});
        std::vector<bool> markers{true, true, false};
        DefaultStateStore::instance()->setMarkerStates(markers);

        MCV_DataRegistry* registry = RegistryTestData::freshRegistry();
        registry->setUiInterface(&ui);
        const std::vector<std::pair<std::string, std::string>> names{
            {"$P1N", "CD45/Ki67"}, {"$P2N", "../x"}, {"$P3N", "CD3"}};
        for (int file = 0; file < 3; ++file) {
            std::vector<float> values;
            for (int e = 0; e < 10; ++e)
                for (int m = 0; m < 3; ++m)
                    values.push_back(static_cast<float>(10 * file + e + m));
            const std::string path = RegistryTestData::writeFcs(
                data.path().toStdString(), "f" + std::to_string(file) + ".fcs", 3, values, names);
            ASSERT_EQ(registry->loadFcsFile(path), FcsErrorNone);
        }
        analysis.initialize(&ui, "Test tSNE");
        analysis.setInputData(registry->createAllPointsData());
        analysis.setIterations(10);
        analysis.setExaggerationIterations(5);
        analysis.compute();

        // Every event at its file's spot.
        const std::vector<MCV_PointIndex>& points = analysis.inputData()->points();
        std::vector<float>& positions = analysis.embeddingPositions();
        ASSERT_EQ(positions.size(), 2 * points.size());
        for (size_t k = 0; k < points.size(); ++k) {
            const auto& spot = fileSpots[static_cast<size_t>(points[k].sampleIndex)];
            positions[2 * k] = (spot.first - 0.1f) / 0.8f;
            positions[2 * k + 1] = (spot.second - 0.1f) / 0.8f;
        }

        widget = std::make_unique<UI_ScatterplotWidget>(&analysis, 30.0f);
        widget->setEmbedding(3);
        widget->setMarkerNames({"CD45/Ki67", "../x", "CD3"});
        widget->resize(300, 300);
        widget->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(widget.get()));
        widget->refreshEmbedding();
        widget->pointSizeChanged(0.05f);
        widget->pointOpacityChanged(1.0f);
        widget->setMarker(-1);
    }
    void TearDown() override
    {
        widget.reset();
        RegistryTestData::dropRegistry();
    }

    QRgb frameAt(const QImage& frame, int file) const
    {
        const auto& spot = fileSpots[static_cast<size_t>(file)];
        return frame.pixel(static_cast<int>(spot.first * frame.width()),
                           frame.height() - 1 - static_cast<int>(spot.second * frame.height()));
    }

    QTemporaryDir data;
    RecordingUiInterface ui;
    MCV_TsneAnalysis analysis;
    std::unique_ptr<UI_ScatterplotWidget> widget;
};

} // namespace

TEST_F(ScatterplotSamplesAndSeriesTest, PanelFlagsAndColoursReachTheFrame)
{
    UI_SampleSelectionWidget* panel = widget->samplePanel();
    ASSERT_NE(panel, nullptr);
    ASSERT_EQ(panel->sampleSelection().size(), 3u);
    QImage frame = widget->grabFramebuffer();
    for (int file = 0; file < 3; ++file)
        EXPECT_TRUE(near(frameAt(frame, file), fileColours[static_cast<size_t>(file)])) << file;

    // Unchecking the second file leaves the background where its points were.
    const QRgb background = frame.pixel(frame.width() / 2, frame.height() / 2);
    panel->findChildren<QCheckBox*>()[1]->click();
    frame = widget->grabFramebuffer();
    EXPECT_EQ(frameAt(frame, 1), background);
    EXPECT_TRUE(near(frameAt(frame, 0), fileColours[0]));

    // A colour chosen in the panel's dialog is the colour drawn.
    panel->colorPickerClicked(2);
    panel->findChild<QColorDialog*>()->setCurrentColor(QColor(10, 200, 30));
    panel->findChild<QColorDialog*>()->hide();
    frame = widget->grabFramebuffer();
    EXPECT_TRUE(near(frameAt(frame, 2), qRgb(10, 200, 30)));
}

TEST_F(ScatterplotSamplesAndSeriesTest, DialogChoicesGiveOneImagePerEntryInTheFolder)
{
    QTemporaryDir out;
    ASSERT_TRUE(QDir(out.path()).mkdir("shots"));
    const QString folder = QDir(out.filePath("shots")).absolutePath();
    UI_Settings::instance()->setValue("exportDefaultFilePath", folder);
    UI_Settings::instance()->sync();
    const QColor dark(20, 30, 40);

    bool captured = false;
    whenModal<UI_ScreenshotDialog>([&](UI_ScreenshotDialog* dialog) {
        for (QCheckBox* box : dialog->findChildren<QCheckBox*>())
            if ((box->text() == "Sample" || box->text() == "Override Ranges") && !box->isChecked())
                box->click();
        whenModal<QColorDialog>([&](QColorDialog* chooser) {
            chooser->setCurrentColor(dark);
            chooser->accept();
        });
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            if (button->text().isEmpty())
                QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(dialog->selectedMarkers(), (std::vector<int>{-1, 0, 1}));
        EXPECT_EQ(dialog->overrideRange(), (std::vector<float>{0, 5}));
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            if (button->text() == "Capture") {
                captured = button->isEnabled();
                button->click();
            }
    });
    // The slide-in panel's camera button.
    widget->settingsSlider()->openScreenshotDialog();
    ASSERT_TRUE(captured);
    EXPECT_EQ(widget->marker(), -1);

    // Nothing beside the folder: "../x" stayed inside.
    EXPECT_EQ(QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"shots"});
    const QStringList shots = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    ASSERT_EQ(shots.size(), 3) << shots.join(' ').toStdString();
    int sampleImages = 0;
    for (const QString& shot : shots) {
        const QString stamp = shot.chopped(4).right(21);
        EXPECT_TRUE(QDateTime::fromString(stamp, "yy_MM_dd_HH_mm_ss_zzz").isValid()) << shot.toStdString();

        std::vector<unsigned char> png;
        ASSERT_EQ(lodepng::load_file(png, QDir(folder).filePath(shot).toStdString()), 0u);
        unsigned width = 0, height = 0;
        lodepng::State state;
        ASSERT_EQ(lodepng_inspect(&width, &height, &state, png.data(), png.size()), 0u);
        EXPECT_EQ(width, 4096u);
        EXPECT_EQ(height, 4096u);
        EXPECT_EQ(state.info_png.color.colortype, LCT_RGB);
        EXPECT_EQ(state.info_png.color.bitdepth, 8u);
        std::vector<unsigned char> rgb;
        ASSERT_EQ(lodepng::decode(rgb, width, height, png, LCT_RGB, 8), 0u);
        const QImage image(rgb.data(), 4096, 4096, 3 * 4096, QImage::Format_RGB888);
        EXPECT_EQ(image.pixel(0, 0), dark.rgb()) << shot.toStdString();

        if (!shot.startsWith("sampleTag_"))
            continue;
        ++sampleImages;
        // The file colours stand, whatever range the markers were given.
        for (int file = 0; file < 3; ++file)
            EXPECT_TRUE(near(frameAt(image, file), fileColours[static_cast<size_t>(file)])) << file;
    }
    EXPECT_EQ(sampleImages, 1);
    EXPECT_TRUE(shots.filter(QRegularExpression("^CD45_Ki67_")).size() == 1) << shots.join(' ').toStdString();
}
