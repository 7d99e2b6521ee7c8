// Every resource path the program names must resolve in the bundle, and so
// must every file that the bundle's own pages and style sheets name.
#include "applicationIcon.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QFontDatabase>
#include <QImage>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

QStringList missing(const QStringList& paths)
{
    QStringList result;
    for (const QString& path : paths)
        if (!QFile::exists(path))
            result << path;
    return result;
}

void expectAll(const QStringList& paths)
{
    EXPECT_TRUE(missing(paths).isEmpty()) << missing(paths).join(", ").toStdString();
}

QStringList prefixed(const QString& prefix, const QStringList& names)
{
    QStringList result;
    for (const QString& name : names)
        result << prefix + name;
    return result;
}

const QStringList colormapNames{"BrBG", "BuPu",     "GnBu",     "Magma", "PiYG",  "Plasma",   "PuOr",
                                "Q_BlGrRd", "RdBu", "RdPu",     "RdYlBu", "RdYlGn", "Reds",   "Spectral",
                                "Viridis",  "YlGn", "YlGnBu",   "YlOrBr", "YlOrRd", "qualitative"};

} // namespace

TEST(ResourceBundleTest, IconsResolveAtTheirSizes)
{
    for (int size : {32, 64, 128, 256, 512, 1024}) {
        const QImage icon(QString(":/Icons/AppIcon%1").arg(size));
        EXPECT_EQ(icon.size(), QSize(size, size)) << size;
    }
    const QStringList buttons{"cameraBt", "closeArrow", "closeArrowDrop", "openArrow",  "openArrowDrop", "optionsBt",
                              "pauseBt",  "pauseBt@2x", "replayBt",       "replayBt@2x", "runBt",        "runBt@2x"};
    for (const QString& name : buttons)
        EXPECT_FALSE(QImage(":/Icons/" + name).isNull()) << name.toStdString();
    // The double-resolution variants are twice the size of their plain image.
    for (const char* name : {"pauseBt", "replayBt", "runBt"})
        EXPECT_EQ(QImage(QString(":/Icons/%1@2x").arg(name)).size(), QImage(QString(":/Icons/") + name).size() * 2)
            << name;
}

TEST(ResourceBundleTest, ApplicationIconHoldsSixSizesSmallestFirst)
{
    const QIcon icon = applicationIcon();
    const QList<QSize> expected{{32, 32}, {64, 64}, {128, 128}, {256, 256}, {512, 512}, {1024, 1024}};
    EXPECT_EQ(icon.availableSizes(), expected);
}

TEST(ResourceBundleTest, FontsAndScriptLibrariesResolve)
{
    for (const char* font : {":/fonts/DroidSans.ttf", ":/fonts/DroidSans-Bold.ttf"}) {
        const int id = QFontDatabase::addApplicationFont(font);
        EXPECT_NE(id, -1) << font;
        if (id != -1)
            QFontDatabase::removeApplicationFont(id);
    }
    const QStringList libraries = prefixed(":/jslibs/", {"d3.v4.js", "d3-scale-chromatic.js", "d3-hsv.js",
                                                         "d3-context-menu.js", "nouislider.min.js", "nouislider.css",
                                                         "wNumb.min.js", "material.min.js", "material.min.css",
                                                         "clusterfck-0.1.js"});
    EXPECT_TRUE(missing(libraries).isEmpty()) << missing(libraries).join(", ").toStdString();
    for (const QString& library : libraries)
        EXPECT_GT(QFile(library).size(), 500) << library.toStdString();
    EXPECT_TRUE(QDir(":/jslibs").exists());
}

TEST(ResourceBundleTest, AboutPage)
{
    expectAll(prefixed(":/About/", {"about.css", "aboutText", "kelborLogo", "kelborLogo@2x", "ostrelLogo",
                                    "ostrelLogo@2x", "pellamLogo", "pellamLogo@2x"}));
}

