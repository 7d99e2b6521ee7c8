// The stages of the marker program and the mean-shift walk, drawn on small
// hand-made buffers and textures, pixels read back.
#include "GlTarget.h"
#include "GlTestContext.h"

#include "render/GlslProgram.h"
#include "render/PointRenderer.h"

#include <algorithm>
#include <cmath>

namespace {

using Rgb = std::array<int, 3>;

/// One point of the marker program's inputs.
struct StagePoint
{
    float x = 0.5f;
    float y = 0.5f;
    float marker = 0.0f;
    int selection = 0;
    int sampleId = 0;
};

/// The uniforms of the marker program, with the renderer's defaults.
struct MarkerUniforms
{
    std::array<int, 4> dataParams{0, 0, 1, -1};
    std::array<float, 4> markerRange{0.0f, 1.0f, 1.0f, -1.0f};
    std::array<float, 4> visParams{0.15f, 1.0f, 0.0f, -1.0f};
    std::array<float, 4> colormapParams{-1.0f, 0.0f, 0.0f, 0.0f};
};

GLuint makeTexture(GLenum target, GLint internalFormat, int width, int height, GLenum format, GLenum type,
                   const void* data, GLint filter)
{
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(target, texture);
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(target, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(target, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (target == GL_TEXTURE_1D)
        glTexImage1D(target, 0, internalFormat, width, 0, format, type, data);
    else
        glTexImage2D(target, 0, internalFormat, width, height, 0, format, type, data);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glBindTexture(target, 0);
    return texture;
}

/// Draws points with the marker program into a 64 x 64 target.
class MarkerStage
{
public:
    MarkerStage()
    {
        m_program.load("glslProgramSimplePoints_vertex", "glslProgramSimplePoints_geometry",
                       "glslProgramSimplePointsMarkers_fragment", "markers");
        m_program.compileAndLink();
        glGenVertexArrays(1, &m_vertexArray);
        glGenBuffers(1, &m_buffer);
        m_colormap = PointRenderer().colormapImage(6); // Viridis
        setClusterIds(1, {-1});
        setActiveFiles({1});
        setFileColors({0, 0, 0});
    }

    ~MarkerStage()
    {
        glDeleteTextures(1, &m_clusterTexture);
        glDeleteTextures(1, &m_activeTexture);
        glDeleteTextures(1, &m_fileTexture);
        glDeleteBuffers(1, &m_buffer);
        glDeleteVertexArrays(1, &m_vertexArray);
        m_program.release();
    }

    void setClusterIds(int side, const std::vector<int>& ids)
    {
        glDeleteTextures(1, &m_clusterTexture);
        m_clusterTexture = makeTexture(GL_TEXTURE_2D, GL_R32I, side, side, GL_RED_INTEGER, GL_INT, ids.data(),
                                       GL_NEAREST);
    }
    void setActiveFiles(const std::vector<int>& flags)
    {
        glDeleteTextures(1, &m_activeTexture);
        m_activeTexture = makeTexture(GL_TEXTURE_1D, GL_R32I, static_cast<int>(flags.size()), 1, GL_RED_INTEGER,
                                      GL_INT, flags.data(), GL_NEAREST);
    }
    void setFileColors(const std::vector<unsigned char>& rgb)
    {
        glDeleteTextures(1, &m_fileTexture);
        m_fileTexture = makeTexture(GL_TEXTURE_1D, GL_RGB8, static_cast<int>(rgb.size() / 3), 1, GL_RGB,
                                    GL_UNSIGNED_BYTE, rgb.data(), GL_NEAREST);
    }
    const std::vector<unsigned char>& colormap() const { return m_colormap; }

    /// Draws the points over a black background; the image, row 0 on top.
    QImage draw(const std::vector<StagePoint>& points, const MarkerUniforms& u, int side = 64)
    {
        GlTarget target(side, side);
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glEnable(GL_CULL_FACE);

        const GLuint colormapTexture = makeTexture(GL_TEXTURE_1D, GL_RGB8, 200, 1, GL_RGB, GL_UNSIGNED_BYTE,
                                                   m_colormap.data(), GL_LINEAR);
        m_program.bind();
        const std::vector<float> mvp = unitSquareMvp();
        m_program.setUniformMatrix4fv(m_program.uniformLocation("modelViewProjectionMatrix"), mvp.data());
        m_program.setUniform4i(m_program.uniformLocation("dataParams"), u.dataParams[0], u.dataParams[1],
                               u.dataParams[2], u.dataParams[3]);
        m_program.setUniform4fv(m_program.uniformLocation("markerRange"), u.markerRange.data());
        m_program.setUniform4fv(m_program.uniformLocation("visParams"), u.visParams.data());
        m_program.setUniform4fv(m_program.uniformLocation("colormapParams"), u.colormapParams.data());
        m_program.setUniform1i(m_program.uniformLocation("flipY"), 0);
        const bool byFile = u.dataParams[1] < 0;
        bindTexture(0, GL_TEXTURE_1D, byFile ? m_fileTexture : colormapTexture, "colormapSampler");
        bindTexture(1, GL_TEXTURE_2D, m_clusterTexture, "clusterIdSampler");
        bindTexture(2, GL_TEXTURE_1D, m_activeTexture, "activeSampleSampler");

        glBindVertexArray(m_vertexArray);
        glBindBuffer(GL_ARRAY_BUFFER, m_buffer);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(points.size() * sizeof(StagePoint)), points.data(),
                     GL_STATIC_DRAW);
        const GLsizei stride = sizeof(StagePoint);
        floatAttribute("position", 2, stride, offsetof(StagePoint, x));
        floatAttribute("markerBuffer", 1, stride, offsetof(StagePoint, marker));
        intAttribute("selectionBuffer", stride, offsetof(StagePoint, selection));
        intAttribute("sampleIdBuffer", stride, offsetof(StagePoint, sampleId));
        const GLint scale = m_program.attributeLocation("scaleBuffer");
        if (scale >= 0)
            glVertexAttrib1f(static_cast<GLuint>(scale), 1.0f);
        glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(points.size()));
        glBindVertexArray(0);
        m_program.unbind();
        glDeleteTextures(1, &colormapTexture);
        return target.image();
    }

private:
    void bindTexture(int unit, GLenum target, GLuint texture, const char* sampler)
    {
        glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
        glBindTexture(target, texture);
        m_program.setUniform1i(m_program.samplerLocation(sampler), unit);
        glActiveTexture(GL_TEXTURE0);
    }
    void floatAttribute(const char* name, int components, GLsizei stride, size_t offset)
    {
        const GLuint location = static_cast<GLuint>(m_program.attributeLocation(name));
        glEnableVertexAttribArray(location);
        glVertexAttribPointer(location, components, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<void*>(offset));
    }
    void intAttribute(const char* name, GLsizei stride, size_t offset)
    {
        const GLuint location = static_cast<GLuint>(m_program.attributeLocation(name));
        glEnableVertexAttribArray(location);
        glVertexAttribIPointer(location, 1, GL_INT, stride, reinterpret_cast<void*>(offset));
    }

    GlslProgram m_program;
    GLuint m_vertexArray = 0;
    GLuint m_buffer = 0;
    GLuint m_clusterTexture = 0;
    GLuint m_activeTexture = 0;
    GLuint m_fileTexture = 0;
    std::vector<unsigned char> m_colormap;
};

Rgb pixelAt(const QImage& image, float x, float y)
{
    const int side = image.width();
    const QRgb c = image.pixel(static_cast<int>(x * side), side - 1 - static_cast<int>(y * side));
    return {qRed(c), qGreen(c), qBlue(c)};
}

Rgb texel(const std::vector<unsigned char>& rgb, int i)
{
    return {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]};
}

