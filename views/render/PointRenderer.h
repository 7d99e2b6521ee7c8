#pragma once

#include "render/DensityClusterLabeling.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class GlslProgram;
class MCV_Analysis;
class MCV_DerivedDataClusters;
class VertexAttributes;

/// An OpenGL object name (GLuint); this header stays free of GL headers so
/// widgets can include it next to Qt's OpenGL classes.
using GlName = unsigned int;

/// The OpenGL renderer of one embedding, owned by its scatterplot widget.
///
/// It keeps CPU-side copies of everything it shows (normalised positions,
/// marker matrix, selection flags, file flags and colours, colour maps) and
/// mirrors them in GL buffers, textures and framebuffers. init() builds every
/// GL object from those copies and release() deletes them all, so a widget
/// whose context is re-created (a dock floated or re-docked) calls release()
/// on the old context and init() on the new one.
///
/// Every call that issues GL commands needs the widget's context current; the
/// renderer never makes a context current itself. Calls made while there is
/// no usable context (before init, or when init found no OpenGL 3.3) only
/// change the CPU-side state.
class PointRenderer
{
public:
    /// Colour range or default boundaries of one marker: (minimum, maximum).
    using Range = std::pair<float, float>;

    /// Everything a user sets on how the embedding is drawn. The scatterplot
    /// keeps one with what its panels say and hands it over whole (setLook)
    /// to the renderer it makes and at every new context.
    struct Look
    {
        /// 0 points, 3 density.
        int renderMode = 0;
        /// Colour map and discrete flag per mode: [0] points, [1] density.
        std::array<int, 2> colormap{6, 0}; // Viridis, Spectral
        std::array<bool, 2> colormapDiscrete{false, true};
        /// The marker whose values colour the points; negative colours by file.
        int marker = 0;
        float sigma = 0.15f;
        float saturation = 0.0001f;
        float pointSize = 0.01f;
        float pointOpacity = 0.6f;
        float haloSize = 0.2f;
        int advancedMode = -1;
        int otfClustering = 0;
        bool darkMode = false;
        /// Side of the density grid.
        unsigned msGridSize = 256;

        /// The current mode's colour map slot: the density's unless the mode is 0.
        size_t modeSlot() const { return renderMode != 0 ? 1 : 0; }
        /// Sets the map of the current mode; only the points (0) and density (3)
        /// modes keep one. False, nothing changed, for an index outside the maps.
        bool setColormap(int index);
        void setColormapDiscrete(bool discrete);
    };

    /// Colour maps in picker order; the images are ":/colormaps/<name>.png".
    static const std::array<const char*, 15> colormapNames;
    /// Texels of every colour map.
    static constexpr int colormapWidth = 200;
    /// The largest offscreen image side (screenshots).
    static constexpr int defaultMaxOffscreenSize = 4096;

    PointRenderer();
    virtual ~PointRenderer();
    PointRenderer(const PointRenderer&) = delete;
    PointRenderer& operator=(const PointRenderer&) = delete;

    // ---- GL life -----------------------------------------------------------

    /// Releases whatever exists, then (given a context of OpenGL 3.3 or newer
    /// with its entry points loaded) loads and links the programs, creates
    /// every buffer, texture and framebuffer and uploads the kept data; the
    /// density is computed anew when next needed, density clusters found
    /// since the last change of the data or look are kept.
    /// Without such a context it prints one line and stays empty.
    void init();
    /// Deletes every program, shader, buffer, texture and framebuffer and
    /// zeroes their names; the CPU-side data stay for the next init().
    void release();
    /// True between an init() that found a usable context and release().
    bool isReady() const { return m_glReady; }

    bool loadPrograms();
    void compilePrograms();
    void releasePrograms();
    bool programsReady() const { return m_programsReady; }

    void createTextures();
    void createBuffers();
    void createFramebuffers();
    void recreateFramebuffers();
    void recreateBuffers();
    void releaseBuffers();
    void releaseFramebuffers();
    void releaseTextures();

    // ---- Data in -----------------------------------------------------------

