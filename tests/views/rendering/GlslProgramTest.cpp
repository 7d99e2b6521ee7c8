// The seven programs of the renderer load from the bundle and link; failures
// print their message and touch nothing else.
#include "GlTestContext.h"

#include "rendering/GlslProgram.h"

#include <array>

namespace {

struct Stages
{
    const char* vertex;
    const char* geometry;
    const char* fragment;
    const char* name;
};

const std::array<Stages, 7> rendererPrograms{{
    {"glslProgramSimplePoints_vertex", "glslProgramSimplePoints_geometry", "glslProgramSimplePointsMarkers_fragment",
     "glslProgramSimplePointsMarkers"},
    {"glslProgramBasicGL_vertex", "", "glslProgramBasicGL_fragment", "glslProgramSingleColor"},
    {"glslProgramBasicGL_vertex", "glslProgramBasicGL_geometry", "glslProgramSimplePoints_fragment",
     "glslProgramSimplePoints"},
    {"glslProgramBasicGL_vertex", "", "glslProgramSimplePointsDensity_fragment", "glslProgramSimplePointsDensity"},
    {"glslProgramSimplePointsDensityOffscreen_vertex", "glslProgramSimplePointsDensityOffscreen_geometry",
     "glslProgramSimplePointsDensityOffscreen_fragment", "glslProgramSimplePointsDensityOffscreen"},
    {"glslProgramBasicGL_vertex", "", "glslProgramGradientOffscreen_fragment", "glslProgramGradientOffscreen"},
    {"glslProgramBasicGL_vertex", "", "glslProgramMeanShiftOffscreen_fragment", "glslProgramMeanShiftOffscreen"},
}};

GLint attachedShaders(GLuint program)
{
    GLint count = 0;
    glGetProgramiv(program, GL_ATTACHED_SHADERS, &count);
    return count;
}

using GlslProgramTest = GlTest;

} // namespace

TEST_P(GlslProgramTest, EveryProgramLinksSilentlyAndOnlyOnce)
{
    CoutCapture output;
    for (const Stages& stages : rendererPrograms) {
        SCOPED_TRACE(stages.name);
        GlslProgram program;
        ASSERT_TRUE(program.load(stages.vertex, stages.geometry, stages.fragment, stages.name));
        EXPECT_EQ(attachedShaders(program.programId()), stages.geometry[0] ? 3 : 2);
        program.compileAndLink();
        EXPECT_TRUE(program.isLinked());

        // A second load and link change nothing.
        const GLuint id = program.programId();
        EXPECT_FALSE(program.load(stages.vertex, stages.geometry, stages.fragment, "other"));
        program.compileAndLink();
        EXPECT_EQ(program.programId(), id);
        EXPECT_EQ(program.name(), stages.name);
        EXPECT_EQ(attachedShaders(id), stages.geometry[0] ? 3 : 2);

        // Every location lookup of the stages' own names is found.
        program.bind();
        EXPECT_NE(program.uniformLocation("modelViewProjectionMatrix"), -1);
        EXPECT_NE(program.attributeLocation("position"), -1);
        program.unbind();

        const GLuint vertex = program.vertexShaderId();
        program.release();
        EXPECT_EQ(program.programId(), 0u);
        EXPECT_FALSE(glIsProgram(id));
        EXPECT_FALSE(glIsShader(vertex));
    }
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
