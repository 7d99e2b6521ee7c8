#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

/// The sample-settings text file: one line per sample, "key flag red green
/// blue", lines joined by "\n" with none after the last, UTF-8. The key is a
/// sample's file name and may hold blanks, so a line is read from the right:
/// the last four fields are the flag (nonzero = shown) and the colour bytes,
/// and what stands before them, less the one separating blank, is the key.
class SampleSettingsFile
{
public:
    struct Entry
    {
        std::string key;
        bool selected = true;
        int red = 0;
        int green = 0;
        int blue = 0;
    };

    /// The file's text. Entries whose key holds a line break cannot be read
    /// back; they are left out and their keys listed in `skipped`.
    static QByteArray format(const std::vector<Entry>& entries, std::vector<std::string>* skipped);

    /// The entries of a file's text in line order ("\r" and empty lines
    /// ignored). False, with the reason in `error`, when a line has fewer
    /// than five fields, a flag or colour that is not an integer, or a
    /// colour outside 0-255.
    static bool parse(const QByteArray& text, std::vector<Entry>* entries, QString* error);
};
