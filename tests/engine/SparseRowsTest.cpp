#include "vel/Embedding.h"
#include "vel/MapHelpers.h"
#include "vel/MapMemEff.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <map>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

using vel::Embedding;
using vel::MapMemEff;

namespace {

std::vector<std::pair<uint32_t, float>> entriesOf(const MapMemEff& row)
{
    std::vector<std::pair<uint32_t, float>> entries;
    for (const MapMemEff::Entry& entry : row)
        entries.emplace_back(entry.key, entry.value);
    return entries;
}

} // namespace

TEST(MapMemEff, BehavesLikeAnOrderedMap)
{
    MapMemEff row;
    row[5];
    row[1];
    row[3];
    EXPECT_EQ(entriesOf(row), (std::vector<std::pair<uint32_t, float>>{{1, 0.f}, {3, 0.f}, {5, 0.f}}));

    std::mt19937 generator(3);
    std::uniform_int_distribution<uint32_t> key(0, 3000);
    std::map<uint32_t, float> model;
    MapMemEff tested;
    for (int i = 0; i < 10000; ++i) {
        const uint32_t k = key(generator);
        const float value = static_cast<float>(i % 7);
        model[k] += value;
        tested[k] += value;
    }
    const std::vector<std::pair<uint32_t, float>> expected(model.begin(), model.end());
    EXPECT_EQ(entriesOf(tested), expected);
    EXPECT_EQ(tested.valueOf(3001), 0.f);
}

TEST(MapHelpers, KeepsOrderedValuesAboveTheThresholdOnly)
{
    const std::map<uint32_t, float> source{{2, 0.f}, {4, 0.5f}, {7, 0.25f}, {9, -1.f}, {11, 1.f}};
    MapMemEff row;
    vel::MapHelpers::initialize(row, source, 0.f);
    EXPECT_EQ(entriesOf(row), (std::vector<std::pair<uint32_t, float>>{{4, 0.5f}, {7, 0.25f}, {11, 1.f}}));
    EXPECT_EQ(row.capacity(), 3u);
    try {
        vel::MapHelpers::initialize(row, source, 0.f);
        FAIL() << "a filled row";
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(), "MapMemEff::initialize: map is not empty");
    }
    const std::vector<std::pair<uint32_t, float>> unordered{{1, 1.f}, {1, 2.f}};
    MapMemEff empty;
    try {
        vel::MapHelpers::initialize(empty, unordered, 0.f);
        FAIL() << "repeated key";
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(), "MapHelpers::initialize: input data is not ordered");
    }
    EXPECT_TRUE(empty.empty());
}

TEST(Embedding, BoundingBoxesPaddedAndSquare)
{
    Embedding embedding;
    embedding.initialize(2, 2, 0);
    embedding.coordinates() = {0, 0, 10, 4};
    std::vector<float> box;
    embedding.computeBoundingBox(box);
    EXPECT_EQ(box, (std::vector<float>{0, 10, 0, 4}));
    embedding.computeBoundingBox(box, 0.1f);
    EXPECT_NEAR(box[1] - box[0], 11, 1e-5);
    EXPECT_NEAR(box[3] - box[2], 4.4, 1e-5);
    embedding.computeBoundingBox(box, 0.1f, true);
    EXPECT_NEAR(box[1] - box[0], 10 / 0.9, 1e-5);
    EXPECT_NEAR(box[3] - box[2], 10 / 0.9, 1e-5);
    EXPECT_NEAR(box[2] + box[3], 4, 1e-5);  // around each dimension's centre
    EXPECT_THROW(embedding.computeBoundingBox(box, 1.f), std::logic_error);
    EXPECT_THROW(embedding.computeBoundingBox(box, -0.1f), std::logic_error);

    Embedding empty;
    empty.initialize(2, 0, 0);
    empty.computeBoundingBox(box, 0.1f, true);
    EXPECT_EQ(box, (std::vector<float>{FLT_MAX, -FLT_MAX, FLT_MAX, -FLT_MAX}));
}

TEST(Embedding, SmallEmbeddingsAreCentredAndScaledByDimensionZero)
{
    Embedding embedding;
    embedding.initialize(2, 2, 0);
    embedding.coordinates() = {0, 50, 1e-4f, -50};
    const float extent = 1e-4f;
    embedding.scaleIfSmallerThan(0.1f);
    const std::vector<float>& y = embedding.coordinates();
    EXPECT_NEAR(y[0], -0.05, 1e-6);
    EXPECT_NEAR(y[2], 0.05, 1e-6);
    EXPECT_FLOAT_EQ(y[1], 50 * (0.1f / extent));  // about 1000 times, whatever dimension 1 holds
    const std::vector<float> scaled = y;
    embedding.scaleIfSmallerThan(0.05f);  // large enough: unchanged
    EXPECT_EQ(embedding.coordinates(), scaled);

    // One point, or a collapsed dimension 0: centred, never NaN.
    Embedding single;
    single.initialize(2, 1, 0);
    single.coordinates() = {2, 3};
    single.scaleIfSmallerThan(0.1f);
    EXPECT_EQ(single.coordinates(), (std::vector<float>{0, 0}));
    Embedding line;
    line.initialize(2, 2, 0);
    line.coordinates() = {1, 0, 1, 4};
    line.scaleIfSmallerThan(0.1f);
    EXPECT_EQ(line.coordinates(), (std::vector<float>{0, -2, 0, 2}));
    line.clear();
    line.scaleIfSmallerThan(0.1f);
    line.zeroCentre();
    EXPECT_EQ(line.numberOfPoints(), 0u);
}
