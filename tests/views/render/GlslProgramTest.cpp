// The renderer's seven programs are built from their stages in the bundle
// and link; a program loads and links once; failures print their message and
// touch nothing else.
#include "GlTestContext.h"

#include "render/GlslProgram.h"
#include "render/PointRenderer.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <string>

namespace {

struct Stages
{
    const char* vertex;
    const char* geometry;
    const char* fragment;
};

/// The stages of each program, in the order of the renderer's programs.
const std::array<Stages, 7> rendererPrograms{{
    {"glslProgramSimplePoints_vertex", "glslProgramSimplePoints_geometry", "glslProgramSimplePointsMarkers_fragment"},
    {"glslProgramBasicGL_vertex", "", "glslProgramBasicGL_fragment"},
    {"glslProgramBasicGL_vertex", "glslProgramBasicGL_geometry", "glslProgramSimplePoints_fragment"},
    {"glslProgramBasicGL_vertex", "", "glslProgramSimplePointsDensity_fragment"},
    {"glslProgramSimplePointsDensityOffscreen_vertex", "glslProgramSimplePointsDensityOffscreen_geometry",
     "glslProgramSimplePointsDensityOffscreen_fragment"},
    {"glslProgramBasicGL_vertex", "", "glslProgramGradientOffscreen_fragment"},
    {"glslProgramBasicGL_vertex", "", "glslProgramMeanShiftOffscreen_fragment"},
}};

GLint attachedShaders(GLuint program)
{
    GLint count = 0;
    glGetProgramiv(program, GL_ATTACHED_SHADERS, &count);
    return count;
}

/// The source GL holds for a shader.
std::string shaderSource(GLuint shader)
{
    GLint length = 0;
    glGetShaderiv(shader, GL_SHADER_SOURCE_LENGTH, &length);
    std::string text(static_cast<size_t>(std::max(length, 1)), '\0');
    glGetShaderSource(shader, length, nullptr, &text[0]);
    text.resize(static_cast<size_t>(std::max(length - 1, 0)));
    return text;
}

/// The stage's file in the bundle, byte for byte.
std::string stageFile(const char* stage)
{
    QFile file(QString(":/shaders/%1.glsl").arg(stage));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<missing " + std::string(stage) + ">";
}

using GlslProgramTest = GlTest;

} // namespace

TEST_P(GlslProgramTest, TheRendererBuildsEveryProgramFromItsStagesAndLinksItSilently)
{
    CoutCapture output;
    PointRenderer renderer;
    renderer.init();
    ASSERT_TRUE(renderer.programsReady());
    const PointRenderer::GlNames names = renderer.glNames();
    ASSERT_EQ(names.programs.size(), rendererPrograms.size());
    ASSERT_EQ(names.shaders.size(), 3 * rendererPrograms.size());
    for (size_t p = 0; p < rendererPrograms.size(); ++p) {
        const Stages& stages = rendererPrograms[p];
        SCOPED_TRACE(stages.fragment);
        const GLuint program = names.programs[p];
        ASSERT_TRUE(glIsProgram(program));
        GLint linked = GL_FALSE;
        glGetProgramiv(program, GL_LINK_STATUS, &linked);
        EXPECT_EQ(linked, GL_TRUE);
        EXPECT_EQ(attachedShaders(program), stages.geometry[0] ? 3 : 2);
        const char* const expected[3] = {stages.vertex, stages.geometry, stages.fragment};
        for (size_t s = 0; s < 3; ++s) {
            const GLuint shader = names.shaders[3 * p + s];
            if (expected[s][0] == '\0')
                EXPECT_EQ(shader, 0u) << "no geometry stage";
            else
                EXPECT_TRUE(shaderSource(shader) == stageFile(expected[s])) << "not built from " << expected[s];
        }
        // Every stage's drawing needs these two.
        EXPECT_NE(glGetUniformLocation(program, "modelViewProjectionMatrix"), -1);
        EXPECT_NE(glGetAttribLocation(program, "position"), -1);
    }
    renderer.release();
    EXPECT_EQ(output.text().find("Failed"), std::string::npos) << output.text();
}

TEST_P(GlslProgramTest, LoadsAndLinksOnceAndReleasesEveryName)
{
    CoutCapture output;
    const Stages& stages = rendererPrograms[0];
    GlslProgram program;
    ASSERT_TRUE(program.load(stages.vertex, stages.geometry, stages.fragment, "markers"));
    EXPECT_EQ(attachedShaders(program.programId()), 3);
    program.compileAndLink();
    EXPECT_TRUE(program.isLinked());

    // A second load and link change nothing.
    const GLuint id = program.programId();
    EXPECT_FALSE(program.load(stages.vertex, stages.geometry, stages.fragment, "other"));
    program.compileAndLink();
    EXPECT_EQ(program.programId(), id);
    EXPECT_EQ(program.name(), "markers");
    EXPECT_EQ(attachedShaders(id), 3);

    // Lookups of the stages' own names are found.
    program.bind();
    EXPECT_NE(program.uniformLocation("modelViewProjectionMatrix"), -1);
    EXPECT_NE(program.attributeLocation("position"), -1);
    program.unbind();

    const GLuint vertex = program.vertexShaderId();
    program.release();
    EXPECT_EQ(program.programId(), 0u);
    EXPECT_FALSE(glIsProgram(id));
    EXPECT_FALSE(glIsShader(vertex));
    EXPECT_EQ(output.text().find("Failed"), std::string::npos) << output.text();
}

TEST_P(GlslProgramTest, MissingStagePrintsItsCompileMessageAndAffectsNothingElse)
{
    GlslProgram broken;
    GlslProgram sound;
    CoutCapture output;
    ASSERT_TRUE(broken.load("glslProgramBasicGL_vertex", "", "noSuchStage_fragment", "brokenProgram"));
    ASSERT_TRUE(sound.load("glslProgramBasicGL_vertex", "", "glslProgramBasicGL_fragment", "soundProgram"));
    broken.compileAndLink();
    sound.compileAndLink();
    EXPECT_FALSE(broken.isLinked());
    EXPECT_EQ(broken.fragmentShaderId(), 0u); // the failed shader is gone
    EXPECT_TRUE(sound.isLinked());
    EXPECT_NE(output.text().find("Failed to initialize OpenGL. Fragment shader compilation failed for brokenProgram.\n"),
              std::string::npos)
        << output.text();
    EXPECT_EQ(output.text().find("soundProgram"), std::string::npos);

    // Lookups on the sound program of a name it lacks: one line, -1, setters ignore it.
    const int missing = sound.uniformLocation("noSuchUniform");
    EXPECT_EQ(missing, -1);
    sound.bind();
    sound.setUniform1f(missing, 1.0f);
    sound.setUniform4i(missing, 1, 2, 3, 4);
    sound.unbind();
    EXPECT_NE(output.text().find(
                  "Failed to initialize OpenGL. Could not find uniform noSuchUniform in program soundProgram.\n"),
              std::string::npos);
    broken.release();
    sound.release();
}

INSTANTIATE_TEST_SUITE_P(Formats, GlslProgramTest, testing::Values(GlFormat::Product, GlFormat::CoreDebug),
                         glFormatName);
