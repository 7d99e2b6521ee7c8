#include "hsne/HierarchicalSne.h"

#include "helpers/clock.h"
#include "knn/NeighbourSearch.h"
#include "sparse/RowTranspose.h"
#include "vel/MapHelpers.h"
#include "vel/utils/LogProgress.h"
#include "vel/utils/ScopedTimer.h"
#include "vel/utils/logValue.h"

#include <omp.h>

#include <algorithm>
#include <climits>
#include <numeric>
#include <optional>
#include <string>
#include <utility>

namespace vel {

namespace {

const char* const kStatisticLabels[HierarchicalSne::StatisticCount] = {
    "Total time",
    "\tAKNN graph computation time",
    "\tTransition probabilities computation time",
    "\tFMC computation time",
    "\tMarkov Chain Monte Carlo sampling time",
    "\tLandmark selection time",
    "\tLndks Slct #walks",
    "\tArea of Influence computation time",
    "\tFMC computation time",
    "\tAoI #walks",
    "\tIs sparsity (%)",
    "\tTs sparsity (%)",
    "\tTs effective sparsity (%)",
};
const int kStatisticTabs[HierarchicalSne::StatisticCount] = {1, 2, 1, 3, 1, 2, 3, 1, 3, 4, 3, 3, 2};

/// Walk limits of the two procedures.
constexpr int kInCoreWalkLimit = 100;
constexpr int kOutOfCoreWalkLimit = 200;
/// Transition entries at or below this are dropped out of core, and
/// entries above the cut count as effective.
constexpr float kOutOfCoreCut = 0.001f;
constexpr float kInCoreCut = 0.01f;

/// Consecutive points that share one random stream.
constexpr uint32_t kPointsPerStream = 256;

/// Calls visit(point, engine) for every point. Each block of consecutive
/// points draws from its own stream, seeded by (seed, block), point after
/// point, on whichever thread takes the block: the walks do not depend on
/// the thread count, and seeding a Mersenne Twister per point would cost
/// more than the point's walks.
template <typename Visit>
void forEachPointWithItsStream(uint32_t n, uint32_t seed, Visit visit)
{
    const int64_t blocks = (static_cast<int64_t>(n) + kPointsPerStream - 1) / kPointsPerStream;
#pragma omp parallel for schedule(dynamic, 1)
    for (int64_t block = 0; block < blocks; ++block) {
        std::seed_seq sequence{seed, static_cast<uint32_t>(block)};
        std::mt19937 engine(sequence);
        const uint32_t first = static_cast<uint32_t>(block * kPointsPerStream);
        const uint32_t end = static_cast<uint32_t>(std::min<int64_t>(n, (block + 1) * kPointsPerStream));
        for (uint32_t point = first; point < end; ++point)
            visit(point, engine);
    }
}

/// A walk step by scanning the row: the first key whose running sum of
/// values exceeds the draw, or point 0 when none does.
struct ScannedRows
{
    const std::vector<MapMemEff>& rows;

    uint32_t operator()(uint32_t from, std::mt19937& engine) const
    {
        const double draw = HierarchicalSne::uniform(engine);
        float running = 0;
        for (const MapMemEff::Entry& entry : rows[from]) {
            running += entry.value;
            if (running > draw)
                return entry.key;
        }
        return 0;
    }
};

/// The same step by binary search over each row's running sums. The sums
/// are the scan's own float additions in key order, and never decrease, so
/// the key found is the scan's; the long rows of upper scales no longer cost
/// a step per entry. Keys and sums lie side by side in one flat array, so a
/// step reads two places of memory, not four.
class SummedRows
{
public:
    explicit SummedRows(const std::vector<MapMemEff>& rows)
        : offsets_(rows.size() + 1, 0)
    {
        for (size_t r = 0; r < rows.size(); ++r)
            offsets_[r + 1] = offsets_[r] + static_cast<int64_t>(rows[r].size());
        entries_.resize(static_cast<size_t>(offsets_.back()));
#pragma omp parallel for schedule(dynamic, 1024)
        for (int64_t r = 0; r < static_cast<int64_t>(rows.size()); ++r) {
            float running = 0;
            int64_t e = offsets_[r];
            for (const MapMemEff::Entry& entry : rows[r])
                entries_[e++] = MapMemEff::Entry{entry.key, running += entry.value};
        }
    }

