// The save dialog and the SVG documents that every page view shares.
#include "framework/UI_Settings.h"
#include "web/PageSaveDialog.h"
#include "web/SvgDocument.h"

#include "support/IsolatedSettings.h"
#include "support/ModalDialogDriver.h"
#include "support/ShownDialogsAndMenus.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

namespace {

const bool settingsIsolated = isolateSettings();

QString readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString("<unreadable>");
}

/// Namespace declarations of the root element and the texts of the document,
/// or the parse error.
QString xmlSummary(const QString& document)
{
    QXmlStreamReader reader(document);
    QStringList parts;
    QString text; // the reader may split a text at references
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isCharacters()) {
            text += reader.text();
            continue;
        }
        if (!text.trimmed().isEmpty())
            parts << text;
        text.clear();
        if (reader.isStartElement() && reader.name() == QLatin1String("svg") && parts.isEmpty())
            for (const QXmlStreamNamespaceDeclaration& declaration : reader.namespaceDeclarations())
                parts << declaration.prefix().toString() + "=" + declaration.namespaceUri().toString();
    }
    return reader.hasError() ? "error: " + reader.errorString() : parts.join("|");
}

} // namespace

TEST(SvgDocumentTest, MarkupBecomesOneWellFormedDocumentWithTheStyleSheet)
{
    QTemporaryDir dir;
    QFile sheet(dir.filePath("page.css"));
    ASSERT_TRUE(sheet.open(QIODevice::WriteOnly));
    sheet.write(".node > circle { fill: #DDD; }\n");
    sheet.close();
    const QString style = SvgDocument::styleBlock(sheet.fileName());
    EXPECT_EQ(style, "<style type=\"text/css\">.node > circle { fill: #DDD; }\n</style>");

    const QString document =
        SvgDocument::standalone("<svg width=\"10\"><text>a&nbsp;b &lt;i&gt;</text></svg>", style);
    EXPECT_EQ(document, "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
                        "width=\"10\"><text>a&#160;b &lt;i&gt;</text>"
                            + style + "</svg>");
    EXPECT_EQ(xmlSummary(document), QString::fromUtf8("=http://www.w3.org/2000/svg|xlink=http://www.w3.org/1999/xlink|"
                                                      "a\u00a0b <i>|.node > circle { fill: #DDD; }\n"));

    // Namespaces already declared are not declared again.
    const QString declared = SvgDocument::standalone(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\"></svg>", "");
    EXPECT_EQ(declared.count("xmlns="), 1);
    EXPECT_EQ(declared.count("xmlns:xlink="), 1);
    EXPECT_FALSE(xmlSummary(declared).startsWith("error"));

    // An empty drawing still gets both; no SVG element gives nothing.
    EXPECT_EQ(SvgDocument::standalone("<svg></svg>", "<style/>"),
              "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\"><style/></svg>");
    EXPECT_EQ(SvgDocument::standalone("<div>no image</div>", style), "");
    EXPECT_EQ(SvgDocument::standalone("</svg><svg>", style), "");

    // A sheet with "&" or "<" stays text inside CDATA.
    ASSERT_TRUE(sheet.open(QIODevice::WriteOnly | QIODevice::Truncate));
    sheet.write("a[title=\"x&y\"] { }");
    sheet.close();
    const QString cdata = SvgDocument::standalone("<svg></svg>", SvgDocument::styleBlock(sheet.fileName()));
    EXPECT_TRUE(xmlSummary(cdata).endsWith("a[title=\"x&y\"] { }")) << xmlSummary(cdata).toStdString();
}

TEST(PageSaveDialogTest, DialogRemembersItsFolderAndTextIsWrittenWholeOrNotAtAll)
{
    ASSERT_TRUE(settingsIsolated);
    QTemporaryDir dir;
    UI_Settings::instance()->remove("exportDefaultFilePath");
    UI_Settings::instance()->sync();

    QString shownFolder, proposed, suffix, filters;
    whenModal<QFileDialog>([&](QFileDialog* dialog) {
        shownFolder = dialog->directory().absolutePath();
        proposed = dialog->findChild<QLineEdit*>("fileNameEdit")->text();
        suffix = dialog->defaultSuffix();
        filters = dialog->nameFilters().join(";;");
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(dir.filePath("bubble"));
        static_cast<QDialog*>(dialog)->accept();
    });
    const QString path = PageSaveDialog::chooseFile(nullptr, "CD4/CD8: \"x\"", "fcs",
                                                    "Cytometry Files (*.fcs);;Binary File (*.bin)");
    EXPECT_EQ(shownFolder, QDir::home().absolutePath());
    EXPECT_EQ(proposed, "CD4_CD8_ _x_.fcs");
    EXPECT_EQ(suffix, "fcs");
    EXPECT_EQ(filters, "Cytometry Files (*.fcs);;Binary File (*.bin)");
    EXPECT_EQ(path, dir.filePath("bubble.fcs"));
    UI_Settings::instance()->sync();
    EXPECT_EQ(UI_Settings::instance()->value("exportDefaultFilePath").toString(), dir.path());

    // The next dialog opens there; cancelling returns nothing and keeps the folder.
    whenModal<QFileDialog>([&](QFileDialog* dialog) {
        shownFolder = dialog->directory().absolutePath();
        static_cast<QDialog*>(dialog)->reject();
    });
    EXPECT_EQ(PageSaveDialog::chooseFile(nullptr, "x", "svg", "SVG Image Files (*.svg)"), "");
    EXPECT_EQ(shownFolder, dir.path());
    EXPECT_EQ(UI_Settings::instance()->value("exportDefaultFilePath").toString(), dir.path());

    EXPECT_TRUE(PageSaveDialog::writeText(nullptr, dir.filePath("t.svg"), QString::fromUtf8("é µ – \u00a0")));
    EXPECT_EQ(readFile(dir.filePath("t.svg")), QString::fromUtf8("é µ – \u00a0"));
    ShownDialogsAndMenus shown;
    EXPECT_FALSE(PageSaveDialog::writeText(nullptr, dir.filePath("missing/t.svg"), "x"));
    EXPECT_FALSE(QFile::exists(dir.filePath("missing/t.svg")));
    EXPECT_EQ(shown.names(), "QMessageBox \"Not Saved\"");

    // No SVG element: no dialog, no file.
    EXPECT_FALSE(SvgDocument::save(nullptr, "<div></div>", "", "x"));
    EXPECT_EQ(shown.names(), "QMessageBox \"Not Saved\"");
}