    /// Takes a t-SNE analysis' or a hierarchical SNE level's embedding,
    /// markers, point count and file indices (re-read through its getters
    /// later), the level with its point scales; other types are ignored.
    void setAnalysis(MCV_Analysis* analysis, int markerCount);
    MCV_Analysis* analysis() const { return m_analysis; }
    /// Installs a new point set: positions (x, y per point) and a point-major
    /// marker matrix of the caller (read again only while their sizes fit
    /// pointCount), file index per point (null: every point in file 0).
    /// Clears the selection, re-creates the buffers and uploads everything.
    void setData(const std::vector<float>* positions, const std::vector<float>* markers, int pointCount,
                 int markerCount, const int* sampleIds, bool pointScales);
    /// Copies positions and markers again, computes the marker ranges, uploads.
    void uploadData();
    /// After every iteration of a running embedding: normalises the positions
    /// into the existing positions buffer. Nothing else is re-created or copied.
    void refreshEmbedding();
    void uploadPositions();
    void uploadAllData();

    /// The marker whose values colour the points; negative colours by file.
    void setMarker(int index);
    int marker() const { return m_look.marker; }
    void uploadMarkerValues();
    /// Per marker: the colour range the points pass reads at every draw (the
    /// widget edits it in place) and the default slider boundaries.
    std::vector<Range>& getMarkerMinMax() { return m_markerMinMax; }
    std::vector<Range>& getMarkerBoundaries() { return m_markerBoundaries; }

    /// File selection of the sample panel (one bit per file); the per-file
    /// active flags follow it. The same selection again keeps the density.
    void setSampleSelection(const std::vector<bool>* selection);
    /// File colours of the sample panel (red, green, blue bytes per file).
    void setSampleColors(const std::vector<unsigned char>* colors);
    /// The files were reopened: every point's kept file index i becomes
    /// newIndex[i]; a point of a file no longer loaded (-1, or an index
    /// beyond the list) is not drawn. The new files' flags and colours come
    /// with the next setSampleSelection and setSampleColors.
    void renumberFiles(const std::vector<int>& newIndex);

    /// Selection flags (one per point) of the caller; null keeps the current
    /// selection. Without the index-list flag the selected indices become
    /// the points whose flag is set; with it the selected indices are shown.
    void setSelection(const std::vector<uint16_t>* flags, bool useIndexList);
    void uploadSelection(bool useIndexList);
    /// Every point / no point becomes selected; nothing is uploaded.
    std::vector<int>& selectAll();
    std::vector<int>& clearSelection();
    std::vector<int>& selectedIndices() { return m_selectedIndices; }

    // ---- Settings ----------------------------------------------------------

    /// Binds the target framebuffer and keeps the view's size.
    void setViewport(unsigned width, unsigned height, GlName targetFramebuffer);
    void setMVP(const float* columnMajor16);
    /// Takes every setting of the look that differs from the current one,
    /// each through its setter below (uploads, dirty density).
    void setLook(const Look& look);
    /// 0 points, 3 density.
    void setRenderMode(int mode);
    int renderMode() const { return m_look.renderMode; }
    void setColormap(int index);
    void setColormapDiscrete(bool discrete);
    int getColormap() const;
    bool isColormapDiscrete() const;
    void setPointSize(float size) { m_look.pointSize = size; }
    void setPointOpacity(float opacity) { m_look.pointOpacity = opacity; }
    void setPointHaloSize(float size) { m_look.haloSize = size; }
    float pointSize() const { return m_look.pointSize; }
    float pointOpacity() const { return m_look.pointOpacity; }
    float pointHaloSize() const { return m_look.haloSize; }
    void setAdvancedMode(int mode) { m_look.advancedMode = mode; }
    void setSigma(float sigma);
    void setSaturation(float saturation);
    void setMsGridSize(unsigned res);
    unsigned msGridSize() const { return m_look.msGridSize; }
    void setOtfClustering(int on);
    void setDarkMode(bool dark);
    void setShowSelectionRect(bool show) { m_showSelectionRect = show; }
    void setScreenshotParameters(const std::vector<float>& range, const std::vector<float>& background);
    void setScreenshotMode(bool on);

    // ---- Passes --------------------------------------------------------------

    /// One frame into the target framebuffer: the offscreen passes that the
    /// shown mode or on-the-fly clustering needs, the points or the density,
    /// then the selection rectangle.
    void render(GlName targetFramebuffer);
    /// Splats every shown point's kernel into the density grid and reads it back.
    void computeDensity();
    /// Density gradient of every grid cell.
    void computeGradient();
    /// Every cell's uphill walk, read back and labelled into density clusters.
    void computeMeanShift();
    void computeDensityClusters();
    /// size <= 0: into the view square of the bound framebuffer; else into (0, 0, size, size).
    void drawPoints(int size);
    void drawDensity(int size);
    void drawSelectionRect();

