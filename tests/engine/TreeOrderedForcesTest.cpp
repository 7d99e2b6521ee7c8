#include "tree/TreeOrderedForces.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

TEST(TreeOrderedForces, AttractionIsThePlainLoopBitForBit)
{
    // Rows of every length from 0 up, odd and even, over an embedding that
    // moves between evaluations while the rows keep their layout.
    for (int d : {2, 3}) {
        const int n = 4000;
        std::mt19937 generator(31 + d);
        std::normal_distribution<double> normal(0.0, 5.0);
        std::uniform_real_distribution<double> uniform(0.0, 1.0);
        std::vector<int64_t> offsets(1, 0);
        std::vector<int32_t> keys;
        std::vector<double> probabilities;
        for (int i = 0; i < n; ++i) {
            for (int e = 0; e < i % 41; ++e) {
                keys.push_back(static_cast<int32_t>(generator() % n));
                probabilities.push_back(uniform(generator) * 1e-4);
            }
            offsets.push_back(static_cast<int64_t>(keys.size()));
        }
        std::vector<double> weights(static_cast<size_t>(n));
        for (double& weight : weights)
            weight = 1 + 11 * uniform(generator);
        std::vector<double> y(static_cast<size_t>(n) * d);
        TreeOrderedForces forces;
        SpacePartitionTree<double> tree;
        for (int evaluation = 0; evaluation < 3; ++evaluation) {
            for (double& value : y)
                value = normal(generator);
            tree.build(d, y.data(), n, 8);
            std::vector<double> attraction(y.size(), -1.0);
            const auto value = [&](int, int64_t e) { return probabilities[e]; };
            forces.computeAttraction(tree, y.data(), n, d, offsets.data(), keys.data(), value, weights.data(),
                                     attraction.data(), 8);
            for (int i = 0; i < n; ++i) {
                double sum[3] = {0, 0, 0};
                for (int64_t e = offsets[i]; e < offsets[i + 1]; ++e) {
                    double diff[3], distanceSquared = 0;
                    for (int k = 0; k < d; ++k) {
                        diff[k] = y[i * d + k] - y[keys[e] * d + k];
                        distanceSquared += diff[k] * diff[k];
                    }
                    const double factor = probabilities[e] * weights[i] / (1 + distanceSquared);
                    for (int k = 0; k < d; ++k)
                        sum[k] += factor * diff[k];
                }
                ASSERT_EQ(std::memcmp(&attraction[i * d], sum, sizeof(double) * d), 0)
                    << "point " << i << ", " << d << " dimensions, evaluation " << evaluation;
            }
        }
    }
}
