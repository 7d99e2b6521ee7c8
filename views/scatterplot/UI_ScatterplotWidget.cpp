#include "scatterplot/UI_ScatterplotWidget.h"

#include "framework/UI_Settings.h"
#include "framework/screenshotFilePath.h"
#include "framework/showSaveFailure.h"
#include "panels/UI_SampleSelectionWidget.h"
#include "panels/UI_SampleStatisticsWidget.h"
#include "panels/UI_ScreenshotDialog.h"
#include "panels/UI_SelectionStatisticsWidget.h"
#include "render/PointRenderer.h"
#include "render/initializeGlew.h"
#include "scatterplot/UI_ColormapSelectionWidget.h"
#include "scatterplot/UI_TsneSettingsSliderWidget.h"
#include "web/UI_ProgressSpinnerWidget.h"

#include "analyses/MCV_Analysis.h"
#include "analyses/MCV_HsneAnalysis.h"
#include "data/ExportFileNames.h"
#include "data/MCV_DataRegistry.h"
#include "data/ReplacingFile.h"
#include "data/WriteFailure.h"

#include <QBuffer>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QMatrix4x4>
#include <QMenu>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <cstdlib>

namespace {

/// Makes a widget's context current for GL work when it is not already, and
/// afterwards releases only a context it made current: a call nested in a
/// frame (or in another such call) must leave the frame's context alone.
class ContextScope
{
public:
    explicit ContextScope(QOpenGLWidget* widget) : m_widget(widget)
    {
        QOpenGLContext* context = widget->context();
        m_made = context != nullptr && QOpenGLContext::currentContext() != context;
        if (m_made)
            widget->makeCurrent();
    }
    ~ContextScope()
    {
        if (m_made)
            m_widget->doneCurrent();
    }
    ContextScope(const ContextScope&) = delete;
    ContextScope& operator=(const ContextScope&) = delete;

private:
    QOpenGLWidget* m_widget;
    bool m_made = false;
};

/// Rectangle mode from the keys held: Ctrl adds, Shift removes, else replace.
int selectionMode(Qt::KeyboardModifiers modifiers)
{
    if (modifiers & Qt::ControlModifier)
        return 1;
    if (modifiers & Qt::ShiftModifier)
        return 2;
    return 0;
}

const std::vector<int> noIndices;

} // namespace

UI_ScatterplotWidget::UI_ScatterplotWidget(MCV_Analysis* analysis, float sigmaStartValue, QWidget* parent)
    : QOpenGLWidget(parent), m_analysis(analysis), m_sigmaStartValue(sigmaStartValue)
{
    // The panel's sigma slider starts at the start value.
    m_look.sigma = sigmaStartValue * 0.005f;
    setMinimumSize(50, 50);
    buildOverlays();
    buildExtendedSettingsTabs();
}

UI_ScatterplotWidget::~UI_ScatterplotWidget()
{
    // The base destroys the context after this part of the object is gone:
    // its aboutToBeDestroyed must no longer reach cleanup.
    if (QOpenGLContext* glContext = context())
        disconnect(glContext, nullptr, this, nullptr);
    if (m_renderer) {
        ContextScope scope(this);
        m_renderer->release();
    }
    m_renderer.reset();
}

QSize UI_ScatterplotWidget::sizeHint() const
{
    return QSize(400, 400);
}