    // ---- Density clusters and selection (pixels: x from the left, y from the
    // ---- bottom, in framebuffer pixels) ----------------------------------------

    /// One clustering now, whatever the on-the-fly setting.
    void cluster();
    /// The cluster under a pixel; -1 when the clusters are dirty or missing
    /// or the pixel is outside the view square.
    int clusterAt(int x, int y) const;
    /// The active cluster follows the cursor; the set's highlight follows it.
    void hoverCluster(int x, int y);
    /// Toggles the cluster under the pixel (the others cleared unless
    /// additive); the selection becomes the selected clusters' points.
    std::vector<int>& selectClusterAt(int x, int y, bool additive);
    /// A drag starts: adding and removing rectangles apply to the selection
    /// as it is now, so a drag adds or removes its last rectangle only.
    void beginRectSelect();
    void endRectSelect();
    /// Mode 0 replaces the selection with the points inside, 1 adds them, 2
    /// removes them. Nothing changes for a rectangle outside the unit square.
    std::vector<int>& rectSelect(int x0, int y0, int x1, int y1, int mode);
    /// After the renderer's clusters set changed (merges): cells of merged
    /// clusters share their id. Other sets are ignored.
    void updateClusters(MCV_DerivedDataClusters* clusters);
    void setActiveCluster(MCV_DerivedDataClusters* clusters);
    /// Name of the density clusters set; empty without one or while dirty.
    std::string saveClusters() const;
    void mergeClusters();
    int countSelectedClusters() const;
    void clearClusterSelection();
    /// The latest density clusters set, or null (also once files were reopened).
    MCV_DerivedDataClusters* densityClusters() const;
    int activeCluster() const { return m_activeCluster; }

    // ---- Offscreen images ------------------------------------------------------

    /// Three images (768, 384, 192 pixels, cluster colours) for the analysis.
    void renderPreviews();
    /// Draws the view at size x size into the screenshot framebuffer (mode 0
    /// points, 3 density); virtual so that tests see each offscreen image.
    virtual void drawOffscreen(int mode, int size);
    /// RGB bytes, bottom row first, of a size x size image of the view (mode
    /// -1: the shown one); false (output untouched) beyond the largest size
    /// or without a screenshot framebuffer.
    bool renderScreenshot(int mode, int size, std::vector<unsigned char>& output);
    /// Takes effect when the framebuffers are next made.
    void setMaxOffscreenSize(int size) { m_maxOffscreenSize = size; }
    const std::array<std::vector<unsigned char>, 3>& previewImages() const { return m_previewImages; }

    // ---- State for views and tests -------------------------------------------

    int pointCount() const { return m_pointCount; }
    int markerCount() const { return m_markerCount; }
    bool densityDirty() const { return m_densityDirty; }
    bool clustersDirty() const { return m_clustersDirty; }
    /// x, y per point in the unit square ([0.1, 0.9] along the longer side);
    /// non-finite where the embedding is.
    const std::vector<float>& normalizedPositions() const { return m_normalizedPositions; }
    const std::vector<unsigned>& drawOrder() const { return m_drawOrder; }
    const std::vector<float>& activeMarkerValues() const { return m_activeMarkerValues; }
    const std::vector<uint16_t>& selectionFlags() const { return m_selectionFlags; }
    const std::vector<int>& activeSamples() const { return m_activeSamples; }
    /// Per point: its landmark's weight for the shown files (-1: none shown).
    const std::vector<float>& pointScales() const { return m_pointScales; }
    bool pointScalesInUse() const { return m_pointScalesInUse; }
    float maxDensity() const { return m_maxDensity; }
    /// The density and mean-shift grids as last read back: res x res x 3
    /// floats, row by row from the bottom.
    const std::vector<float>& densityReadback() const { return m_densityReadback; }
    const std::vector<float>& meanShiftReadback() const { return m_meanShiftReadback; }
    /// Cluster id of every grid cell (-1: none).
    const std::vector<int>& clusterIdImage() const { return m_clusterIdImage; }
    const std::vector<float>& clusterCentres() const { return m_clusterCentres; }
    const DensityClusterLabeling& labeling() const { return m_labeling; }
    bool showsSelectionRect() const { return m_showSelectionRect; }
    /// RGB bytes of colour map i (200 texels).
    const std::vector<unsigned char>& colormapImage(int index) const { return m_colormaps[index]; }
    /// 8-bit RGB bytes of an image resource; a grey ramp (and a line) unless
    /// it is 200 x 1.
    static std::vector<unsigned char> loadColormapImage(const std::string& path);
    /// The splat kernel: 32 x 32 floats, row by row.
    static std::vector<float> gaussianKernel();