    uint32_t operator()(uint32_t from, std::mt19937& engine) const
    {
        const double draw = HierarchicalSne::uniform(engine);
        const MapMemEff::Entry* begin = entries_.data() + offsets_[from];
        const MapMemEff::Entry* end = entries_.data() + offsets_[from + 1];
        const MapMemEff::Entry* at =
            std::upper_bound(begin, end, draw, [](double u, const MapMemEff::Entry& sum) { return u < sum.value; });
        return at == end ? 0 : at->key;
    }

private:
    std::vector<int64_t> offsets_;
    std::vector<MapMemEff::Entry> entries_;  ///< keys with the running sums up to them
};

template <typename Step>
uint32_t walkFrom(uint32_t start, int steps, const Step& step, std::mt19937& engine)
{
    uint32_t point = start;
    for (int s = 0; s < steps; ++s)
        point = step(point, engine);
    return point;
}

template <typename Step>
int64_t walkToFirstLandmark(uint32_t start, const std::vector<int32_t>& previousToLandmark, int limit,
                            const Step& step, std::mt19937& engine)
{
    uint32_t point = start;
    for (int s = 1; s <= limit + 1; ++s) {
        point = step(point, engine);
        if (previousToLandmark[point] >= 0)
            return s <= limit ? static_cast<int64_t>(point) : -1;
    }
    return -1;
}

float hitShare(float hits, int walks)
{
    return hits / static_cast<float>(walks);
}

void turnHitsIntoShares(std::vector<MapMemEff>& areas, int walks)
{
#pragma omp parallel for schedule(dynamic, 1024)
    for (int64_t i = 0; i < static_cast<int64_t>(areas.size()); ++i)
        for (MapMemEff::Entry& entry : areas[i])
            entry.value = hitShare(entry.value, walks);
}

/// Divides every row by its sum (summed in key order); a row that sums to
/// 0 is emptied. Counts the entries and those above `cut`.
void normaliseRows(std::vector<MapMemEff>& rows, float cut, uint64_t& entries, uint64_t& effective)
{
    uint64_t total = 0;
    uint64_t above = 0;
    const int64_t count = static_cast<int64_t>(rows.size());
#pragma omp parallel for schedule(dynamic, 256) reduction(+ : total, above)
    for (int64_t r = 0; r < count; ++r) {
        MapMemEff& row = rows[r];
        float sum = 0;
        for (const MapMemEff::Entry& entry : row)
            sum += entry.value;
        if (!(sum > 0)) {
            row = MapMemEff();
            continue;
        }
        for (MapMemEff::Entry& entry : row) {
            entry.value /= sum;
            above += entry.value > cut;
        }
        total += row.size();
    }
    entries = total;
    effective = above;
}

/// The areas of influence transposed: per landmark, the previous points
/// whose area holds it, in point order, with their values.
TransposedRows<uint32_t, float> transposeAreas(const HierarchicalSne::Scale& scale, uint64_t entries)
{
    return transposeRows<uint32_t, float>(
        static_cast<int>(scale.areaOfInfluence.size()), static_cast<int>(scale.size()),
        static_cast<int64_t>(entries), [&](int i, auto visit) {
            for (const MapMemEff::Entry& entry : scale.areaOfInfluence[i])
                visit(entry.key, entry.value);
        });
}

uint64_t entryCount(const std::vector<MapMemEff>& rows)
{
    uint64_t entries = 0;
    for (const MapMemEff& row : rows)
        entries += row.size();
    return entries;
}

/// 1 - part / whole, computed without 0 / 0.
float sparsity(uint64_t part, double whole)
{
    return whole > 0 ? static_cast<float>(1 - static_cast<double>(part) / whole) : 0.0f;
}

/// Transition row of landmark l: sum over the previous points i whose
/// area holds l, in point order, of x_il x_iv w_prev(i) for every other
/// landmark v of i's area, both values above `threshold`. `finish` turns
/// the (key, value) pairs into the row.
template <typename Finish>
void accumulateTransitionRows(const HierarchicalSne::Scale& previous, HierarchicalSne::Scale& scale,
                              const TransposedRows<uint32_t, float>& transposed, float threshold,
                              utils::LogProgress* progress, Finish finish)
{
    const uint32_t landmarks = scale.size();
#pragma omp parallel
    {
        // A dense accumulator with the keys touched: each entry sums in
        // point order, as an ordered map filled point by point would.
        std::vector<float> dense(landmarks, 0.0f);
        std::vector<uint8_t> seen(landmarks, 0);
        std::vector<uint32_t> touched;
        std::vector<std::pair<uint32_t, float>> pairs;
#pragma omp for schedule(dynamic, 64)
        for (int64_t l = 0; l < static_cast<int64_t>(landmarks); ++l) {
            for (int64_t e = transposed.offsets[l]; e < transposed.offsets[l + 1]; ++e) {
                const float own = transposed.values[e];
                if (!(own > threshold))
                    continue;
                const uint32_t i = transposed.keys[e];
                const float weight = previous.landmarkWeights[i];
                for (const MapMemEff::Entry& other : scale.areaOfInfluence[i]) {
                    if (other.key == l || !(other.value > threshold))
                        continue;
                    if (!seen[other.key]) {
                        seen[other.key] = 1;
                        touched.push_back(other.key);
                    }
                    dense[other.key] += own * other.value * weight;
                }
            }
            std::sort(touched.begin(), touched.end());
            pairs.clear();
            for (uint32_t v : touched) {
                pairs.emplace_back(v, dense[v]);
                dense[v] = 0;
                seen[v] = 0;
            }
            touched.clear();
            finish(scale.transitionMatrix[l], pairs);
            if (progress)
                progress->step();
        }
    }
}

} // namespace

float HierarchicalSne::Scale::memorySize() const
{
    uint64_t bytes = (landmarkToDataPoint.capacity() + landmarkToPreviousScale.capacity()
                      + previousScaleToLandmark.capacity() + landmarkWeights.size())
        * 4;
    bytes += (entryCount(transitionMatrix) + entryCount(areaOfInfluence)) * sizeof(MapMemEff::Entry);
    return static_cast<float>(static_cast<double>(bytes) / (1024 * 1024));
}

HierarchicalSne::HierarchicalSne()
{
    statistics_.fill(-1);
}

void HierarchicalSne::say(const char* text) const
{
    if (log_)
        log_->display(text, false);
}

void HierarchicalSne::setDimensionality(int dimensionality)
{
    if (initialized_)
        throw std::logic_error("Class should be uninitialized to change the dimensionality");
    if (dimensionality <= 0)
        throw std::logic_error("Invalid dimensionality");
    dimensionality_ = dimensionality;
}

void HierarchicalSne::initialize(const float* data, uint32_t n, const Parameters& parameters)
{
    // FLANN asked for more neighbours than points answers with index 0 and
    // unwritten distances, so such input is refused before the search.
    if (dimensionality_ <= 0)
        throw std::logic_error("Invalid dimensionality");
    if (parameters.neighbours < 1)
        throw std::logic_error("The hierarchical SNE needs at least 1 neighbour.");
    if (n < static_cast<uint64_t>(parameters.neighbours) + 1 || n > static_cast<uint32_t>(INT_MAX))
        throw std::logic_error("The hierarchical SNE needs at least neighbours + 1 = "
                               + std::to_string(parameters.neighbours + 1) + " points, got " + std::to_string(n)
                               + ".");
    statistics_.fill(-1);
    utils::ScopedTimer timer(statistics_[TotalTime]);
    say("Initializing Hierarchical-SNE...");
    parameters_ = parameters;
    data_ = data;
    n_ = n;
    utils::logValue(log_, "Number of data points", n_, true, 1);
    initializeFirstScale();
    initialized_ = true;
    say("Initialization complete!");
}

void HierarchicalSne::initializeFirstScale()
{
    say("Initializing the first scale...");
    scales_.clear();
    scales_.emplace_back();
    const int n = static_cast<int>(n_);
    const int k = parameters_.neighbours;
    const int columns = k + 1;
    std::vector<int> neighbours;
    std::vector<float> probabilities;
    std::vector<int32_t> order;

    say("Computing the neighborhood graph...");
    {
        utils::ScopedTimer timer(statistics_[NeighbourGraphTime]);
        NeighbourSearch<float> search;
        say("\tBuilding the trees...");
        search.build(data_, n, dimensionality_, parameters_.trees,
                     parameters_.seed < 1 ? std::nullopt
                                          : std::optional<uint32_t>(static_cast<uint32_t>(parameters_.seed)));
        say("\tAKNN queries...");
        search.search(columns, parameters_.checks, 0, neighbours, probabilities);
        order = search.order();
    }
    say("\tFMC computation...");
    {
        utils::ScopedTimer timer(statistics_[TransitionProbabilitiesTime]);
        const double perplexity = k / 3;
#pragma omp parallel
        {
            std::vector<float> fitted(static_cast<size_t>(columns));
#pragma omp for schedule(static)
            for (int p = 0; p < n; ++p) {
                int* row = &neighbours[static_cast<size_t>(p) * columns];
                float* distances = &probabilities[static_cast<size_t>(p) * columns];
                // The point itself goes to column 0 (a duplicate may have
                // come first); a point missing from its own row stays so.
                for (int c = 1; c < columns && row[0] != order[p]; ++c)
                    if (row[c] == order[p]) {
                        std::swap(row[0], row[c]);
                        std::swap(distances[0], distances[c]);
                    }
                fitGaussianToPerplexity(distances, distances + columns, fitted.begin(), fitted.end(), perplexity,
                                        200, 1e-5, 0);
                distances[0] = 0;
                std::copy(fitted.begin() + 1, fitted.end(), distances + 1);
            }
        }
    }

    say("Creating transition matrix...");
    {
        utils::ScopedTimer timer(statistics_[FirstScaleChainTime]);
        Scale& scale = scales_[0];
        scale.landmarkToDataPoint.resize(n_);
        std::iota(scale.landmarkToDataPoint.begin(), scale.landmarkToDataPoint.end(), 0u);
        scale.landmarkToPreviousScale = scale.landmarkToDataPoint;
        scale.landmarkWeights.assign(n_, 1.0f);
        scale.transitionMatrix.resize(n_);
#pragma omp parallel
        {
            // Keys in order; a neighbour listed twice keeps its later value.
            std::vector<std::pair<uint32_t, int>> sorted(static_cast<size_t>(k));
#pragma omp for schedule(static)
            for (int p = 0; p < n; ++p) {
                const size_t first = static_cast<size_t>(p) * columns;
                for (int c = 1; c < columns; ++c)
                    sorted[c - 1] = {static_cast<uint32_t>(neighbours[first + c]), c};
                std::sort(sorted.begin(), sorted.end());
                MapMemEff& row = scale.transitionMatrix[order[p]];
                row.reserve(static_cast<size_t>(k));
                for (const auto& [key, column] : sorted) {
                    if (!row.empty() && (row.end() - 1)->key == key)
                        (row.end() - 1)->value = probabilities[first + column];
                    else
                        row.appendLargest(key, probabilities[first + column]);
                }
                row.shrink_to_fit();
            }
        }
    }
    utils::logValue(log_, "Min memory requirements (MB)", scales_[0].memorySize(), true, 1);
}

uint32_t HierarchicalSne::procedureSeed() const
{
    return parameters_.seed < 1 ? static_cast<uint32_t>(orb::currentTicks()) : static_cast<uint32_t>(parameters_.seed);
}

uint32_t HierarchicalSne::randomWalk(uint32_t start, int steps, const std::vector<MapMemEff>& transitions,
                                     std::mt19937& engine)
{
    return walkFrom(start, steps, ScannedRows{transitions}, engine);
}

int64_t HierarchicalSne::walkToLandmark(uint32_t start, const std::vector<int32_t>& previousToLandmark, int limit,
                                        const std::vector<MapMemEff>& transitions, std::mt19937& engine)
{
    return walkToFirstLandmark(start, previousToLandmark, limit, ScannedRows{transitions}, engine);
}

void HierarchicalSne::selectLandmarksMonteCarlo(const Scale& previous, Scale& scale, uint32_t& landmarks)
{
    const uint32_t n = previous.size();
    say("Landmark selection...");
    std::vector<uint32_t> visits(n, 0);
    int64_t threshold = 0;
    {
        utils::ScopedTimer timer(statistics_[MonteCarloSamplingTime]);
        const uint32_t seed = procedureSeed();
        say("Monte Carlo Approximation...");
        const int walks = parameters_.walksPerPoint;
        const int steps = parameters_.walkLength + 1;
        const SummedRows rows(previous.transitionMatrix);
        forEachPointWithItsStream(n, seed, [&](uint32_t i, std::mt19937& engine) {
            for (int w = 0; w < walks; ++w) {
                const uint32_t end = walkFrom(i, steps, rows, engine);
#pragma omp atomic
                ++visits[end];
            }
        });
        statistics_[LandmarkSelectionWalks] = static_cast<float>(static_cast<double>(walks) * n);
        threshold = static_cast<int64_t>(walks * parameters_.landmarkThreshold);
    }
    utils::ScopedTimer timer(statistics_[LandmarkSelectionTime]);
    say("Selection...");
    scale = Scale();
    scale.previousScaleToLandmark.assign(n, -1);
    scale.areaOfInfluence.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
        if (visits[i] <= threshold)
            continue;
        scale.previousScaleToLandmark[i] = static_cast<int32_t>(scale.landmarkToDataPoint.size());
        scale.landmarkToDataPoint.push_back(previous.landmarkToDataPoint[i]);
        scale.landmarkToPreviousScale.push_back(i);
    }
    landmarks = scale.size();
    scale.landmarkWeights.assign(landmarks, 0.0f);
    scale.transitionMatrix.resize(landmarks);
}

