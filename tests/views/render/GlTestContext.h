#pragma once

#include <QStringList>
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

class QOffscreenSurface;
class QOpenGLContext;
class QOpenGLDebugLogger;

/// The two OpenGL formats the renderer is tested on.
enum class GlFormat
{
    Product,   ///< the program's default format: core, no version (Mesa answers 4.5 compatibility)
    CoreDebug, ///< an explicit 3.3 core profile debug context; GL errors are recorded
};

std::string glFormatName(const testing::TestParamInfo<GlFormat>& info);

/// A current context on an offscreen surface with GLEW loaded. GL errors
/// (debug messages of error type, and glGetError at the end) fail the test.
class GlTestContext
{
public:
    explicit GlTestContext(GlFormat format);
    ~GlTestContext();

    bool isValid() const { return m_valid; }
    void makeCurrent();
    void doneCurrent();
    /// Error messages recorded so far, plus a pending glGetError.
    QStringList errors();

private:
    std::unique_ptr<QOpenGLContext> m_context;
    std::unique_ptr<QOffscreenSurface> m_surface;
    std::unique_ptr<QOpenGLDebugLogger> m_logger;
    QStringList m_errors;
    bool m_valid = false;
};

/// Fixture of renderer tests: runs each test in both formats.
class GlTest : public testing::TestWithParam<GlFormat>
{
protected:
    void SetUp() override;
    void TearDown() override;

    std::unique_ptr<GlTestContext> m_gl;
};

/// The model-view-projection of the scatterplot: the unit square onto the viewport.
std::vector<float> unitSquareMvp();

/// Captures std::cout while alive.
class CoutCapture
{
public:
    CoutCapture();
    ~CoutCapture();
    std::string text() const { return m_buffer.str(); }

private:
    std::ostringstream m_buffer;
    std::streambuf* m_previous;
};

