#pragma once

#include <QString>

/// The whole text of a resource (":/...") or a plain file, read in text mode
/// with the stream's default decoding; empty when it cannot be opened.
QString readTextResource(const QString& path);
