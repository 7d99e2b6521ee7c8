// The bundle's colour-map images: sizes, orientation, and the maps whose
// colours are ours exactly (the stepped ones and the discrete picker images).
#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>

namespace {

using Rgb = std::array<int, 3>;

Rgb pixel(const QImage& image, int x, int y)
{
    const QRgb c = image.pixel(x, y);
    return {qRed(c), qGreen(c), qBlue(c)};
}

Rgb hex(const char* text)
{
    const QColor c(text);
    return {c.red(), c.green(), c.blue()};
}

bool near(const Rgb& a, const Rgb& b, int tolerance)
{
    for (int c = 0; c < 3; ++c)
        if (std::abs(a[c] - b[c]) > tolerance)
            return false;
    return true;
}

QImage load(const QString& name)
{
    return QImage(":/colormaps/" + name + ".png").convertToFormat(QImage::Format_RGB888);
}

const QStringList allMaps{"BrBG", "BuPu", "GnBu", "Magma", "PiYG", "Plasma", "PuOr", "Q_BlGrRd", "RdBu", "RdPu",
                          "RdYlBu", "RdYlGn", "Reds", "Spectral", "Viridis", "YlGn", "YlGnBu", "YlOrBr", "YlOrRd",
                          "qualitative"};
const QStringList pickerMaps{"Spectral", "RdYlBu", "PiYG", "PuOr", "Magma", "Plasma", "Viridis", "RdPu",
                             "YlGnBu", "GnBu", "BuPu", "YlOrRd", "Reds", "qualitative", "Q_BlGrRd"};

} // namespace

TEST(ColormapImagesTest, StripsAndVerticalImagesAgree)
{
    for (const QString& name : allMaps) {
        SCOPED_TRACE(name.toStdString());
        const QImage strip = load(name);
        const QImage vertical = load(name + "_vert");
        ASSERT_EQ(strip.size(), QSize(200, 1));
        ASSERT_EQ(vertical.size(), QSize(24, 168));
        // Low values at the bottom of the vertical image, every row one colour.
        EXPECT_EQ(pixel(vertical, 0, 167), pixel(strip, 0, 0));
        EXPECT_EQ(pixel(vertical, 0, 0), pixel(strip, 199, 0));
        for (int y = 0; y < 168; ++y)
            ASSERT_EQ(pixel(vertical, 0, y), pixel(vertical, 23, y)) << y;
    }
}

TEST(ColormapImagesTest, EndsAndDirections)
{
    EXPECT_TRUE(near(pixel(load("Viridis"), 0, 0), hex("#440154"), 1));
    EXPECT_TRUE(near(pixel(load("Viridis"), 199, 0), hex("#fde725"), 1));
    // Spectral runs from the interpolator's end (violet blue) to its start (dark red).
    EXPECT_TRUE(near(pixel(load("Spectral"), 0, 0), hex("#5e4fa2"), 2));
    EXPECT_TRUE(near(pixel(load("Spectral"), 199, 0), hex("#9e0142"), 2));
    // Sequential maps that are not reversed start light.
    EXPECT_TRUE(near(pixel(load("Reds"), 0, 0), hex("#fff5f0"), 2));
    EXPECT_TRUE(near(pixel(load("Reds"), 199, 0), hex("#67000d"), 2));
}

TEST(ColormapImagesTest, SteppedMapsHoldElevenExactBands)
{
    const std::array<const char*, 11> set3{"#8dd3c7", "#ffffb3", "#bebada", "#fb8072", "#80b1d3", "#fdb462",
                                           "#b3de69", "#fccde5", "#d9d9d9", "#bc80bd", "#ccebc5"};
    const Rgb blue{33, 102, 172}, grey{186, 186, 186}, red{178, 24, 43};
    std::array<Rgb, 11> blueGreyRed;
    for (int k = 0; k < 11; ++k) {
        const Rgb& from = k <= 5 ? blue : grey;
        const Rgb& to = k <= 5 ? grey : red;
        const double w = k <= 5 ? k / 5.0 : (k - 5) / 5.0;
        for (int c = 0; c < 3; ++c)
            blueGreyRed[k][c] = static_cast<int>(std::floor(from[c] + (to[c] - from[c]) * w + 0.5));
    }
    const QImage qualitative = load("qualitative");
    const QImage stepped = load("Q_BlGrRd");
    for (int i = 0; i < 200; ++i) {
        const int band = 11 * i / 200;
        ASSERT_EQ(pixel(qualitative, i, 0), hex(set3[band])) << i;
        ASSERT_EQ(pixel(stepped, i, 0), blueGreyRed[band]) << i;
    }
    // Each discrete level j / 10 falls inside band j, away from its edges.
    for (int j = 0; j <= 10; ++j) {
        const int texel = std::min(199, 20 * j);
        EXPECT_EQ(11 * texel / 200, j);
        EXPECT_EQ(11 * std::max(0, texel - 1) / 200, j);
    }
}

TEST(ColormapImagesTest, DiscretePickerImagesShowTheElevenRenderedLevels)
{
    for (const QString& name : pickerMaps) {
        SCOPED_TRACE(name.toStdString());
        const QImage strip = load(name);
        const QImage discrete = load(name + "_vert_disc");
        ASSERT_EQ(discrete.size(), QSize(24, 168));
        for (int fromBottom = 0; fromBottom < 168; ++fromBottom) {
            const int level = 11 * fromBottom / 168;
            // The strip at level / 10, sampled as a linear, clamped texture.
            const double u = std::clamp(level / 10.0 * 200 - 0.5, 0.0, 199.0);
            const int i0 = static_cast<int>(u);
            const int i1 = std::min(i0 + 1, 199);
            const double w = u - i0;
            Rgb expected;
            for (int c = 0; c < 3; ++c)
                expected[c] = static_cast<int>(
                    std::lround(pixel(strip, i0, 0)[c] * (1 - w) + pixel(strip, i1, 0)[c] * w));
            ASSERT_TRUE(near(pixel(discrete, 5, 167 - fromBottom), expected, 1)) << fromBottom;
        }
    }
}
