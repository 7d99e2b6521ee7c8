#pragma once

#include "render/PointRenderer.h"

#include <QColor>
#include <QOpenGLWidget>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class MCV_Analysis;
class MCV_DerivedDataClusters;
class MCV_HsneAnalysis;
class UI_ColormapSelectionWidget;
class UI_ProgressSpinnerWidget;
class UI_SampleSelectionWidget;
class UI_SampleStatisticsWidget;
class UI_SelectionStatisticsWidget;
class UI_TsneSettingsSliderWidget;
struct WriteFailure;

/// The interactive OpenGL view of one embedding. It owns a PointRenderer
/// (made at the first context initialisation and rebuilt, GL-wise, on every
/// new context: a dock floated, re-docked or moved to another window), turns
/// mouse and keys into rectangle selections, cluster clicks and hovering,
/// and writes PNG screenshots and cluster exports. The analysis docks drive
/// it through the bridge operations.
///
/// What the panels set (marker, colour maps, sigma, point look, modes, file
/// flags and colours) and the dock's selection are kept here as well, so a
/// setting made before the renderer exists is not lost: every
/// initializeGL, the first and each after a new context, hands the renderer
/// the whole current look through one path (handOverLook).
///
/// Renderer calls that issue GL commands outside initializeGL and paintGL
/// make the widget's context current only when it is not already (a call
/// nested in a frame keeps the frame's context) and release only what they
/// made current.
///
/// Children it carries: the slide-in settings panel (whose signals reach the
/// slots below), the colour-map picker, the progress spinner, and the tabs of
/// the panel's "Extended Settings" dock: "Select Samples" (the sample
/// selection panel, whose file flags and colours the renderer draws with),
/// "Sample Statistics" and "Selection Statistics". takeScreenshotSeries asks
/// the screenshot dialog for a series.
class UI_ScatterplotWidget : public QOpenGLWidget
{
    Q_OBJECT

public:
    UI_ScatterplotWidget(MCV_Analysis* analysis, float sigmaStartValue, QWidget* parent = nullptr);
    ~UI_ScatterplotWidget() override;

    /// Room for aiming rectangles: what a dock of the plot asks for.
    QSize sizeHint() const override;

    // ---- Bridge for the docks (calls before the renderer exists are kept
    // ---- and handed to it in initializeGL) ---------------------------------

    /// The analysis' embedding with the width of its marker rows; the sample
    /// statistics follow the analysis' input set.
    void setEmbedding(int markerCount);
    void setMarkerNames(const std::vector<std::string>& names);
    /// Selection flags of the dock (one per point), or its index list; the
    /// statistics tabs follow at the next turn of the event loop.
    void setSelection(const std::vector<uint16_t>* flags, bool useIndexList);
    /// After an iteration of the embedding; the caller repaints.
    void refreshEmbedding();
    void updateClusters(MCV_DerivedDataClusters* clusters);
    void setActiveCluster(MCV_DerivedDataClusters* clusters);
    /// The file selection shown (the sample panel's), or null.
    const std::vector<bool>* sampleSelection() const { return m_sampleSelection; }
    /// The renderer's selected indices; empty before the renderer exists.
    const std::vector<int>& selectedIndices() const;
    /// The files were reopened: the sample panel's rows follow the live
    /// registry, and the points shown keep the rows of their files.
    void filesReopened();
    /// Where the file selection and file colours come from: the sample
    /// panel's vectors unless replaced here, read again on every
    /// sampleSelectionUpdated and sampleColorsUpdated.
    void setSampleSources(const std::vector<bool>* selection, const std::vector<unsigned char>* colors);

    /// "Save Clusters": an FCS file per density cluster, chosen in a dialog.
    void saveClusters();
    /// A 4096-pixel PNG of the view into folder, named after the marker and
    /// the time, written whole or not at all (ReplacingFile); true when written.
    /// A file that could not be written is named in `failure` (when given);
    /// no folder or no rendered image leaves it alone.
    bool takeScreenshot(const QString& folder, bool confirm, WriteFailure* failure = nullptr);
    /// One screenshot per marker with an optional colour range (empty or
    /// min, max) and background, then the marker shown before; the series
    /// ends at an image that cannot be saved, which a warning box names.
    void saveScreenshotSeries(const std::vector<int>& markers, const std::vector<float>& range,
                              const QColor& background, const QString& folder);

    /// The analysis is about to be deleted: the widget, its renderer and its
    /// slide-in panel drop every pointer to it and its buffers.
    void detachAnalysis();
    /// True while the slide-in panel shows a run (spinner and pause icon).
    bool isComputing() const;

