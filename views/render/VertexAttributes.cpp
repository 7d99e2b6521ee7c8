#include "render/VertexAttributes.h"

#include "render/GlslProgram.h"

VertexAttributes::~VertexAttributes()
{
    for (GLuint location : m_enabled)
        glDisableVertexAttribArray(location);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

GLint VertexAttributes::enable(const char* name, GLuint buffer)
{
    const GLint location = m_program.attributeLocation(name);
    if (location < 0)
        return location;
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glEnableVertexAttribArray(static_cast<GLuint>(location));
    m_enabled.push_back(static_cast<GLuint>(location));
    return location;
}

void VertexAttributes::floats(const char* name, GLuint buffer, int components)
{
    const GLint location = enable(name, buffer);
    if (location >= 0)
        glVertexAttribPointer(static_cast<GLuint>(location), components, GL_FLOAT, GL_FALSE, 0, nullptr);
}

void VertexAttributes::integers(const char* name, GLuint buffer, GLenum type)
{
    const GLint location = enable(name, buffer);
    if (location >= 0)
        glVertexAttribIPointer(static_cast<GLuint>(location), 1, type, 0, nullptr);
}

void VertexAttributes::constantInteger(const char* name, int value)
{
    const GLint location = m_program.attributeLocation(name);
    if (location >= 0)
        glVertexAttribI1i(static_cast<GLuint>(location), value);
}