void UI_ScatterplotWidget::buildOverlays()
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);

    using Panel = UI_TsneSettingsSliderWidget;
    m_settingsSlider = new Panel(m_analysis, static_cast<int>(m_sigmaStartValue), this);
    connect(this, &UI_ScatterplotWidget::rightClick, this, &UI_ScatterplotWidget::showContextMenu);
    connect(m_settingsSlider, &Panel::parentSetMode, this, &UI_ScatterplotWidget::setMode);
    connect(m_settingsSlider, &Panel::parentSetDarkMode, this, &UI_ScatterplotWidget::setDarkMode);
    connect(m_settingsSlider, &Panel::parentSetPointBasedMode, this, &UI_ScatterplotWidget::setPointBasedMode);
    connect(m_settingsSlider, &Panel::parentSetMarker, this, &UI_ScatterplotWidget::setMarker);
    connect(m_settingsSlider, &Panel::parentSetMarkerSpan, this, &UI_ScatterplotWidget::setMarkerSpan);
    connect(m_settingsSlider, &Panel::parentSetSaturation, this, &UI_ScatterplotWidget::setSaturation);
    connect(m_settingsSlider, &Panel::parentSetSigma, this, &UI_ScatterplotWidget::setSigma);
    connect(m_settingsSlider, &Panel::parentReclusterWithSigma, this, &UI_ScatterplotWidget::reclusterWithSigma);
    connect(m_settingsSlider, &Panel::parentSetAdvancedMode, this, &UI_ScatterplotWidget::setAdvancedMode);
    connect(m_settingsSlider, &Panel::parentSetpointSize, this, &UI_ScatterplotWidget::pointSizeChanged);
    connect(m_settingsSlider, &Panel::parentSetpointOpacity, this, &UI_ScatterplotWidget::pointOpacityChanged);
    connect(m_settingsSlider, &Panel::parentSetpointHaloSize, this, &UI_ScatterplotWidget::pointHaloSizeChanged);
    connect(m_settingsSlider, &Panel::msGridSizeChangedSignal, this, &UI_ScatterplotWidget::setMsGrid);
    connect(m_settingsSlider, &Panel::computeMSotfSignal, this, &UI_ScatterplotWidget::setOtfClustering);
    connect(m_settingsSlider, &Panel::computationStartedSignal, this, &UI_ScatterplotWidget::computationStarted);
    connect(m_settingsSlider, &Panel::computationRefusedSignal, this, &UI_ScatterplotWidget::computationFinished);
    connect(m_settingsSlider, &Panel::computeMSOnceSignal, this, &UI_ScatterplotWidget::cluster);
    connect(m_settingsSlider, &Panel::screenshotButtonPressed, this, &UI_ScatterplotWidget::takeScreenshotSeries);
    m_settingsSlider->show();

    m_colormapPicker = new UI_ColormapSelectionWidget(this);
    m_colormapPicker->show();
    connect(m_colormapPicker, &UI_ColormapSelectionWidget::colormapSelected, this,
            &UI_ScatterplotWidget::colormapChanged);
    connect(m_colormapPicker, &UI_ColormapSelectionWidget::discreteSelected, this,
            &UI_ScatterplotWidget::colormapdiscreteChanged);

    m_spinner = new UI_ProgressSpinnerWidget(this);
    m_spinner->hide();
    placeOverlays();
}

void UI_ScatterplotWidget::buildExtendedSettingsTabs()
{
    // The sample panel reads the registry's samples now, as the view is made.
    m_samplePanel = new UI_SampleSelectionWidget(this);
    connect(m_samplePanel, &UI_SampleSelectionWidget::selectionUpdated, this,
            &UI_ScatterplotWidget::sampleSelectionUpdated);
    connect(m_samplePanel, &UI_SampleSelectionWidget::colorsUpdated, this,
            &UI_ScatterplotWidget::sampleColorsUpdated);
    setSampleSources(&m_samplePanel->sampleSelection(), &m_samplePanel->sampleColors());
    m_settingsSlider->addOptionTab(m_samplePanel, "Select Samples");

    m_sampleStatistics = new UI_SampleStatisticsWidget;
    m_settingsSlider->addOptionTab(m_sampleStatistics, "Sample Statistics");
    m_selectionStatistics = new UI_SelectionStatisticsWidget;
    m_settingsSlider->addOptionTab(m_selectionStatistics, "Selection Statistics");
}

void UI_ScatterplotWidget::placeOverlays()
{
    m_settingsSlider->updatePlacement(width(), height());
    m_colormapPicker->updatePlacement(width());
    m_spinner->move(width() - m_spinner->width() - 10, height() - m_spinner->height() - 10);
}

template <class Work>
void UI_ScatterplotWidget::withRenderer(Work work, bool repaint)
{
    if (!m_renderer)
        return;
    {
        ContextScope scope(this);
        work(*m_renderer);
    }
    if (repaint)
        update();
}

template <class Edit>
void UI_ScatterplotWidget::editLook(Edit edit)
{
    edit(m_look);
    withRenderer([this](PointRenderer& renderer) { renderer.setLook(m_look); });
}

void UI_ScatterplotWidget::handOverLook()
{
    m_renderer->setLook(m_look);
    m_renderer->setSampleSelection(m_sampleSelection);
    m_renderer->setSampleColors(m_sampleColors);
    handOverSelection();
    showMarkerRange();
}

