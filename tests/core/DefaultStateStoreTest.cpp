#include "data/DefaultStateStore.h"

#include <gtest/gtest.h>

namespace {

TEST(DefaultStateStoreTest, KeysByFileNameAndReplacesWholeMaps)
{
    DefaultStateStore* store = DefaultStateStore::instance();
    EXPECT_EQ(store, DefaultStateStore::instance());

    const std::string a = DefaultStateStore::sampleKey("/data/day1/patient.fcs");
    const std::string b = DefaultStateStore::sampleKey("/data/day2/patient.fcs");
    EXPECT_EQ(a, "patient.fcs");
    EXPECT_EQ(a, b);
    EXPECT_EQ(DefaultStateStore::sampleKey("bare.fcs"), "bare.fcs");
    // Only a slash separates: a backslash is part of the file name.
    EXPECT_EQ(DefaultStateStore::sampleKey("/data/back\\slash.fcs"), "back\\slash.fcs");

    store->setSampleColors({{a, {1.0f, 0.5f, 0.0f}}, {"other.fcs", {0, 0, 1}}});
    store->sampleColors[b] = {0.0f, 1.0f, 0.0f};
    EXPECT_EQ(store->sampleColors.size(), 2u);
    EXPECT_EQ(store->sampleColors[a], (std::vector<float>{0.0f, 1.0f, 0.0f}));
    store->setSampleColors({});
    EXPECT_TRUE(store->sampleColors.empty());

    store->setSampleSelection({{"z.fcs", true}, {"B.fcs", false}, {"a.fcs", true}});
    // Ordered by byte comparison: upper case first.
    EXPECT_EQ(store->sampleSelection.begin()->first, "B.fcs");
    store->setSampleSelection({{a, false}});
    EXPECT_EQ(store->sampleSelection.size(), 1u);

    std::vector<bool> states = {true, false, true};
    store->setMarkerStates(states);
    EXPECT_TRUE(states.empty());
    EXPECT_EQ(store->markerStates, (std::vector<bool>{true, false, true}));
}

} // namespace