void HierarchicalSne::selectLandmarksFixedReduction(const Scale& previous, Scale& scale, uint32_t& landmarks)
{
    const uint32_t n = previous.size();
    utils::ScopedTimer timer(statistics_[LandmarkSelectionTime]);
    say("Landmark selection with fixed reduction...");
    const uint64_t sought = static_cast<uint64_t>(static_cast<double>(n) * parameters_.reduction);
    std::mt19937 engine(procedureSeed());
    scale = Scale();
    scale.previousScaleToLandmark.assign(n, -1);
    scale.areaOfInfluence.resize(n);
    // A reduction of 1 or more, or walks that collapse onto a few points,
    // would never find every landmark sought.
    const uint64_t walkLimit = sought * 1000;
    uint64_t walks = 0;
    const int steps = parameters_.fixedReductionWalkLength + 1;
    const SummedRows rows(previous.transitionMatrix);
    while (scale.size() < sought) {
        if (walks == walkLimit) {
            say("\tFixed reduction: stopped after 1000 walks per landmark sought");
            break;
        }
        const uint32_t start = static_cast<uint32_t>(uniform(engine) * n);
        const uint32_t end = walkFrom(start, steps, rows, engine);
        ++walks;
        if (scale.previousScaleToLandmark[end] >= 0)
            continue;
        scale.previousScaleToLandmark[end] = static_cast<int32_t>(scale.size());
        scale.landmarkToDataPoint.push_back(previous.landmarkToDataPoint[end]);
        scale.landmarkToPreviousScale.push_back(end);
    }
    landmarks = scale.size();
    scale.landmarkWeights.assign(landmarks, 0.0f);
    scale.transitionMatrix.resize(landmarks);
    statistics_[LandmarkSelectionWalks] =
        static_cast<float>(static_cast<double>(walks) * parameters_.fixedReductionWalkLength);
}