/// A linear 1-D texture of 200 texels sampled at t.
Rgb sampled(const std::vector<unsigned char>& rgb, float t)
{
    const float u = std::clamp(t * 200.0f - 0.5f, 0.0f, 199.0f);
    const int i0 = static_cast<int>(u);
    const int i1 = std::min(i0 + 1, 199);
    const float w = u - static_cast<float>(i0);
    Rgb result;
    for (int c = 0; c < 3; ++c)
        result[c] = static_cast<int>(std::lround(rgb[3 * i0 + c] * (1 - w) + rgb[3 * i1 + c] * w));
    return result;
}

bool near(const Rgb& a, const Rgb& b, int tolerance = 1)
{
    for (int c = 0; c < 3; ++c)
        if (std::abs(a[c] - b[c]) > tolerance)
            return false;
    return true;
}

std::string text(const Rgb& c)
{
    return "(" + std::to_string(c[0]) + ", " + std::to_string(c[1]) + ", " + std::to_string(c[2]) + ")";
}

/// Width in pixels of the drawn run through (x, y) along the row, within a
/// quarter of the image of x.
int spanAt(const QImage& image, float x, float y)
{
    const int side = image.width();
    const int row = side - 1 - static_cast<int>(y * side);
    int width = 0;
    for (int column = 0; column < side; ++column)
        if (qRed(image.pixel(column, row)) + qGreen(image.pixel(column, row)) + qBlue(image.pixel(column, row)) > 0
            && std::abs(column - static_cast<int>(x * side)) < side / 4)
            ++width;
    return width;
}

