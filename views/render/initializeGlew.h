#pragma once

#include <string>

/// Loads the OpenGL entry points for the current context through GLEW (with
/// its experimental flag, so core contexts get every function). Returns
/// GLEW's error text, empty on success. An error alone need not mean the
/// functions are missing (GLEW on EGL reports one and loads everything).
std::string initializeGlew();
