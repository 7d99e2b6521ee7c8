#include "render/GlslProgram.h"

#include "framework/readTextResource.h"

#include <QString>

#include <algorithm>
#include <iostream>
#include <vector>

namespace {

const char* const failurePrefix = "Failed to initialize OpenGL.";

std::string readShaderResource(const std::string& stage)
{
    return readTextResource(QString::fromStdString(":/shaders/" + stage + ".glsl")).toUtf8().toStdString();
}

GLuint createShader(GLenum type, const std::string& stage)
{
    const GLuint shader = glCreateShader(type);
    const std::string source = readShaderResource(stage);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    return shader;
}

std::string shaderInfoLog(GLuint shader)
{
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(static_cast<size_t>(std::max(length, 1)), '\0');
    glGetShaderInfoLog(shader, length, nullptr, log.data());
    return std::string(log.data());
}

std::string programInfoLog(GLuint program)
{
    GLint length = 0;
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(static_cast<size_t>(std::max(length, 1)), '\0');
    glGetProgramInfoLog(program, length, nullptr, log.data());
    return std::string(log.data());
}

void deleteShader(GLuint& shader)
{
    if (shader != 0)
        glDeleteShader(shader);
    shader = 0;
}

} // namespace

bool GlslProgram::load(const std::string& vertexStage, const std::string& geometryStage,
                       const std::string& fragmentStage, const std::string& programName)
{
    if (m_loaded)
        return false;
    m_name = programName;
    m_vertexShader = createShader(GL_VERTEX_SHADER, vertexStage);
    if (!geometryStage.empty())
        m_geometryShader = createShader(GL_GEOMETRY_SHADER, geometryStage);
    m_fragmentShader = createShader(GL_FRAGMENT_SHADER, fragmentStage);
    m_program = glCreateProgram();
    glAttachShader(m_program, m_vertexShader);
    if (m_geometryShader != 0)
        glAttachShader(m_program, m_geometryShader);
    glAttachShader(m_program, m_fragmentShader);
    m_loaded = true;
    return true;
}

bool GlslProgram::compileShader(GLuint& shader, const char* stageText)
{
    glCompileShader(shader);
    GLint status = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    if (status == GL_TRUE)
        return true;
    const std::string log = shaderInfoLog(shader);
    deleteShader(shader);
    std::cout << failurePrefix << " " << stageText << " shader compilation failed for " << m_name << ".\n"
              << log << "\n";
    return false;
}

void GlslProgram::compileAndLink()
{
    if (m_linked || !m_loaded)
        return;
    if (!compileShader(m_vertexShader, "Vertex"))
        return;
    if (m_geometryShader != 0 && !compileShader(m_geometryShader, "Geometry"))
        return;
    if (!compileShader(m_fragmentShader, "Fragment"))
        return;
    glLinkProgram(m_program);
    GLint status = GL_FALSE;
    glGetProgramiv(m_program, GL_LINK_STATUS, &status);
    if (status == GL_TRUE) {
        m_linked = true;
        return;
    }
    const std::string log = programInfoLog(m_program);
    glDeleteProgram(m_program);
    m_program = 0;
    std::cout << failurePrefix << " Failed to link " << m_name << ".\n" << log << "\n";
}

void GlslProgram::bind()
{
    glUseProgram(m_program);
}

void GlslProgram::unbind()
{
    glUseProgram(0);
}

int GlslProgram::location(const std::string& name, const char* kind, bool uniform)
{
    const int found = m_program == 0 ? -1
                      : uniform      ? glGetUniformLocation(m_program, name.c_str())
                                     : glGetAttribLocation(m_program, name.c_str());
    if (found == -1)
        std::cout << failurePrefix << " Could not find " << kind << " " << name << " in program " << m_name
                  << ".\n";
    return found;
}

int GlslProgram::attributeLocation(const std::string& name)
{
    return location(name, "attribute", false);
}

int GlslProgram::uniformLocation(const std::string& name)
{
    return location(name, "uniform", true);
}

int GlslProgram::samplerLocation(const std::string& name)
{
    return location(name, "sampler", true);
}

void GlslProgram::setUniform1f(int location, float value)
{
    if (location != -1)
        glUniform1f(location, value);
}

void GlslProgram::setUniform1i(int location, int value)
{
    if (location != -1)
        glUniform1i(location, value);
}

void GlslProgram::setUniform4f(int location, float x, float y, float z, float w)
{
    if (location != -1)
        glUniform4f(location, x, y, z, w);
}

void GlslProgram::setUniform4fv(int location, const float* values)
{
    if (location != -1)
        glUniform4fv(location, 1, values);
}

void GlslProgram::setUniform4i(int location, int x, int y, int z, int w)
{
    if (location != -1)
        glUniform4i(location, x, y, z, w);
}

void GlslProgram::setUniformMatrix4fv(int location, const float* columnMajor)
{
    if (location != -1)
        glUniformMatrix4fv(location, 1, GL_FALSE, columnMajor);
}

void GlslProgram::setSampler(const std::string& name, int unit, GLenum target, GLuint texture)
{
    glActiveTexture(static_cast<GLenum>(GL_TEXTURE0 + unit));
    glBindTexture(target, texture);
    glActiveTexture(GL_TEXTURE0);
    setUniform1i(samplerLocation(name), unit);
}

void GlslProgram::release()
{
    if (m_program != 0)
        glDeleteProgram(m_program);
    deleteShader(m_vertexShader);
    deleteShader(m_geometryShader);
    deleteShader(m_fragmentShader);
    m_program = 0;
    m_loaded = false;
    m_linked = false;
}
