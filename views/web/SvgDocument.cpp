#include "web/SvgDocument.h"

#include "framework/readTextResource.h"
#include "web/PageSaveDialog.h"

#include <QDebug>
#include <QRegularExpression>

namespace {

const char* const kSvgNamespace = "http://www.w3.org/2000/svg";
const char* const kXlinkNamespace = "http://www.w3.org/1999/xlink";

/// Whether the start tag declares the attribute (a blank before its name, "=" after).
bool declares(const QString& startTag, const QString& attribute)
{
    return startTag.contains(QRegularExpression("\\s" + QRegularExpression::escape(attribute) + "\\s*="));
}

/// The text with every character that XML 1.0 forbids (controls other than
/// tab, line feed and carriage return; unpaired surrogates; U+FFFE and
/// U+FFFF) replaced by U+FFFD. Names from files may hold any of them.
QString withXmlCharactersOnly(QString text)
{
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && QChar(text[i + 1]).isLowSurrogate()) {
            ++i;
            continue;
        }
        const ushort code = c.unicode();
        if ((code < 0x20 && code != '\t' && code != '\n' && code != '\r') || c.isSurrogate() || code == 0xfffe
            || code == 0xffff)
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

} // namespace

QString SvgDocument::styleBlock(const QString& styleSheetResource)
{
    const QString sheet = readTextResource(styleSheetResource);
    const bool needsCdata = sheet.contains('<') || sheet.contains('&');
    return QStringLiteral("<style type=\"text/css\">") + (needsCdata ? "<![CDATA[" + sheet + "]]>" : sheet)
           + QStringLiteral("</style>");
}

QString SvgDocument::standalone(const QString& markup, const QString& styleBlock)
{
    const int open = markup.indexOf(QLatin1String("<svg"));
    const int close = open < 0 ? -1 : markup.indexOf(QLatin1String("</svg>"), open);
    if (close < 0)
        return QString();

    QString document = markup;
    document.insert(close, styleBlock);
    const int tagEnd = document.indexOf('>', open);
    const QString startTag = document.mid(open, tagEnd < 0 ? -1 : tagEnd - open);
    QString declarations;
    if (!declares(startTag, "xmlns"))
        declarations += QString(" xmlns=\"%1\"").arg(kSvgNamespace);
    if (!declares(startTag, "xmlns:xlink"))
        declarations += QString(" xmlns:xlink=\"%1\"").arg(kXlinkNamespace);
    document.insert(open + 4, declarations);
    return withXmlCharactersOnly(document.replace(QLatin1String("&nbsp;"), QLatin1String("&#160;")));
}

bool SvgDocument::save(QWidget* parent, const QString& markup, const QString& styleBlock, const QString& baseName)
{
    const QString document = standalone(markup, styleBlock);
    if (document.isEmpty()) {
        qDebug().noquote() << "The page sent no SVG image: nothing was saved.";
        return false;
    }
    const QString path = PageSaveDialog::chooseFile(parent, baseName, "svg", "SVG Image Files (*.svg)");
    return !path.isEmpty() && PageSaveDialog::writeText(parent, path, document);
}