    /// Every GL name the renderer holds, by kind (0 = not created).
    struct GlNames
    {
        std::vector<GlName> buffers;
        std::vector<GlName> textures;
        std::vector<GlName> framebuffers;
        GlName vertexArray = 0;
        std::vector<GlName> programs;
        std::vector<GlName> shaders;
    };
    GlNames glNames() const;

private:
    /// Programs in the order they are loaded.
    enum Program
    {
        SimplePointsMarkersProgram,
        SingleColorProgram,
        SimplePointsProgram,
        DensityProgram,
        DensityOffscreenProgram,
        GradientProgram,
        MeanShiftProgram,
        ProgramCount
    };

    /// OpenGL 3.3 with the entry points the renderer calls.
    static bool contextUsable();

    /// The positions to read: the analysis' current buffer through its
    /// getter, else the caller's; null unless it holds 2 N values.
    const std::vector<float>* positionsSource() const;
    const std::vector<float>* markersSource() const;
    const int* sampleIdsSource() const;
    /// The keys of the files the analysis' sample indices number when those
    /// are not the files loaded now; null when they are, or without an analysis.
    const std::vector<std::string>* formerSampleKeys() const;
    /// Every kept file index i becomes newIndex[i], -1 when there is none.
    void renumberSampleIds(const std::vector<int>& newIndex);
    /// Normalises source into the kept positions; true when all are finite.
    bool normalizePositions(const std::vector<float>& source);
    void computeMarkerRanges();
    /// The caller's selection flags into the kept flags, N of them.
    void copyCallerSelection();
    void extractMarkerValues();
    void checkMarkerCopySize(const char* label) const;

    void createColormapTexture();
    void createGaussianKernelTexture();
    void createActiveSampleTexture();
    void createSampleColorTexture();
    void updateColormapTexture();
    void updateActiveSampleTexture();
    void updateSampleColorTexture();
    void uploadScales();
    /// The point scales of a hierarchical SNE level for the shown files;
    /// off at scale 0, after a reopen and without a positive finite weight.
    void computePointScales();
    void uploadSampleIds();
    /// Creates a float texture of the density grid; returns its name.
    GlName createGridTexture(int internalFormat, unsigned format, unsigned type, int filter, const void* data);
    bool createDensityFramebuffer(int internalFormat);
    void createScreenshotFramebuffer();

    // Pass helpers.
    void setClearColor(const std::array<float, 4>& color);
    void setViewportFor(int size);
    /// Binds the density framebuffer for drawing into one attachment, cleared;
    /// false when there is none.
    bool beginGridPass(unsigned attachment);
    void endGridPass();
    void readBackGrid(unsigned attachment, std::vector<float>& values);
    void drawUnitQuad(GlslProgram& program);
    void bindSampleIds(VertexAttributes& attributes);
    float pointScaleFactor() const;
    void uploadClusterImages();
    /// After a new context: the kept clusters' centres, cell ids and modes
    /// into the new buffer and textures.
    void restoreClusterGrids();
    /// A pixel in the view square as unit-square coordinates; false outside.
    bool viewSquarePixel(int x, int y, float& squareX, float& squareY) const;
    void readOffscreen(int size, std::vector<unsigned char>& output);

    // Programs.
    std::array<std::unique_ptr<GlslProgram>, ProgramCount> m_programs;
    bool m_programsReady = false;
    bool m_glReady = false;

    // View.
    Look m_look;
    std::array<float, 16> m_mvp{};
    unsigned m_viewWidth = 100;
    unsigned m_viewHeight = 100;
    unsigned m_squareSide = 100;
    float m_aspectRatio = 1.0f;
    GlName m_targetFramebuffer = 0;