using ShaderStagesTest = GlTest;

} // namespace

TEST_P(ShaderStagesTest, MarkerValuesMapOntoTheColourRange)
{
    MarkerStage stage;
    MarkerUniforms u;
    u.markerRange = {2.0f, 6.0f, 4.0f, -1.0f};
    const float inside = 2.0f + 4.0f * (120.5f / 200.0f); // the centre of texel 120
    const std::vector<StagePoint> points{
        {0.2f, 0.2f, 2.0f}, {0.5f, 0.2f, -50.0f}, {0.8f, 0.2f, 99.0f}, {0.2f, 0.7f, inside}};
    const QImage image = stage.draw(points, u);
    const auto& map = stage.colormap();
    EXPECT_EQ(pixelAt(image, 0.2f, 0.2f), texel(map, 0)) << "at the minimum";
    EXPECT_EQ(pixelAt(image, 0.5f, 0.2f), texel(map, 0)) << "below";
    EXPECT_EQ(pixelAt(image, 0.8f, 0.2f), texel(map, 199)) << "above";
    EXPECT_TRUE(near(pixelAt(image, 0.2f, 0.7f), texel(map, 120))) << text(pixelAt(image, 0.2f, 0.7f));
    EXPECT_EQ(pixelAt(image, 0.5f, 0.7f), (Rgb{0, 0, 0})) << "background";

    // A constant marker (no span) takes the first colour.
    u.markerRange = {3.0f, 3.0f, 0.0f, -1.0f};
    const QImage constant = stage.draw({{0.5f, 0.5f, 3.0f}}, u);
    EXPECT_EQ(pixelAt(constant, 0.5f, 0.5f), texel(map, 0));
}

TEST_P(ShaderStagesTest, DiscreteModeShowsElevenBands)
{
    MarkerStage stage;
    MarkerUniforms u;
    u.colormapParams[0] = 1.0f;
    u.visParams[0] = 0.06f;
    std::vector<StagePoint> points;
    for (int i = 0; i < 22; ++i) // two values in each of the 11 bands
        points.push_back({0.08f + 0.2f * static_cast<float>(i % 5), 0.08f + 0.2f * static_cast<float>(i / 5),
                          (static_cast<float>(i) + 0.5f) / 22.0f});
    const QImage image = stage.draw(points, u);
    std::vector<Rgb> seen;
    for (int i = 0; i < 22; ++i) {
        const Rgb color = pixelAt(image, points[i].x, points[i].y);
        const Rgb expected = sampled(stage.colormap(), static_cast<float>(i / 2) / 10.0f);
        EXPECT_TRUE(near(color, expected)) << i << ": " << text(color) << " vs " << text(expected);
        if (std::find(seen.begin(), seen.end(), color) == seen.end())
            seen.push_back(color);
    }
    EXPECT_EQ(seen.size(), 11u);
}