void HierarchicalSne::countLandmarkHits(const Scale& previous, Scale& scale, int limit, uint32_t seed,
                                        bool progress)
{
    const uint32_t n = previous.size();
    const int walks = parameters_.areaOfInfluenceWalks;
    utils::LogProgress lines(progress && verbose_ ? log_ : nullptr, static_cast<int32_t>(n), 50000,
                             "Area of influence");
    if (progress)
        lines.start();
    const SummedRows rows(previous.transitionMatrix);
    forEachPointWithItsStream(n, seed, [&](uint32_t i, std::mt19937& engine) {
        std::vector<int32_t> hits;
        hits.reserve(static_cast<size_t>(std::max(walks, 0)));
        for (int w = 0; w < walks; ++w) {
            const int64_t hit = walkToFirstLandmark(i, scale.previousScaleToLandmark, limit, rows, engine);
            if (hit >= 0)
                hits.push_back(scale.previousScaleToLandmark[hit]);
        }
        std::sort(hits.begin(), hits.end());
        size_t distinct = 0;
        for (size_t h = 0; h < hits.size(); ++h)
            distinct += h == 0 || hits[h] != hits[h - 1];
        MapMemEff& row = scale.areaOfInfluence[i];
        row = MapMemEff();
        row.reserve(distinct);
        for (size_t h = 0; h < hits.size();) {
            size_t next = h;
            while (next < hits.size() && hits[next] == hits[h])
                ++next;
            row.appendLargest(static_cast<uint32_t>(hits[h]), static_cast<float>(next - h));
            h = next;
        }
        if (progress)
            lines.step();
    });
    if (progress)
        lines.finish();
}