void UI_ScatterplotWidget::handOverSelection()
{
    if (m_selection.first == nullptr)
        return;
    m_renderer->setSelection(m_selection.first, m_selection.second);
    m_selection.second = true;
}

void UI_ScatterplotWidget::showMarkerRange()
{
    if (!m_renderer)
        return;
    const int marker = m_look.marker;
    const auto& boundaries = m_renderer->getMarkerBoundaries();
    const auto& ranges = m_renderer->getMarkerMinMax();
    if (marker >= 0 && marker < static_cast<int>(std::min(boundaries.size(), ranges.size()))) {
        const size_t m = static_cast<size_t>(marker);
        m_settingsSlider->setMarkerRange(boundaries[m].first, boundaries[m].second, ranges[m].first, ranges[m].second);
    }
}

// ---- GL life ------------------------------------------------------------------------

void UI_ScatterplotWidget::initializeGL()
{
    connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, &UI_ScatterplotWidget::cleanup,
            Qt::UniqueConnection);
    const std::string glewError = initializeGlew();
    if (!glewError.empty())
        qDebug().noquote() << "Glew error " + QString::fromStdString(glewError);
    m_pixelRatio = static_cast<float>(devicePixelRatioF());
    if (!m_renderer)
        m_renderer = std::make_unique<PointRenderer>();
    m_renderer->init();

    QMatrix4x4 projection;
    projection.ortho(0.0f, 1.0f, 0.0f, 1.0f, 1.0f, -1.0f);
    QMatrix4x4 view;
    view.translate(0.0f, 0.0f, -1.0f);
    const QMatrix4x4 model;
    m_renderer->setMVP((projection * view * model).constData());

    if (m_pendingMarkerCount >= 0) {
        m_renderer->setAnalysis(m_analysis, m_pendingMarkerCount);
        m_pendingMarkerCount = -1;
    }
    handOverLook();
    m_renderer->setViewport(static_cast<unsigned>(width() * m_pixelRatio),
                            static_cast<unsigned>(height() * m_pixelRatio), defaultFramebufferObject());

    if (!m_screenConnected && window()->windowHandle() != nullptr) {
        connect(window()->windowHandle(), &QWindow::screenChanged, this, &UI_ScatterplotWidget::updatePixelRatio);
        m_screenConnected = true;
    }
}

void UI_ScatterplotWidget::resizeGL(int width, int height)
{
    if (m_renderer)
        m_renderer->setViewport(static_cast<unsigned>(width * m_pixelRatio),
                                static_cast<unsigned>(height * m_pixelRatio), defaultFramebufferObject());
    placeOverlays();
}

void UI_ScatterplotWidget::paintGL()
{
    if (m_renderer)
        m_renderer->render(defaultFramebufferObject());
}

void UI_ScatterplotWidget::cleanup()
{
    if (!m_renderer)
        return;
    ContextScope scope(this);
    m_renderer->release();
}

void UI_ScatterplotWidget::updatePixelRatio()
{
    if (!m_renderer)
        return;
    m_pixelRatio = static_cast<float>(devicePixelRatioF());
    withRenderer([this](PointRenderer& renderer) {
        renderer.setViewport(static_cast<unsigned>(width() * m_pixelRatio),
                             static_cast<unsigned>(height() * m_pixelRatio), defaultFramebufferObject());
    });
}

// ---- Bridge ------------------------------------------------------------------------------

void UI_ScatterplotWidget::setEmbedding(int markerCount)
{
    if (m_analysis)
        m_sampleStatistics->setData(m_analysis->inputData());
    if (!m_renderer) {
        m_pendingMarkerCount = markerCount;
        return;
    }
    withRenderer([this, markerCount](PointRenderer& renderer) { renderer.setAnalysis(m_analysis, markerCount); },
                 false);
}

void UI_ScatterplotWidget::setMarkerNames(const std::vector<std::string>& names)
{
    m_markerNames = names;
    m_settingsSlider->setMarkerNames(names);
}

void UI_ScatterplotWidget::setSelection(const std::vector<uint16_t>* flags, bool useIndexList)
{
    m_selection = {flags, useIndexList};
    withRenderer([this](PointRenderer&) { handOverSelection(); });
    m_sampleStatistics->refresh();
    m_selectionStatistics->refresh(false);
}

