#pragma once

#include <QString>

class QWidget;

/// The SVG image of a page view (SPADE tree, heat map, hierarchy): the
/// markup of the page's "mainView" element made a stand-alone SVG document
/// that carries the page's style sheet.
///
///     m_styleBlock = SvgDocument::styleBlock(":/spade/spade.css");   // once
///     ...
///     void View::js_saveSVG(QString markup)
///     {
///         SvgDocument::save(this, markup, m_styleBlock, shownDataName);
///     }
class SvgDocument
{
public:
    /// The style sheet resource as a style element: '<style type="text/css">',
    /// the text unchanged, "</style>". A sheet holding "<" or "&" goes into a
    /// CDATA section, so the document stays well-formed XML.
    static QString styleBlock(const QString& styleSheetResource);

    /// The markup as a document: behind the first "<svg" the SVG and XLink
    /// namespace declarations (each only when that start tag lacks it), the
    /// style block right before the first "</svg>", "&nbsp;" (how the page
    /// serialises U+00A0; not XML) written "&#160;", and every character
    /// that XML 1.0 forbids (a control character of a marker name, say)
    /// replaced by U+FFFD. Empty when the markup holds no "<svg" followed by
    /// "</svg>".
    static QString standalone(const QString& markup, const QString& styleBlock);

    /// standalone(), then the save dialog (PageSaveDialog, proposing
    /// baseName + ".svg", filter "SVG Image Files (*.svg)") and the file.
    /// Markup without an SVG element asks nothing and writes nothing; a line
    /// says so. Returns whether a file was written.
    static bool save(QWidget* parent, const QString& markup, const QString& styleBlock, const QString& baseName);
};