void HierarchicalSne::computeScaleInCore(const Scale& previous, Scale& scale)
{
    const uint32_t n = previous.size();
    const uint32_t landmarks = scale.size();
    const int walks = parameters_.areaOfInfluenceWalks;
    const uint32_t seed = procedureSeed();
    say("\tComputing area of influence...");
    {
        utils::ScopedTimer timer(statistics_[AreaOfInfluenceTime]);
        countLandmarkHits(previous, scale, kInCoreWalkLimit, seed, false);
        const uint64_t entries = entryCount(scale.areaOfInfluence);
        TransposedRows<uint32_t, float> transposed = transposeAreas(scale, entries);
        // Pairs are pruned on the hit counts, and contribute h(l) h(v) w_prev.
        accumulateTransitionRows(previous, scale, transposed, parameters_.areaOfInfluencePruneThreshold, nullptr,
                                 [](MapMemEff& row, const std::vector<std::pair<uint32_t, float>>& pairs) {
                                     row = MapMemEff();
                                     row.reserve(pairs.size());
                                     for (const auto& [key, value] : pairs)
                                         row.appendLargest(key, value);
                                 });
        // Areas of influence are hit shares; each weight sums share x w_prev
        // over the previous points in point order.
        for (int64_t e = 0; e < static_cast<int64_t>(entries); ++e)
            transposed.values[e] = hitShare(transposed.values[e], walks);
#pragma omp parallel for schedule(dynamic, 256)
        for (int64_t l = 0; l < static_cast<int64_t>(landmarks); ++l) {
            float weight = 0;
            for (int64_t e = transposed.offsets[l]; e < transposed.offsets[l + 1]; ++e)
                weight += transposed.values[e] * previous.landmarkWeights[transposed.keys[e]];
            scale.landmarkWeights[l] = weight;
        }
        turnHitsIntoShares(scale.areaOfInfluence, walks);
        statistics_[AreaOfInfluenceWalks] = static_cast<float>(static_cast<double>(walks) * n);
        statistics_[AreaOfInfluenceSparsity] = sparsity(entries, static_cast<double>(landmarks) * n);
    }
    normaliseTransitions(scale, kInCoreCut);
}