TEST_P(ShaderStagesTest, FilesKeepTheirColoursAndInactiveFilesVanish)
{
    MarkerStage stage;
    std::vector<unsigned char> colors;
    std::vector<int> active(20, 1);
    for (int f = 0; f < 20; ++f)
        colors.insert(colors.end(), {static_cast<unsigned char>(10 * f + 5), static_cast<unsigned char>(250 - 9 * f),
                                     static_cast<unsigned char>(f % 2 ? 200 : 40)});
    active[7] = 0;
    stage.setFileColors(colors);
    stage.setActiveFiles(active);
    MarkerUniforms u;
    u.dataParams = {0, -1, 20, -1};
    u.colormapParams[0] = 1.0f; // discrete mode must not step file colours
    u.visParams[0] = 0.05f;
    std::vector<StagePoint> points;
    for (int f = 0; f < 21; ++f) // file 20 has no flag
        points.push_back({0.1f + 0.2f * static_cast<float>(f % 5), 0.1f + 0.2f * static_cast<float>(f / 5), 0.0f, 0, f});
    const QImage image = stage.draw(points, u);
    for (int f = 0; f < 21; ++f) {
        const Rgb color = pixelAt(image, points[f].x, points[f].y);
        const Rgb expected = (f == 7 || f == 20) ? Rgb{0, 0, 0} : texel(colors, f);
        EXPECT_EQ(color, expected) << "file " << f;
    }
}

TEST_P(ShaderStagesTest, HaloShowsTheSelectionOnly)
{
    MarkerStage stage;
    MarkerUniforms u;
    u.visParams = {0.3f, 1.0f, 0.5f, -1.0f}; // half size 0.3 clip = 9.6 pixels; halo: the outer half
    const QImage image = stage.draw({{0.25f, 0.5f, 0.5f, 255}, {0.75f, 0.5f, 0.5f, 0}}, u);
    const float ring = 0.3f * 0.75f / 2.0f; // three quarters out, in unit-square units
    const Rgb selectedRing = pixelAt(image, 0.25f + ring, 0.5f);
    const Rgb halo{static_cast<int>(std::lround(0.235 * 0.75 * 255)), static_cast<int>(std::lround(0.588 * 0.75 * 255)),
                   static_cast<int>(std::lround(0.98 * 0.75 * 255))};
    EXPECT_TRUE(near(selectedRing, halo)) << text(selectedRing);
    EXPECT_EQ(pixelAt(image, 0.75f + ring, 0.5f), (Rgb{0, 0, 0}));
    // The core keeps the marker colour for both.
    EXPECT_TRUE(near(pixelAt(image, 0.75f, 0.5f), sampled(stage.colormap(), 0.5f)));
}

TEST_P(ShaderStagesTest, ActiveClusterGrowsAndClusterColouring)
{
    MarkerStage stage;
    // A 2 x 2 grid of ids: the left column is cluster 1, the right one cluster 0.
    stage.setClusterIds(2, {1, 0, 1, 0});
    MarkerUniforms u;
    u.dataParams = {2, 0, 1, 1};
    u.visParams[0] = 0.2f;
    const QImage image = stage.draw({{0.25f, 0.5f, 0.5f}, {0.75f, 0.5f, 0.5f}}, u, 256);
    const double ratio = static_cast<double>(spanAt(image, 0.25f, 0.5f)) / spanAt(image, 0.75f, 0.5f);
    EXPECT_NEAR(ratio, 1.35, 0.04);

    // Cluster colouring: hue id / count at saturation 0.5; grey outside every cluster.
    u.dataParams = {2, 0, 1, -1};
    u.visParams = {0.2f, 1.0f, 0.0f, 0.0f};
    const QImage clusters = stage.draw({{0.25f, 0.5f}, {0.75f, 0.5f}}, u);
    EXPECT_TRUE(near(pixelAt(clusters, 0.25f, 0.5f), Rgb{128, 255, 255})) << text(pixelAt(clusters, 0.25f, 0.5f));
    EXPECT_TRUE(near(pixelAt(clusters, 0.75f, 0.5f), Rgb{255, 128, 128})) << text(pixelAt(clusters, 0.75f, 0.5f));
    stage.setClusterIds(2, {-1, -1, -1, -1});
    const QImage none = stage.draw({{0.25f, 0.5f}}, u);
    EXPECT_TRUE(near(pixelAt(none, 0.25f, 0.5f), Rgb{128, 128, 128}));
}

