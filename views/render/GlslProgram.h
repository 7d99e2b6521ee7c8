#pragma once

#include <GL/glew.h>

#include <string>

/// One GLSL program of the point renderer: its stage sources come from the
/// resource bundle (":/shaders/<stage>.glsl"), are compiled and linked, and
/// locations are looked up with a console line for missing ones. Every call
/// needs the caller's GL context to be current. Failures print one line
/// beginning "Failed to initialize OpenGL." and leave the program unusable;
/// nothing is thrown.
class GlslProgram
{
public:
    GlslProgram() = default;
    GlslProgram(const GlslProgram&) = delete;
    GlslProgram& operator=(const GlslProgram&) = delete;

    /// Creates the shaders (no geometry shader for an empty name), gives them
    /// their sources and attaches them to a new program. False, changing
    /// nothing, when the program is already loaded. A missing stage resource
    /// gives an empty source, which the compile step reports.
    bool load(const std::string& vertexStage, const std::string& geometryStage, const std::string& fragmentStage,
              const std::string& programName);
    /// Compiles each stage, then links; the first failure prints its info log,
    /// deletes the failing object and stops. Nothing happens once linked.
    void compileAndLink();

    void bind();
    void unbind();

    /// GL locations; -1 with a console line when GL has none of that name.
    int attributeLocation(const std::string& name);
    int uniformLocation(const std::string& name);
    int samplerLocation(const std::string& name);

    // Setters: each does nothing for location -1.
    void setUniform1f(int location, float value);
    void setUniform1i(int location, int value);
    void setUniform4f(int location, float x, float y, float z, float w);
    void setUniform4fv(int location, const float* values);
    void setUniform4i(int location, int x, int y, int z, int w);
    void setUniformMatrix4fv(int location, const float* columnMajor);
    /// Binds texture (of target, e.g. GL_TEXTURE_2D) to unit and points the
    /// named sampler there. Every sampler of a program needs a unit of its
    /// own: two sampler types on one unit make draws fail silently.
    void setSampler(const std::string& name, int unit, GLenum target, GLuint texture);

    /// Deletes the program and its shaders and zeroes every name; the program
    /// can be loaded again in a new context.
    void release();

    bool isLoaded() const { return m_loaded; }
    bool isLinked() const { return m_linked; }
    const std::string& name() const { return m_name; }
    GLuint programId() const { return m_program; }
    GLuint vertexShaderId() const { return m_vertexShader; }
    GLuint geometryShaderId() const { return m_geometryShader; }
    GLuint fragmentShaderId() const { return m_fragmentShader; }

private:
    /// Compiles one shader; on failure prints the message, deletes the shader
    /// and zeroes its name.
    bool compileShader(GLuint& shader, const char* stageText);
    int location(const std::string& name, const char* kind, bool uniform);

    bool m_loaded = false;
    bool m_linked = false;
    std::string m_name;
    GLuint m_vertexShader = 0;
    GLuint m_geometryShader = 0;
    GLuint m_fragmentShader = 0;
    GLuint m_program = 0;
};