void UI_ScatterplotWidget::detachAnalysis()
{
    m_analysis = nullptr;
    m_settingsSlider->detachAnalysis();
    m_pendingMarkerCount = -1;
    // The renderer reads the analysis' buffers through the pointers setData keeps.
    withRenderer(
        [](PointRenderer& renderer) {
            renderer.setAnalysis(nullptr, 0);
            renderer.setData(nullptr, nullptr, 0, 0, nullptr, false);
        },
        false);
}

bool UI_ScatterplotWidget::isComputing() const
{
    return m_settingsSlider->isComputing();
}

void UI_ScatterplotWidget::refreshEmbedding()
{
    withRenderer([](PointRenderer& renderer) { renderer.refreshEmbedding(); }, false);
}

void UI_ScatterplotWidget::updateClusters(MCV_DerivedDataClusters* clusters)
{
    withRenderer([clusters](PointRenderer& renderer) { renderer.updateClusters(clusters); }, false);
}

void UI_ScatterplotWidget::setActiveCluster(MCV_DerivedDataClusters* clusters)
{
    withRenderer([clusters](PointRenderer& renderer) { renderer.setActiveCluster(clusters); });
}

const std::vector<int>& UI_ScatterplotWidget::selectedIndices() const
{
    return m_renderer ? m_renderer->selectedIndices() : noIndices;
}

void UI_ScatterplotWidget::filesReopened()
{
    // The panel's signals hand the new flags and colours over.
    const std::vector<int> moved = m_samplePanel->followRegistry();
    withRenderer([&moved](PointRenderer& renderer) { renderer.renumberFiles(moved); });
}

void UI_ScatterplotWidget::setSampleSources(const std::vector<bool>* selection,
                                            const std::vector<unsigned char>* colors)
{
    m_sampleSelection = selection;
    m_sampleColors = colors;
    sampleSelectionUpdated();
    sampleColorsUpdated();
}

// ---- Slots forwarding to the renderer ---------------------------------------------------

void UI_ScatterplotWidget::colormapChanged(int index)
{
    editLook([index](PointRenderer::Look& look) { look.setColormap(index); });
}

void UI_ScatterplotWidget::colormapdiscreteChanged(bool discrete)
{
    editLook([discrete](PointRenderer::Look& look) { look.setColormapDiscrete(discrete); });
}

void UI_ScatterplotWidget::pointSizeChanged(float size)
{
    editLook([size](PointRenderer::Look& look) { look.pointSize = size; });
}

void UI_ScatterplotWidget::pointOpacityChanged(float opacity)
{
    editLook([opacity](PointRenderer::Look& look) { look.pointOpacity = opacity; });
}

void UI_ScatterplotWidget::pointHaloSizeChanged(float size)
{
    editLook([size](PointRenderer::Look& look) { look.haloSize = size; });
}

void UI_ScatterplotWidget::sampleSelectionUpdated()
{
    withRenderer([this](PointRenderer& renderer) { renderer.setSampleSelection(m_sampleSelection); });
}

void UI_ScatterplotWidget::sampleColorsUpdated()
{
    withRenderer([this](PointRenderer& renderer) { renderer.setSampleColors(m_sampleColors); });
}

void UI_ScatterplotWidget::setMsGrid(int res)
{
    if (res <= 0)
        return;
    editLook([res](PointRenderer::Look& look) { look.msGridSize = static_cast<unsigned>(res); });
}

void UI_ScatterplotWidget::setOtfClustering(int on)
{
    editLook([on](PointRenderer::Look& look) { look.otfClustering = on; });
}

void UI_ScatterplotWidget::cluster()
{
    withRenderer([](PointRenderer& renderer) { renderer.cluster(); });
}

void UI_ScatterplotWidget::computationStarted()
{
    m_spinner->show();
    m_settingsSlider->setComputing(true);
}

void UI_ScatterplotWidget::computationMilestoneReached()
{
    withRenderer([](PointRenderer& renderer) { renderer.renderPreviews(); });
}

void UI_ScatterplotWidget::computationFinished()
{
    m_spinner->hide();
    m_settingsSlider->setComputing(false);
}

void UI_ScatterplotWidget::setMode(int densityMode)
{
    m_densityMode = densityMode;
    editLook([this](PointRenderer::Look& look) { look.renderMode = m_densityMode != 0 ? 3 : m_pointBasedMode; });
    const size_t slot = m_look.modeSlot();
    m_colormapPicker->setActiveColormap(m_look.colormap[slot], m_look.colormapDiscrete[slot]);
}

