#pragma once

#include <QSurfaceFormat>

/// The OpenGL format every GL widget of the program asks for: core profile,
/// 24-bit depth, 8-bit stencil, no version requested (drivers answer with
/// their newest context, which may be a compatibility one). main makes it
/// the default format, and so does the GUI test main, so the widgets are
/// tested on the format users get.
QSurfaceFormat applicationSurfaceFormat();