TEST(ResourceBundleTest, ColourMaps)
{
    QStringList paths;
    for (const QString& name : colormapNames)
        paths << ":/colormaps/" + name + ".png" << ":/colormaps/" + name + "_vert.png";
    // The picker's fifteen maps also have a discrete image.
    for (const char* name : {"Spectral", "RdYlBu", "PiYG", "PuOr", "Magma", "Plasma", "Viridis", "RdPu", "YlGnBu",
                             "GnBu", "BuPu", "YlOrRd", "Reds", "qualitative", "Q_BlGrRd"})
        paths << QString(":/colormaps/%1_vert_disc.png").arg(name);
    EXPECT_EQ(paths.size(), 55);
    EXPECT_TRUE(missing(paths).isEmpty()) << missing(paths).join(", ").toStdString();
    EXPECT_EQ(QDir(":/colormaps").entryList().size(), 55);
}

TEST(ResourceBundleTest, Shaders)
{
    expectAll(prefixed(":/shaders/", {"glslProgramSimplePoints_vertex.glsl",
                                      "glslProgramSimplePoints_geometry.glsl",
                                      "glslProgramSimplePointsMarkers_fragment.glsl",
                                      "glslProgramBasicGL_vertex.glsl",
                                      "glslProgramBasicGL_geometry.glsl",
                                      "glslProgramBasicGL_fragment.glsl",
                                      "glslProgramSimplePoints_fragment.glsl",
                                      "glslProgramSimplePointsDensity_fragment.glsl",
                                      "glslProgramSimplePointsDensityOffscreen_vertex.glsl",
                                      "glslProgramSimplePointsDensityOffscreen_geometry.glsl",
                                      "glslProgramSimplePointsDensityOffscreen_fragment.glsl",
                                      "glslProgramGradientOffscreen_fragment.glsl",
                                      "glslProgramMeanShiftOffscreen_fragment.glsl"}));
}

TEST(ResourceBundleTest, SpadePages)
{
    expectAll(prefixed(":/spade/", {"spade.html", "spade_slave.html", "spade.css", "spade.globals.js", "spade.js",
                                    "spade.keys.js", "spade.testing.js", "spade.ui.js", "spade_slave.js"}));
}

TEST(ResourceBundleTest, HeatMapPage)
{
    expectAll(prefixed(":/heatmap/", {"heatmap.html", "heatmap.css", "heatmap.dendrogram.js", "heatmap.js",
                                      "heatmap.keys.js", "heatmap.ui.js"}));
}

TEST(ResourceBundleTest, HierarchyPages)
{
    const QStringList files{"hierarchy.html", "hierarchy.css", "hierarchy.js", "hierarchy.ui.js"};
    expectAll(prefixed(":/hierarchy/", files) + prefixed(":/hierarchy_icicle/", files));
}

TEST(ResourceBundleTest, HtmlControls)
{
    expectAll(prefixed(":/html_ui_elements/", {"checkbox.html", "checkbox.css", "dualslider.html",
                                               "dualslider.css", "spinner.html", "spinner.css"}));
}

TEST(ResourceBundleTest, PageTools)
{
    expectAll(prefixed(":/jstools/", {"colormaps.js", "debug_data.js", "globals.js", "tools.js", "ui.css", "ui.js"}));
}

TEST(ResourceBundleTest, EveryFileAPageOrStyleSheetNamesResolves)
{
    // Script sources, style sheet links and url(...) references, relative to
    // the page's folder as the web views resolve them from their base URL.
    const QRegularExpression reference(R"re((?:src|href)="([^"#:]+)"|url\('?([^')#:]+)'?\))re");
    int checked = 0;
    QStringList pages;
    for (const char* folder : {"About", "html_ui_elements", "jstools", "spade", "heatmap", "hierarchy",
                               "hierarchy_icicle"})
        for (QDirIterator files(QString(":/") + folder, {"*.html", "*.css"}, QDir::Files); files.hasNext();)
            pages << files.next();
    for (const QString& path : pages) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        const QDir folder = QFileInfo(path).dir();
        for (auto match = reference.globalMatch(text); match.hasNext();) {
            const auto found = match.next();
            const QString name = found.captured(1).isEmpty() ? found.captured(2) : found.captured(1);
            EXPECT_TRUE(QFile::exists(QDir::cleanPath(folder.filePath(name))))
                << path.toStdString() << " names " << name.toStdString();
            ++checked;
        }
    }
    EXPECT_GT(checked, 10);
}