void UI_ScatterplotWidget::setDarkMode(bool dark)
{
    editLook([dark](PointRenderer::Look& look) { look.darkMode = dark; });
    m_colormapPicker->setDarkMode(dark);
}

void UI_ScatterplotWidget::setPointBasedMode(int mode)
{
    m_pointBasedMode = mode;
    editLook([mode](PointRenderer::Look& look) { look.renderMode = mode; });
}

void UI_ScatterplotWidget::setMarker(int index)
{
    editLook([index](PointRenderer::Look& look) { look.marker = index < 0 ? -1 : index; });
    showMarkerRange();
}

template <class Edit>
void UI_ScatterplotWidget::editColourRange(Edit edit)
{
    // The points pass reads the range at every frame: no upload.
    withRenderer([this, edit](PointRenderer& renderer) {
        auto& ranges = renderer.getMarkerMinMax();
        if (m_look.marker >= 0 && m_look.marker < static_cast<int>(ranges.size()))
            edit(ranges[static_cast<size_t>(m_look.marker)]);
    });
}

void UI_ScatterplotWidget::setLowerMarkerBoundary(float value)
{
    editColourRange([value](PointRenderer::Range& range) { range.first = value; });
}

void UI_ScatterplotWidget::setUpperMarkerBoundary(float value)
{
    editColourRange([value](PointRenderer::Range& range) { range.second = value; });
}

void UI_ScatterplotWidget::setMarkerSpan(float lower, float upper)
{
    editColourRange([lower, upper](PointRenderer::Range& range) { range = PointRenderer::Range(lower, upper); });
}

void UI_ScatterplotWidget::setSaturation(float saturation)
{
    editLook([saturation](PointRenderer::Look& look) { look.saturation = saturation; });
}

void UI_ScatterplotWidget::setSigma(float sigma)
{
    editLook([sigma](PointRenderer::Look& look) { look.sigma = sigma; });
}

void UI_ScatterplotWidget::reclusterWithSigma(float sigma)
{
    setSigma(sigma);
    // A level's exploration node shows its clusters: they are drawn anew.
    if (hsneLevel() != nullptr)
        withRenderer([](PointRenderer& renderer) { renderer.renderPreviews(); });
}

MCV_HsneAnalysis* UI_ScatterplotWidget::hsneLevel() const
{
    if (m_analysis == nullptr || m_analysis->analysisType() != MCV_AnalysisTypeHsne)
        return nullptr;
    return dynamic_cast<MCV_HsneAnalysis*>(m_analysis);
}

void UI_ScatterplotWidget::setAdvancedMode(int mode)
{
    editLook([mode](PointRenderer::Look& look) { look.advancedMode = mode; });
}

void UI_ScatterplotWidget::menuShown()
{
    m_contextMenuOpen = true;
}

void UI_ScatterplotWidget::menuHidden()
{
    m_contextMenuOpen = false;
}

// ---- Mouse and keys ------------------------------------------------------------------

QPoint UI_ScatterplotWidget::fromBottom(QPoint widgetPosition) const
{
    return QPoint(widgetPosition.x(), height() - widgetPosition.y());
}

QPoint UI_ScatterplotWidget::rendererPixel(QPoint position) const
{
    return QPoint(static_cast<int>(position.x() * m_pixelRatio), static_cast<int>(position.y() * m_pixelRatio));
}

void UI_ScatterplotWidget::mousePressEvent(QMouseEvent* event)
{
    m_pressPosition = fromBottom(event->pos());
    if (event->button() == Qt::LeftButton && !m_contextMenuOpen && m_renderer) {
        m_dragging = true;
        const QPoint press = rendererPixel(m_pressPosition);
        m_renderer->beginRectSelect();
        m_renderer->rectSelect(press.x(), press.y(), press.x(), press.y(), selectionMode(event->modifiers()));
        m_renderer->setShowSelectionRect(true);
        update();
    } else if (event->button() == Qt::RightButton) {
        emit rightClick(event->pos());
    }
}

