#include "GlTestContext.h"

#include "render/applicationSurfaceFormat.h"
#include "render/initializeGlew.h"

#include <QMatrix4x4>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLDebugLogger>

#include <iostream>

std::string glFormatName(const testing::TestParamInfo<GlFormat>& info)
{
    return info.param == GlFormat::Product ? "ProductFormat" : "Core33Debug";
}

GlTestContext::GlTestContext(GlFormat format)
{
    QSurfaceFormat surfaceFormat = applicationSurfaceFormat();
    if (format == GlFormat::CoreDebug) {
        surfaceFormat.setVersion(3, 3);
        surfaceFormat.setOption(QSurfaceFormat::DebugContext);
    }
    m_context = std::make_unique<QOpenGLContext>();
    m_context->setFormat(surfaceFormat);
    m_surface = std::make_unique<QOffscreenSurface>();
    m_surface->setFormat(surfaceFormat);
    m_surface->create();
    if (!m_context->create() || !m_context->makeCurrent(m_surface.get()))
        return;
    initializeGlew();
    if (format == GlFormat::CoreDebug) {
        m_logger = std::make_unique<QOpenGLDebugLogger>();
        if (!m_logger->initialize())
            return;
        QObject::connect(m_logger.get(), &QOpenGLDebugLogger::messageLogged,
                         [this](const QOpenGLDebugMessage& message) {
                             // Compile errors are the driver's report of a
                             // shader's text; tests check those themselves.
                             if (message.type() == QOpenGLDebugMessage::ErrorType
                                 && message.source() != QOpenGLDebugMessage::ShaderCompilerSource)
                                 m_errors << message.message();
                         });
        m_logger->startLogging(QOpenGLDebugLogger::SynchronousLogging);
    }
    m_valid = true;
}

GlTestContext::~GlTestContext()
{
    if (m_context && m_context->isValid())
        m_context->makeCurrent(m_surface.get());
    m_logger.reset();
    m_context->doneCurrent();
}

void GlTestContext::makeCurrent()
{
    m_context->makeCurrent(m_surface.get());
}

void GlTestContext::doneCurrent()
{
    m_context->doneCurrent();
}

QStringList GlTestContext::errors()
{
    for (GLenum error = glGetError(); error != GL_NO_ERROR; error = glGetError())
        m_errors << QString("glGetError 0x%1").arg(error, 0, 16);
    QStringList result = m_errors;
    m_errors.clear();
    return result;
}

void GlTest::SetUp()
{
    m_gl = std::make_unique<GlTestContext>(GetParam());
    ASSERT_TRUE(m_gl->isValid()) << "no OpenGL context";
}

void GlTest::TearDown()
{
    if (m_gl && m_gl->isValid()) {
        m_gl->makeCurrent();
        const QStringList errors = m_gl->errors();
        EXPECT_TRUE(errors.isEmpty()) << errors.join("\n").toStdString();
    }
    m_gl.reset();
}

std::vector<float> unitSquareMvp()
{
    QMatrix4x4 projection;
    projection.ortho(0.0f, 1.0f, 0.0f, 1.0f, 1.0f, -1.0f);
    QMatrix4x4 view;
    view.translate(0.0f, 0.0f, -1.0f);
    const QMatrix4x4 mvp = projection * view;
    return std::vector<float>(mvp.constData(), mvp.constData() + 16);
}

CoutCapture::CoutCapture() : m_previous(std::cout.rdbuf(m_buffer.rdbuf()))
{
}

CoutCapture::~CoutCapture()
{
    std::cout.rdbuf(m_previous);
}