void HierarchicalSne::computeScaleOutOfCore(const Scale& previous, Scale& scale)
{
    const uint32_t n = previous.size();
    const uint32_t landmarks = scale.size();
    const int walks = parameters_.areaOfInfluenceWalks;
    const uint32_t seed = procedureSeed();
    say("\tComputing area of influence...");
    {
        utils::ScopedTimer timer(statistics_[AreaOfInfluenceTime]);
        countLandmarkHits(previous, scale, kOutOfCoreWalkLimit, seed, true);
        turnHitsIntoShares(scale.areaOfInfluence, walks);

        say("\tCaching weights...");
        uint64_t entries = 0;
        for (const MapMemEff& row : scale.areaOfInfluence) {
            for (const MapMemEff::Entry& entry : row)
                scale.landmarkWeights[entry.key] += entry.value;
            entries += row.size();
        }

        say("\tInverting the AoI matrix...");
        const TransposedRows<uint32_t, float> transposed = transposeAreas(scale, entries);

        say("\tComputing similarities...");
        utils::LogProgress lines(verbose_ ? log_ : nullptr, static_cast<int32_t>(landmarks), 5000, "Similarities");
        lines.start();
        // Pairs are pruned on the hit shares; each row is normalised and
        // keeps the entries above the cut.
        accumulateTransitionRows(previous, scale, transposed, parameters_.areaOfInfluencePruneThreshold * 0.01f,
                                 &lines, [](MapMemEff& row, std::vector<std::pair<uint32_t, float>>& pairs) {
                                     float sum = 0;
                                     for (const auto& pair : pairs)
                                         sum += pair.second;
                                     row = MapMemEff();
                                     if (!(sum > 0))
                                         return;
                                     for (auto& pair : pairs)
                                         pair.second /= sum;
                                     MapHelpers::initialize(row, pairs, kOutOfCoreCut);
                                     row.shrink_to_fit();
                                 });
        lines.finish();
        statistics_[AreaOfInfluenceWalks] = static_cast<float>(static_cast<double>(walks) * n);
        statistics_[AreaOfInfluenceSparsity] = sparsity(entries, static_cast<double>(landmarks) * n);
    }
    normaliseTransitions(scale, kOutOfCoreCut);
}