void UI_ScatterplotWidget::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_renderer || m_contextMenuOpen)
        return;
    const QPoint current = rendererPixel(fromBottom(event->pos()));
    if (event->buttons() != Qt::NoButton) {
        if (!m_dragging)
            return;
        const QPoint press = rendererPixel(m_pressPosition);
        m_renderer->rectSelect(press.x(), press.y(), current.x(), current.y(), selectionMode(event->modifiers()));
        if (!(event->modifiers() & Qt::AltModifier))
            emit selectionUpdated();
        update();
        return;
    }
    // The panel's handle peeks out near the bottom edge.
    if (event->pos().y() > height() - 20)
        m_settingsSlider->showHandle();
    else
        m_settingsSlider->hideHandle();
    m_renderer->hoverCluster(current.x(), current.y());
}

void UI_ScatterplotWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (m_contextMenuOpen) {
        m_contextMenuOpen = false; // the release that closed the menu
        return;
    }
    if (!m_renderer || !m_dragging)
        return;
    m_dragging = false;
    m_renderer->endRectSelect();
    m_renderer->setShowSelectionRect(false);
    const QPoint release = fromBottom(event->pos());
    if (std::abs(release.x() - m_pressPosition.x()) > 1 || std::abs(release.y() - m_pressPosition.y()) > 1) {
        m_renderer->clearClusterSelection();
    } else {
        const QPoint pixel = rendererPixel(release);
        m_renderer->selectClusterAt(pixel.x(), pixel.y(), event->modifiers() == Qt::ShiftModifier);
    }
    emit selectionUpdated();
    update();
}

void UI_ScatterplotWidget::keyPressEvent(QKeyEvent* event)
{
    if (event->modifiers() != Qt::ControlModifier || !m_renderer) {
        QOpenGLWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_P: {
        UI_Settings* settings = UI_Settings::instance();
        settings->sync();
        WriteFailure failure;
        if (!takeScreenshot(settings->value("exportDefaultFilePath").toString(), true, &failure)
            && !failure.path.empty())
            showSaveFailure(this, failure);
        break;
    }
    case Qt::Key_A:
        m_renderer->selectAll();
        emit selectionUpdated();
        update();
        break;
    case Qt::Key_D:
        m_renderer->clearSelection();
        emit selectionUpdated();
        update();
        break;
    default:
        QOpenGLWidget::keyPressEvent(event);
    }
}

// ---- Context menu, cluster export, screenshots -------------------------------------------

void UI_ScatterplotWidget::showContextMenu(QPoint position)
{
    if (!m_renderer)
        return;
    // The zoom actions belong to hierarchical levels above their first scale.
    MCV_HsneAnalysis* level = hsneLevel();
    const bool zoomable = level != nullptr && level->scale() > 0;
    const std::string clusters = m_renderer->saveClusters();
    const QPoint press = rendererPixel(m_pressPosition);
    const int clusterUnderPress = clusters.empty() ? -1 : m_renderer->clusterAt(press.x(), press.y());
    QMenu menu(this);
    QAction* zoomSelection = nullptr;
    QAction* zoomCluster = nullptr;
    QAction* merge = nullptr;
    QAction* save = nullptr;
    if (zoomable && !m_renderer->selectedIndices().empty())
        zoomSelection = menu.addAction("Zoom into Selection");
    if (zoomable && clusterUnderPress >= 0)
        zoomCluster = menu.addAction("Zoom into Cluster");
    if (!clusters.empty() && m_renderer->countSelectedClusters() > 1)
        merge = menu.addAction("Merge Clusters");
    if (!clusters.empty())
        save = menu.addAction("Save Clusters");
    if (menu.actions().isEmpty())
        return;
    m_contextMenuOpen = true;
    QAction* chosen = menu.exec(mapToGlobal(position));
    if (chosen == nullptr)
        return;
    if (chosen == zoomSelection) {
        emit drillIntoSelectionClicked();
    } else if (chosen == zoomCluster) {
        emit drillIntoClusterClicked(clusters, clusterUnderPress);
    } else if (chosen == merge) {
        withRenderer([](PointRenderer& renderer) { renderer.mergeClusters(); });
        // The menu ran its own event loop: the level may be gone.
        if (MCV_HsneAnalysis* shown = hsneLevel()) {
            shown->drillIntoCluster(clusters);
            withRenderer([](PointRenderer& renderer) { renderer.renderPreviews(); });
        }
    } else if (chosen == save) {
        saveClusters();
    }
}

