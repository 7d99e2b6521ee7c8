#pragma once

#include <GL/glew.h>

#include <vector>

class GlslProgram;

/// The vertex arrays of one draw call: each named attribute of the program is
/// fed from a buffer (or held at a constant), and every array enabled here is
/// disabled again when the object goes, so the next pass starts clean.
/// Attributes the program lacks are skipped (the lookup prints its line).
class VertexAttributes
{
public:
    explicit VertexAttributes(GlslProgram& program) : m_program(program) {}
    ~VertexAttributes();
    VertexAttributes(const VertexAttributes&) = delete;
    VertexAttributes& operator=(const VertexAttributes&) = delete;

    /// `components` floats per vertex from `buffer`.
    void floats(const char* name, GLuint buffer, int components);
    /// One integer per vertex from `buffer` (GL_INT, GL_UNSIGNED_SHORT, ...),
    /// read by the shader as an integer, never converted to float.
    void integers(const char* name, GLuint buffer, GLenum type);
    /// The same integer for every vertex.
    void constantInteger(const char* name, int value);

private:
    GLint enable(const char* name, GLuint buffer);

    GlslProgram& m_program;
    std::vector<GLuint> m_enabled;
};