void HierarchicalSne::normaliseTransitions(Scale& scale, float cut)
{
    say("\tComputing finite markov chain...");
    utils::ScopedTimer timer(statistics_[ChainTime]);
    uint64_t entries = 0, effective = 0;
    normaliseRows(scale.transitionMatrix, cut, entries, effective);
    const double squared = static_cast<double>(scale.size()) * scale.size();
    statistics_[TransitionSparsity] = sparsity(entries, squared);
    statistics_[TransitionEffectiveSparsity] = sparsity(effective, squared);
}

bool HierarchicalSne::selectLandmarks(const Scale& previous, Scale& scale)
{
    uint32_t landmarks = 0;
    if (parameters_.monteCarloSelection)
        selectLandmarksMonteCarlo(previous, scale, landmarks);
    else
        selectLandmarksFixedReduction(previous, scale, landmarks);
    utils::logValue(log_, "\t#landmarks", landmarks, true, 1);
    if (landmarks >= 2)
        return true;
    // A scale of fewer than 2 landmarks has no transitions to embed.
    say("\tFewer than 2 landmarks: no scale is added");
    return false;
}

bool HierarchicalSne::addScaleInCore()
{
    utils::ScopedTimer timer(statistics_[TotalTime]);
    say("Add a new scale ...");
    Scale scale;
    if (!selectLandmarks(scales_.back(), scale))
        return false;
    computeScaleInCore(scales_.back(), scale);
    utils::logValue(log_, "Min memory requirements (MB)", scale.memorySize(), true, 1);
    scales_.push_back(std::move(scale));
    return true;
}

