#pragma once

#include <GL/glew.h>

#include <QImage>

#include <vector>

/// An RGBA framebuffer (8-bit or 32-bit float) of a given size with depth.
class GlTarget
{
public:
    GlTarget(int width, int height, bool floatColor = false);
    ~GlTarget();
    GLuint name() const { return m_framebuffer; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    /// The colour attachment, row 0 at the top (as on screen).
    QImage image() const;
    /// RGBA floats, bottom row first.
    std::vector<float> floats() const;

private:
    int m_width;
    int m_height;
    GLuint m_framebuffer = 0;
    GLuint m_color = 0;
    GLuint m_depth = 0;
};

/// Contents of a GL buffer object.
template <class T>
std::vector<T> bufferContents(GLuint buffer)
{
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    GLint bytes = 0;
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &bytes);
    std::vector<T> values(static_cast<size_t>(bytes) / sizeof(T));
    if (bytes > 0)
        glGetBufferSubData(GL_ARRAY_BUFFER, 0, bytes, values.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return values;
}