TEST_P(ShaderStagesTest, MeanShiftWalksToThePeakAndStopsOnFlatGround)
{
    // Gradient fields on a 32 x 32 grid: toward a peak (linear, so bilinear
    // lookups are exact), zero in the right quarter.
    const int res = 32;
    const float peakX = 10.3f / res;
    const float peakY = 17.6f / res;
    std::vector<float> gradient(static_cast<size_t>(res) * res * 3, 0.0f);
    for (int j = 0; j < res; ++j)
        for (int i = 0; i < res * 3 / 4; ++i) {
            float* g = &gradient[(static_cast<size_t>(j) * res + i) * 3];
            g[0] = peakX - (i + 0.5f) / res;
            g[1] = peakY - (j + 0.5f) / res;
        }
    const GLuint texture = makeTexture(GL_TEXTURE_2D, GL_RGB32F, res, res, GL_RGB, GL_FLOAT, gradient.data(), GL_LINEAR);
    GlslProgram program;
    program.load("glslProgramBasicGL_vertex", "", "glslProgramMeanShiftOffscreen_fragment", "meanShift");
    program.compileAndLink();
    GlTarget target(res, res, true);
    glDisable(GL_BLEND);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    program.bind();
    program.setUniformMatrix4fv(program.uniformLocation("modelViewProjectionMatrix"), unitSquareMvp().data());
    program.setUniform4f(program.uniformLocation("renderParams"), 0.25f, 0.0f, 1.0f / res, 1.0f / res);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture);
    program.setUniform1i(program.samplerLocation("gradientSampler"), 0);
    const float quad[] = {0, 1, 0, 0, 1, 1, 1, 0};
    GLuint vertexArray = 0, buffer = 0;
    glGenVertexArrays(1, &vertexArray);
    glBindVertexArray(vertexArray);
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof(quad), quad, GL_STATIC_DRAW);
    const GLuint position = static_cast<GLuint>(program.attributeLocation("position"));
    glEnableVertexAttribArray(position);
    glVertexAttribPointer(position, 2, GL_FLOAT, GL_FALSE, 0, nullptr);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    const std::vector<float> result = target.floats();

    int walked = 0;
    for (int j = 0; j < res; ++j)
        for (int i = 0; i < res; ++i) {
            const float* p = &result[(static_cast<size_t>(j) * res + i) * 4];
            ASSERT_TRUE(std::isfinite(p[0]) && std::isfinite(p[1])) << i << ", " << j;
            if (i >= res * 3 / 4) {
                EXPECT_EQ(p[0], 0.0f); // no gradient here: no walk, no mode
                EXPECT_EQ(p[1], 0.0f);
                continue;
            }
            ++walked;
            // A walk from the flat region's border stops where the field ends.
            if (i >= res * 3 / 4 - 2)
                continue;
            EXPECT_LE(std::hypot(p[0] - peakX, p[1] - peakY) * res, 0.25f + 1e-3f) << i << ", " << j;
        }
    EXPECT_EQ(walked, res * res * 3 / 4);

    glBindVertexArray(0);
    glDeleteBuffers(1, &buffer);
    glDeleteVertexArrays(1, &vertexArray);
    glDeleteTextures(1, &texture);
    program.release();
    glEnable(GL_BLEND);
}

INSTANTIATE_TEST_SUITE_P(Formats, ShaderStagesTest, testing::Values(GlFormat::Product, GlFormat::CoreDebug),
                         glFormatName);