void UI_ScatterplotWidget::saveClusters()
{
    const std::string clusters = m_renderer ? m_renderer->saveClusters() : std::string();
    if (clusters.empty())
        return;
    UI_Settings* settings = UI_Settings::instance();
    settings->sync();
    QString folder = settings->value("dataExportDefaultFilePath").toString();
    if (folder.isEmpty())
        folder = QDir::homePath();
    QFileDialog dialog(this, "Save Clusters", folder, "Cytometry Files (*.fcs);;Binary File (*.bin)");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("fcs");
    // The set's name carries the analysis name a user typed.
    dialog.selectFile(QString::fromStdString(ExportFileNames::sanitize(clusters)) + ".fcs");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().first();
    settings->setValue("dataExportDefaultFilePath", QFileInfo(path).absolutePath());
    settings->sync();
    WriteFailure failure;
    if (!MCV_DataRegistry::instance()->exportClustersToFcs(clusters, path.toStdString(), &failure)) {
        qDebug().noquote() << "The clusters could not be saved to " + path + ": "
                                  + QString::fromStdString(failure.reason) + ".";
        showSaveFailure(this, failure);
    }
}

bool UI_ScatterplotWidget::takeScreenshot(const QString& folder, bool confirm, WriteFailure* failure)
{
    if (!m_renderer)
        return false;
    if (folder.isEmpty()) {
        qDebug() << "No screenshot: no export folder is set.";
        return false;
    }
    const int side = PointRenderer::defaultMaxOffscreenSize;
    std::vector<unsigned char> bytes;
    bool rendered = false;
    withRenderer([&](PointRenderer& renderer) { rendered = renderer.renderScreenshot(-1, side, bytes); }, false);
    if (!rendered)
        return false;

    std::string tag = "screenshot";
    const int marker = m_look.marker;
    if (marker < 0 && !m_markerNames.empty())
        tag = "sampleTag";
    else if (marker >= 0 && marker < static_cast<int>(m_markerNames.size()))
        tag = m_markerNames[static_cast<size_t>(marker)];
    const QString path = screenshotFilePath(folder, tag, QDateTime::currentDateTime());
    const QImage image(bytes.data(), side, side, side * 3, QImage::Format_RGB888);
    QByteArray png;
    QBuffer buffer(&png);
    const std::string file = path.toStdString();
    WriteFailure failed{file, "the image could not be encoded as PNG"};
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")
        || !ReplacingFile::writeAll(file, png.constData(), png.size(), &failed)) {
        qDebug().noquote() << "The screenshot could not be saved to " + path + ": "
                                  + QString::fromStdString(failed.reason) + ".";
        if (failure)
            *failure = failed;
        return false;
    }
    if (confirm)
        qDebug().noquote() << "\nScreenshot Saved to " + path + ".";
    return true;
}

void UI_ScatterplotWidget::takeScreenshotSeries()
{
    UI_ScreenshotDialog dialog;
    if (dialog.exec() != QDialog::Accepted)
        return;
    saveScreenshotSeries(dialog.selectedMarkers(), dialog.overrideRange(), dialog.backgroundColor(), dialog.folder());
}

void UI_ScatterplotWidget::saveScreenshotSeries(const std::vector<int>& markers, const std::vector<float>& range,
                                                const QColor& background, const QString& folder)
{
    if (!m_renderer)
        return;
    const std::vector<float> backgroundColor{static_cast<float>(background.redF()),
                                             static_cast<float>(background.greenF()),
                                             static_cast<float>(background.blueF()), 1.0f};
    m_renderer->setScreenshotParameters(range, backgroundColor);
    m_renderer->setScreenshotMode(true);
    // The renderer's marker alone changes per image (the screenshot mode
    // restores it); the look's names each file. The series ends at its
    // first image that cannot be saved: the next ones would go into the same
    // folder.
    const int shown = m_look.marker;
    WriteFailure failure;
    for (int marker : markers) {
        m_look.marker = marker;
        withRenderer([marker](PointRenderer& renderer) { renderer.setMarker(marker); }, false);
        if (!takeScreenshot(folder, false, &failure) && !failure.path.empty())
            break;
    }
    m_look.marker = shown;
    withRenderer([](PointRenderer& renderer) { renderer.setScreenshotMode(false); });
    if (!failure.path.empty())
        showSaveFailure(this, failure);
}
