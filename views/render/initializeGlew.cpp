#include "render/initializeGlew.h"

#include <GL/glew.h>

std::string initializeGlew()
{
    glewExperimental = GL_TRUE;
    const GLenum result = glewInit();
    // A core context answers the extension-string query GLEW makes with an
    // error; it is GLEW's, not the caller's.
    while (glGetError() != GL_NO_ERROR) {
    }
    if (result == GLEW_OK)
        return std::string();
    return reinterpret_cast<const char*>(glewGetErrorString(result));
}