bool HierarchicalSne::addScaleOutOfCore()
{
    utils::ScopedTimer timer(statistics_[TotalTime]);
    say("Add a new scale with out-of-core implementation ...");
    Scale scale;
    if (!selectLandmarks(scales_.back(), scale))
        return false;
    computeScaleOutOfCore(scales_.back(), scale);
    scales_.push_back(std::move(scale));
    return true;
}

bool HierarchicalSne::addScale()
{
    if (scales_.empty())
        throw std::logic_error("HierarchicalSne::addScale: the first scale does not exist yet");
    statistics_.fill(-1);
    bool added = false;
    {
        // The procedure's own timer has written the total time when the
        // block is printed; this one overwrites it with the whole call's.
        utils::ScopedTimer timer(statistics_[TotalTime]);
        added = parameters_.outOfCore ? addScaleOutOfCore() : addScaleInCore();
        logStatistics(log_);
    }
    return added;
}

void HierarchicalSne::influenceOverScales(uint32_t point, std::vector<MapMemEff>& maps, float threshold,
                                          bool normalise) const
{
    const auto normaliseMap = [normalise](MapMemEff& map) {
        if (!normalise)
            return;
        float sum = 0;
        for (const MapMemEff::Entry& entry : map)
            sum += entry.value;
        if (sum > 0)
            for (MapMemEff::Entry& entry : map)
                entry.value /= sum;
    };
    // The rows keep their storage from call to call: callers run this once
    // per data point.
    maps.resize(scales_.size());
    for (MapMemEff& map : maps)
        map.clear();
    if (scales_.empty())
        return;
    maps[0].appendLargest(point, 1.0f);
    if (scales_.size() == 1)
        return;
    maps[1] = scales_[1].areaOfInfluence[point];
    normaliseMap(maps[1]);
    // Each landmark's sum in a dense slot, added in the order a sorted row
    // would receive them, so the values are the same to the bit.
    thread_local std::vector<float> sums;
    thread_local std::vector<char> seen;
    thread_local std::vector<uint32_t> touched;
    for (size_t s = 2; s < scales_.size(); ++s) {
        const size_t landmarks = scales_[s].size();
        if (sums.size() < landmarks) {
            sums.resize(landmarks, 0.0f);
            seen.resize(landmarks, 0);
        }
        touched.clear();
        for (const MapMemEff::Entry& entry : maps[s - 1]) {
            if (!(entry.value >= threshold))
                continue;
            for (const MapMemEff::Entry& area : scales_[s].areaOfInfluence[entry.key]) {
                if (!seen[area.key]) {
                    seen[area.key] = 1;
                    touched.push_back(area.key);
                }
                sums[area.key] += area.value * entry.value;
            }
        }
        std::sort(touched.begin(), touched.end());
        MapMemEff& map = maps[s];
        map.reserve(touched.size());
        for (uint32_t key : touched) {
            map.appendLargest(key, sums[key]);
            sums[key] = 0.0f;
            seen[key] = 0;
        }
        normaliseMap(map);
    }
}

void HierarchicalSne::logStatistics(utils::AbstractLog* log) const
{
    if (!log)
        return;
    log->display("\n--------------- Hierarchical-SNE Statistics ------------------", false);
    for (int s = 0; s < StatisticCount; ++s) {
        if (s != TotalTime && statistics_[s] == -1)
            continue;
        const bool share = s >= AreaOfInfluenceSparsity;
        utils::logValue(log, kStatisticLabels[s], share ? statistics_[s] * 100 : statistics_[s], true,
                        kStatisticTabs[s]);
    }
    log->display("--------------------------------------------------------------\n", false);
}

} // namespace vel