    // GL names.
    GlName m_vertexArray = 0;
    GlName m_positionsBuffer = 0;
    GlName m_drawOrderBuffer = 0;
    GlName m_centresBuffer = 0;
    GlName m_quadBuffer = 0;
    GlName m_rectangleBuffer = 0;
    GlName m_markerBuffer = 0;
    GlName m_selectionBuffer = 0;
    GlName m_scaleBuffer = 0;
    GlName m_sampleIdBuffer = 0;
    GlName m_activeSampleTexture = 0;
    GlName m_colormapTexture = 0;
    GlName m_sampleColorTexture = 0;
    GlName m_gaussTexture = 0;
    GlName m_clusterIdTexture = 0;
    GlName m_densityFramebuffer = 0;
    std::array<GlName, 3> m_densityTextures{}; // density, gradient, mean-shift
    GlName m_screenshotFramebuffer = 0;
    GlName m_screenshotTexture = 0;
    bool m_densityFramebufferUsable = false;
    bool m_screenshotFramebufferUsable = false;

    std::vector<std::vector<unsigned char>> m_colormaps;

    // Density grid (its side is the look's) and clusters.
    std::vector<float> m_densityReadback;
    std::vector<float> m_meanShiftReadback;
    std::vector<float> m_clusterCentres;
    std::vector<int> m_clusterIdImage;
    std::vector<int> m_pixelModeImage;
    bool m_densityDirty = true;
    bool m_clustersDirty = true;
    float m_maxDensity = 0.0f;
    DensityClusterLabeling m_labeling;

    // Points.
    MCV_Analysis* m_analysis = nullptr;
    const std::vector<float>* m_callerPositions = nullptr;
    const std::vector<float>* m_callerMarkers = nullptr;
    const int* m_callerSampleIds = nullptr;
    std::vector<float> m_normalizedPositions;
    bool m_positionsFinite = true;
    // What the positions buffer holds while some position is not finite.
    std::vector<float> m_drawnPositions;
    std::vector<float> m_markers;
    int m_markerRowWidth = 0;
    std::vector<Range> m_markerMinMax;
    std::vector<Range> m_markerBoundaries;
    const std::vector<uint16_t>* m_callerSelection = nullptr;
    std::vector<uint16_t> m_selectionFlags;
    std::vector<float> m_activeMarkerValues;
    std::vector<float> m_pointScales;
    bool m_hasSampleIds = false;
    std::vector<int> m_sampleIds;
    const std::vector<bool>* m_callerSampleSelection = nullptr;
    std::vector<bool> m_sampleSelection;
    std::vector<int> m_activeSamples;
    const std::vector<unsigned char>* m_callerSampleColors = nullptr;
    std::vector<unsigned char> m_sampleColors;
    bool m_pointScalesInUse = false;
    float m_pointScaleMax = -1.0f;
    int m_markerCount = 0;
    int m_pointCount = 0;
    std::vector<unsigned> m_drawOrder;

    // Clear colours: the view's follows the look's dark mode.
    std::array<float, 4> m_clearColor{252.0f / 255.0f, 252.0f / 255.0f, 252.0f / 255.0f, 1.0f};
    std::array<float, 4> m_densityClearColor{0.0f, 0.0f, 0.0f, 0.0f};
    bool m_showSelectionRect = false;

    std::array<int, 6> m_rectPixels{};  // min x, min y, max x, max y, width, height
    std::array<float, 4> m_rectUnit{}; // min x, min y, max x, max y
    std::vector<int> m_selectedIndices;
    std::vector<int> m_pressSelection;
    bool m_rectSelecting = false;

    // The density clusters set (the registry's) and the registry it belongs to.
    MCV_DerivedDataClusters* m_densityClusters = nullptr;
    uint64_t m_clustersGeneration = 0;
    int m_activeCluster = -1;
    int m_previewFlag = 0;
    std::array<std::vector<unsigned char>, 3> m_previewImages;

    // Screenshots.
    int m_maxOffscreenSize = defaultMaxOffscreenSize;
    bool m_screenshotMode = false;
    std::vector<float> m_screenshotRange;
    std::array<float, 4> m_screenshotBackground{1.0f, 1.0f, 1.0f, 1.0f};
    int m_savedMarker = 0;
};
