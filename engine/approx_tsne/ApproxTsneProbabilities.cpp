#include "approx_tsne/ApproxTsneProbabilities.h"

#include "parallel/WorkerPool.h"

#include <omp.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

ApproxTsneProbabilities::ApproxTsneProbabilities(int n)
{
    reset(n);
}

void ApproxTsneProbabilities::reset(int n)
{
    N = n < 0 ? 0 : n;
    const size_t count = static_cast<size_t>(N);
    knnOffsets.assign(count + 1, 0);
    knnKeys.clear();
    knnValues.clear();
    rowSums.assign(count, 0.0);
    precisions.assign(count, 0.0);
    exaggerationWeights.assign(count, 1.0);
    jointOffsets.assign(count + 1, 0);
    jointKeys.clear();
    jointFirstValues.clear();
    jointSecondValues.clear();
    normalisation = 0;
}

void ApproxTsneProbabilities::releaseKnnRows()
{
    std::vector<int64_t>().swap(knnOffsets);
    std::vector<int32_t>().swap(knnKeys);
    std::vector<double>().swap(knnValues);
}

void ApproxTsneProbabilities::computeKlDivergence(const double* embedding, int dimensions, double sumQ,
                                                  double& total, double& minimum, double& maximum) const
{
    // Every point's sum on its own, then the sums combined in point order,
    // whatever the thread count.
    std::vector<double> pointSums(static_cast<size_t>(N));
    const double floatMin = FLT_MIN;
    WorkerPool::shared().forChunks(omp_get_max_threads(), N, 4096, [&](int64_t begin, int64_t end) {
        for (int64_t i = begin; i < end; ++i) {
            double pointSum = 0;
            const double* yi = embedding + i * dimensions;
            for (int64_t e = jointRowBegin(static_cast<int>(i)); e < jointRowEnd(static_cast<int>(i)); ++e) {
                const double* yj = embedding + static_cast<int64_t>(jointKeys[e]) * dimensions;
                double distanceSquared = 0;
                for (int d = 0; d < dimensions; ++d) {
                    const double diff = yi[d] - yj[d];
                    distanceSquared += diff * diff;
                }
                const double p = jointProbability(static_cast<int>(i), e);
                const double q = 1.0 / (1.0 + distanceSquared) / sumQ;
                pointSum += p * std::log((p + floatMin) / (q + floatMin));
            }
            pointSums[i] = pointSum;
        }
    });
    total = 0;
    minimum = DBL_MAX;
    maximum = -DBL_MAX;
    for (const double pointSum : pointSums) {
        total += pointSum;
        maximum = std::max(maximum, pointSum);
        minimum = std::min(minimum, pointSum);
    }
}