    PointRenderer* renderer() const { return m_renderer.get(); }
    MCV_Analysis* analysis() const { return m_analysis; }
    UI_TsneSettingsSliderWidget* settingsSlider() const { return m_settingsSlider; }
    UI_SampleStatisticsWidget* sampleStatistics() const { return m_sampleStatistics; }
    UI_SelectionStatisticsWidget* selectionStatistics() const { return m_selectionStatistics; }
    int marker() const { return m_look.marker; }
    bool isContextMenuOpen() const { return m_contextMenuOpen; }
    UI_ColormapSelectionWidget* colormapPicker() const { return m_colormapPicker; }
    UI_ProgressSpinnerWidget* progressSpinner() const { return m_spinner; }
    UI_SampleSelectionWidget* samplePanel() const { return m_samplePanel; }

signals:
    void selectionUpdated();
    void rightClick(QPoint position);
    void clusterSelected(int cluster);
    void drillIntoSelectionClicked();
    void drillIntoClusterClicked(std::string clusters, int cluster);

public slots:
    void cleanup();
    void colormapChanged(int index);
    void colormapdiscreteChanged(bool discrete);
    void pointSizeChanged(float size);
    void pointOpacityChanged(float opacity);
    void pointHaloSizeChanged(float size);
    void sampleSelectionUpdated();
    void sampleColorsUpdated();
    /// Runs the screenshot dialog; an accepted one takes the series.
    void takeScreenshotSeries();
    void setMsGrid(int res);
    void setOtfClustering(int on);
    void cluster();
    void computationStarted();
    void computationMilestoneReached();
    void computationFinished();
    void showContextMenu(QPoint position);
    void setMode(int densityMode);
    void setDarkMode(bool dark);
    void setPointBasedMode(int mode);
    void setMarker(int index);
    void setLowerMarkerBoundary(float value);
    void setUpperMarkerBoundary(float value);
    void setMarkerSpan(float lower, float upper);
    void setSaturation(float saturation);
    void setSigma(float sigma);
    void reclusterWithSigma(float sigma);
    void setAdvancedMode(int mode);
    void updatePixelRatio();
    void menuShown();
    void menuHidden();

protected:
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    /// The analysis as a hierarchical SNE level; null for other types.
    MCV_HsneAnalysis* hsneLevel() const;
    void buildOverlays();
    /// "Select Samples", "Sample Statistics" and "Selection Statistics".
    void buildExtendedSettingsTabs();
    void placeOverlays();
    /// A widget position with y from the bottom, in the renderer's pixels.
    QPoint rendererPixel(QPoint fromBottom) const;
    QPoint fromBottom(QPoint widgetPosition) const;
    /// Runs work on the renderer with the context current, then repaints.
    template <class Work>
    void withRenderer(Work work, bool repaint = true);
    /// Edits the shown marker's colour range, when a marker is shown, and repaints.
    template <class Edit>
    void editColourRange(Edit edit);
    /// Edits the kept look and hands it to the renderer, when there is one.
    template <class Edit>
    void editLook(Edit edit);
    /// Gives the renderer (its context current) the kept look, the file
    /// flags and colours and the dock's selection, and the panel's range
    /// slider the shown marker's range.
    void handOverLook();
    /// The dock's selection to the renderer (its context current).
    void handOverSelection();
    /// The panel's range slider shows the marker's boundaries and colour
    /// range, once the renderer has computed them.
    void showMarkerRange();

    MCV_Analysis* m_analysis = nullptr;
    std::unique_ptr<PointRenderer> m_renderer;
    float m_pixelRatio = 1.0f;
    float m_sigmaStartValue = 0.0f;

    UI_TsneSettingsSliderWidget* m_settingsSlider = nullptr;
    UI_ColormapSelectionWidget* m_colormapPicker = nullptr;
    UI_ProgressSpinnerWidget* m_spinner = nullptr;
    UI_SampleSelectionWidget* m_samplePanel = nullptr;
    UI_SampleStatisticsWidget* m_sampleStatistics = nullptr;
    UI_SelectionStatisticsWidget* m_selectionStatistics = nullptr;

    PointRenderer::Look m_look;
    int m_densityMode = 0;
    int m_pointBasedMode = 0;
    bool m_dragging = false;
    QPoint m_pressPosition;
    bool m_contextMenuOpen = false;
    std::vector<std::string> m_markerNames;

    const std::vector<bool>* m_sampleSelection = nullptr;
    const std::vector<unsigned char>* m_sampleColors = nullptr;
    // The embedding's marker count while no renderer has taken it.
    int m_pendingMarkerCount = -1;
    // The dock's selection flags and whether the renderer shows its own
    // selected indices; true once a renderer took the flags, whose selected
    // indices it then keeps across contexts.
    std::pair<const std::vector<uint16_t>*, bool> m_selection{nullptr, false};
    bool m_screenConnected = false;
};
