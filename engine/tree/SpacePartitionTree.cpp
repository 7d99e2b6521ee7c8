#include "tree/SpacePartitionTree.h"

#include "parallel/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <stdexcept>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VESSARINE_REPULSION_PACKETS 1
#endif

namespace {

/// Lanes of one packet of points evaluated together, two per SSE2 register.
constexpr int kPacketVectors = 4;
constexpr int kPacketLanes = 2 * kPacketVectors;

} // namespace

namespace {

/// Deeper than any tree over finite coordinates gets (half-widths reach 0
/// after about 2100 halvings); only non-finite coordinates, which compare
/// unequal to everything, would subdivide forever. A node at this depth
/// keeps every further point as if it were a duplicate.
constexpr uint32_t kMaxDepth = 2200;

constexpr uint16_t kLost = 0xffff;

/// Subtrees with at most this many points are built as one task.
constexpr int64_t kSmallestTask = 2048;

/// Points per task when the points of the top nodes are partitioned.
constexpr int64_t kPartitionChunk = 16384;

} // namespace

template <typename T>
void SpacePartitionTree<T>::Store::reset(int childCount, int dimensions, const double* centre, uint32_t level)
{
    count = 0;
    allocateChildren(childCount, dimensions);
    std::copy_n(centre, dimensions, centres.begin());
    std::fill_n(levels.begin(), childCount, level);
    order.clear();
    stack.clear();
    counts.assign(static_cast<size_t>(childCount), 0);
}

template <typename T>
void SpacePartitionTree<T>::Store::reserveNodes(int64_t needed, int dimensions)
{
    // Storage only grows; nodes beyond count hold stale values until they
    // are allocated again.
    if (static_cast<int64_t>(nodes.size()) >= needed)
        return;
    const size_t size = std::max(static_cast<size_t>(needed), 2 * nodes.size());
    nodes.resize(size);
    centresOfMass.resize(size * dimensions);
    centres.resize(size * dimensions);
    levels.resize(size);
}

template <typename T>
int64_t SpacePartitionTree<T>::Store::allocateChildren(int childCount, int dimensions)
{
    const int64_t first = count;
    count += childCount;
    reserveNodes(count, dimensions);
    std::fill_n(nodes.begin() + first, childCount, Node{0, kNoPoint, -1});
    std::fill_n(centresOfMass.begin() + first * dimensions, static_cast<int64_t>(childCount) * dimensions, 0.0);
    return first;
}

template <typename T>
SpacePartitionTree<T>::SpacePartitionTree(int dimensions, const T* data, int n)
{
    build(dimensions, data, n);
}

template <typename T>
void SpacePartitionTree<T>::computeCells(const T* data, int n, std::vector<double>& rootCentre)
{
    const int d = dimensions_;
    std::vector<double> minimum(static_cast<size_t>(d), DBL_MAX);
    std::vector<double> maximum(static_cast<size_t>(d), -DBL_MAX);
    rootCentre.assign(static_cast<size_t>(d), 0.0);
    for (int i = 0; i < n; ++i) {
        const T* point = data + static_cast<int64_t>(i) * d;
        for (int k = 0; k < d; ++k) {
            const double value = point[k];
            rootCentre[k] += value;
            minimum[k] = std::min(minimum[k], value);
            maximum[k] = std::max(maximum[k], value);
        }
    }
    levelHalfWidths_.resize(static_cast<size_t>(kMaxDepth + 2) * d);
    levelLargestWidth_.resize(kMaxDepth + 2);
    for (int k = 0; k < d; ++k) {
        if (n > 0) {
            rootCentre[k] /= n;
            levelHalfWidths_[k] = std::max(rootCentre[k] - minimum[k], maximum[k] - rootCentre[k]) + 1e-5;
        } else {
            levelHalfWidths_[k] = 1e-5;
        }
    }
    for (uint32_t level = 0; level < kMaxDepth + 2; ++level) {
        double* widths = &levelHalfWidths_[static_cast<size_t>(level) * d];
        if (level > 0)
            for (int k = 0; k < d; ++k)
                widths[k] = widths[k - d] * 0.5;
        double largest = 0;
        for (int k = 0; k < d; ++k)
            largest = std::max(largest, widths[k]);
        levelLargestWidth_[level] = largest;
    }
}

template <typename T>
void SpacePartitionTree<T>::extendMeanFactors(int n)
{
    const size_t known = meanFactors_.size() / 2;
    if (known > static_cast<size_t>(n))
        return;
    meanFactors_.resize(2 * (static_cast<size_t>(n) + 1));
    for (size_t count = known; count <= static_cast<size_t>(n); ++count) {
        const double c = static_cast<double>(count);
        meanFactors_[2 * count] = (c - 1) / c;
        meanFactors_[2 * count + 1] = 1 / c;
    }
}

template <typename T>
template <int Dim>
bool SpacePartitionTree<T>::placeWithoutSubdividing(Store& store, const Pending& pending, int64_t& other)
{
    const int d = Dim > 0 ? Dim : dimensions_;
    const int64_t begin = pending.begin;
    const int64_t end = pending.end;
    const double* coordinates = partitionCoordinates_.data();
    store.nodes[pending.node].cumulativeSize = static_cast<uint32_t>(end - begin);
    if (begin == end)
        return true;
    // The first point is stored here, and copies of it that arrive before
    // any other point stop here too.
    const double* first = coordinates + begin * d;
    other = begin + 1;
    while (other < end && std::equal(first, first + d, coordinates + other * d))
        ++other;
    if (other < end && pending.level < kMaxDepth)
        return false;
    addRunningMean<Dim>(store, pending);
    store.order.insert(store.order.end(), partition_.begin() + begin, partition_.begin() + end);
    store.nodes[pending.node].storedIndex = static_cast<uint32_t>(partition_[begin]);
    return true;
}

template <typename T>
template <int Dim>
void SpacePartitionTree<T>::addRunningMean(Store& store, const Pending& pending) const
{
    // Every point that reached the node enters its mean, in insertion order.
    const int d = Dim > 0 ? Dim : dimensions_;
    const double* coordinates = partitionCoordinates_.data();
    double com[Dim > 0 ? Dim : kMaxDimensions] = {};
    for (int64_t j = pending.begin; j < pending.end; ++j) {
        const double keep = meanFactors_[2 * (j - pending.begin + 1)];
        const double add = meanFactors_[2 * (j - pending.begin + 1) + 1];
        for (int k = 0; k < d; ++k)
            com[k] = keep * com[k] + add * coordinates[j * d + k];
    }
    std::copy_n(com, d, &store.centresOfMass[pending.node * d]);
}

template <typename T>
template <int Dim>
void SpacePartitionTree<T>::subdivide(Store& store, const Pending& pending, ChildCells& cells) const
{
    // Child i lies below the centre in dimension k when bit k of i is set;
    // its closed cell in dimension k is one of two intervals.
    const int d = Dim > 0 ? Dim : dimensions_;
    const int64_t node = pending.node;
    cells.level = pending.level + 1;
    cells.firstChild = store.allocateChildren(childCount_, d);
    store.nodes[node].firstChild = cells.firstChild;
    const double* centre = &store.centres[node * d];
    const double* parentWidth = &levelHalfWidths_[static_cast<size_t>(pending.level) * d];
    const double* childWidth = &levelHalfWidths_[static_cast<size_t>(cells.level) * d];
    for (int k = 0; k < d; ++k) {
        const double lowCentre = centre[k] - parentWidth[k] * 0.5;
        const double highCentre = centre[k] + parentWidth[k] * 0.5;
        cells.below[k][0] = lowCentre - childWidth[k];
        cells.below[k][1] = lowCentre + childWidth[k];
        cells.above[k][0] = highCentre - childWidth[k];
        cells.above[k][1] = highCentre + childWidth[k];
    }
    for (int i = 0; i < childCount_; ++i) {
        double* childCentre = &store.centres[(cells.firstChild + i) * d];
        for (int k = 0; k < d; ++k)
            childCentre[k] = (i >> k) & 1 ? centre[k] - parentWidth[k] * 0.5 : centre[k] + parentWidth[k] * 0.5;
        store.levels[cells.firstChild + i] = cells.level;
    }
}

template <typename T>
template <int Dim>
inline uint16_t SpacePartitionTree<T>::chooseChild(int64_t position, const ChildCells& cells) const
{
    // The first child, in index order, whose closed cell holds the point.
    // Cells are products of intervals, so that child takes, dimension by
    // dimension, the interval of the clear bit whenever it holds the point.
    const int d = Dim > 0 ? Dim : dimensions_;
    const double* p = &partitionCoordinates_[position * d];
    unsigned inBelow = 0;
    unsigned inAbove = 0;
    for (int k = 0; k < d; ++k) {
        inBelow |= static_cast<unsigned>(!(p[k] < cells.below[k][0]) & !(p[k] > cells.below[k][1])) << k;
        inAbove |= static_cast<unsigned>(!(p[k] < cells.above[k][0]) & !(p[k] > cells.above[k][1])) << k;
    }
    const unsigned all = (1u << d) - 1;
    if ((inBelow | inAbove) != all)
        return kLost;
    return static_cast<uint16_t>(~inAbove & all);
}

template <typename T>
void SpacePartitionTree<T>::moveToScratch(int64_t from, int64_t to)
{
    const int d = dimensions_;
    partitionScratch_[to] = partition_[from];
    std::copy_n(&partitionCoordinates_[from * d], d, &coordinatesScratch_[to * d]);
}

template <typename T>
void SpacePartitionTree<T>::moveBackFromScratch(int64_t begin, int64_t end)
{
    const int d = dimensions_;
    std::copy(partitionScratch_.begin() + begin, partitionScratch_.begin() + end, partition_.begin() + begin);
    std::copy(coordinatesScratch_.begin() + begin * d, coordinatesScratch_.begin() + end * d,
              partitionCoordinates_.begin() + begin * d);
}

template <typename T>
void SpacePartitionTree<T>::pushChildren(Store& store, const ChildCells& cells, int64_t begin, const int64_t* ends)
{
    // Last child first, so that child 0 is placed next.
    for (int i = childCount_ - 1; i >= 0; --i) {
        const int64_t childBegin = i == 0 ? begin : ends[i - 1];
        store.stack.push_back(Pending{cells.firstChild + i, cells.level, childBegin, ends[i]});
    }
}

template <typename T>
template <int Dim>
void SpacePartitionTree<T>::placePoints(Store& store, const Pending& pending)
{
    int64_t other = 0;
    if (placeWithoutSubdividing<Dim>(store, pending, other))
        return;
    const int64_t begin = pending.begin;
    const int64_t end = pending.end;
    addRunningMean<Dim>(store, pending);
    ChildCells cells;
    subdivide<Dim>(store, pending, cells);

    // The stored point moves down first, then the others follow in order.
    int64_t* counts = store.counts.data();
    std::fill_n(counts, childCount_, 0);
    auto place = [&](int64_t j) {
        const uint16_t child = chooseChild<Dim>(j, cells);
        childOf_[j] = child;
        if (child == kLost)
            store.order.push_back(partition_[j]);
        else
            ++counts[child];
    };
    place(begin);
    store.order.insert(store.order.end(), partition_.begin() + begin + 1, partition_.begin() + other);
    for (int64_t j = other; j < end; ++j)
        place(j);

    int64_t offset = begin;
    for (int i = 0; i < childCount_; ++i) {
        const int64_t count = counts[i];
        counts[i] = offset;
        offset += count;
    }
    const int64_t placedEnd = offset;
    auto scatter = [&](int64_t j) {
        const uint16_t c = childOf_[j];
        if (c != kLost)
            moveToScratch(j, counts[c]++);
    };
    scatter(begin);
    for (int64_t j = other; j < end; ++j)
        scatter(j);
    moveBackFromScratch(begin, placedEnd);
    pushChildren(store, cells, begin, counts);
}

template <typename T>
template <int Dim>
void SpacePartitionTree<T>::placeLevelInParallel(const std::vector<Pending>& level, std::vector<Pending>& next,
                                                 int threads)
{
    // The same placement as placePoints for every node of the level at once:
    // the running means stay sequential (one task per node), the choice of
    // children and the stable partition run on chunks of the points.
    levelNodes_.clear();
    for (const Pending& pending : level) {
        LevelNode node;
        if (placeWithoutSubdividing<Dim>(tree_, pending, node.other))
            continue;
        node.pending = pending;
        subdivide<Dim>(tree_, pending, node.cells);
        levelNodes_.push_back(node);
    }
    levelChunks_.clear();
    for (size_t b = 0; b < levelNodes_.size(); ++b) {
        const Pending& pending = levelNodes_[b].pending;
        levelNodes_[b].firstChunk = static_cast<int64_t>(levelChunks_.size());
        for (int64_t begin = pending.begin; begin < pending.end; begin += kPartitionChunk)
            levelChunks_.push_back(LevelChunk{static_cast<int64_t>(b), begin, std::min(pending.end, begin + kPartitionChunk)});
    }
    const int64_t nodes = static_cast<int64_t>(levelNodes_.size());
    const int64_t chunks = static_cast<int64_t>(levelChunks_.size());
    const int children = childCount_;
    const int width = children + 1;   // the children, then the points that end here
    chunkCounts_.assign(static_cast<size_t>(chunks) * width, 0);
    WorkerPool& pool = WorkerPool::shared();

    pool.run(threads, nodes + chunks, [&](int64_t task) {
        if (task < nodes) {
            addRunningMean<Dim>(tree_, levelNodes_[task].pending);
            return;
        }
        const LevelChunk& chunk = levelChunks_[task - nodes];
        const LevelNode& node = levelNodes_[chunk.node];
        int64_t* counts = &chunkCounts_[static_cast<size_t>(task - nodes) * width];
        for (int64_t j = chunk.begin; j < chunk.end; ++j) {
            // Copies of the stored point that came before any other point end here.
            const uint16_t child =
                j > node.pending.begin && j < node.other ? kLost : chooseChild<Dim>(j, node.cells);
            childOf_[j] = child;
            ++counts[child == kLost ? children : child];
        }
    });

    // Every chunk's count becomes the start of its points in each child.
    levelEnds_.resize(static_cast<size_t>(nodes) * children);
    for (int64_t b = 0; b < nodes; ++b) {
        LevelNode& node = levelNodes_[b];
        const int64_t lastChunk = b + 1 < nodes ? levelNodes_[b + 1].firstChunk : chunks;
        int64_t offset = node.pending.begin;
        for (int i = 0; i < children; ++i) {
            for (int64_t u = node.firstChunk; u < lastChunk; ++u) {
                int64_t& count = chunkCounts_[static_cast<size_t>(u) * width + i];
                const int64_t chunkCount = count;
                count = offset;
                offset += chunkCount;
            }
            levelEnds_[static_cast<size_t>(b) * children + i] = offset;
        }
        node.ending = node.pending.end - offset;
    }

    pool.run(threads, chunks, [&](int64_t task) {
        const LevelChunk& chunk = levelChunks_[task];
        int64_t* starts = &chunkCounts_[static_cast<size_t>(task) * width];
        for (int64_t j = chunk.begin; j < chunk.end; ++j) {
            const uint16_t c = childOf_[j];
            if (c != kLost)
                moveToScratch(j, starts[c]++);
        }
    });
    // The placed points of a node fill the start of its range.
    pool.run(threads, chunks, [&](int64_t task) {
        const LevelChunk& chunk = levelChunks_[task];
        const int64_t placedEnd = levelEnds_[static_cast<size_t>(chunk.node + 1) * children - 1];
        if (chunk.begin < placedEnd)
            moveBackFromScratch(chunk.begin, std::min(chunk.end, placedEnd));
    });

    for (int64_t b = 0; b < nodes; ++b) {
        const LevelNode& node = levelNodes_[b];
        const Pending& pending = node.pending;
        // Copies that stopped here and points no child holds end their way here.
        if (node.ending > 0)
            for (int64_t j = pending.begin; j < pending.end; ++j)
                if (childOf_[j] == kLost)
                    tree_.order.push_back(partition_[j]);
        const int64_t* ends = &levelEnds_[static_cast<size_t>(b) * children];
        for (int i = 0; i < children; ++i)
            next.push_back(Pending{node.cells.firstChild + i, node.cells.level, i == 0 ? pending.begin : ends[i - 1],
                                   ends[i]});
    }
}

template <typename T>
void SpacePartitionTree<T>::buildSubtree(Store& store, const Pending& root)
{
    store.stack.push_back(root);
    while (!store.stack.empty()) {
        const Pending pending = store.stack.back();
        store.stack.pop_back();
        if (dimensions_ == 2)
            placePoints<2>(store, pending);
        else
            placePoints<0>(store, pending);
    }
}

template <typename T>
void SpacePartitionTree<T>::mergeSubtree(const Store& store, int64_t node, int64_t base)
{
    const int d = dimensions_;
    const int64_t children = childCount_;
    auto relocate = [&](Node entry) {
        if (entry.firstChild >= 0)
            entry.firstChild = entry.firstChild - children + base;
        return entry;
    };
    tree_.nodes[node] = relocate(store.nodes[0]);
    std::copy_n(store.centresOfMass.begin(), d, tree_.centresOfMass.begin() + node * d);
    const int64_t count = store.count - children;
    for (int64_t j = 0; j < count; ++j)
        tree_.nodes[base + j] = relocate(store.nodes[children + j]);
    std::copy_n(store.centresOfMass.begin() + children * d, count * d, tree_.centresOfMass.begin() + base * d);
    std::copy_n(store.centres.begin() + children * d, count * d, tree_.centres.begin() + base * d);
    std::copy_n(store.levels.begin() + children, count, tree_.levels.begin() + base);
}

template <typename T>
int64_t SpacePartitionTree<T>::takePoints(const T* data, int n, const std::vector<double>& rootCentre, int threads)
{
    // Points outside the root cell (possible only through rounding at huge
    // coordinates) are refused, like any insertion outside a cell. Usually
    // there are none, and every point is copied to its own place at once.
    const int d = dimensions_;
    auto inside = [&](const T* p) {
        for (int k = 0; k < d; ++k) {
            const double value = p[k];
            if (value < rootCentre[k] - levelHalfWidths_[k] || value > rootCentre[k] + levelHalfWidths_[k])
                return false;
        }
        return true;
    };
    std::atomic<bool> allInside{true};
    WorkerPool::shared().forChunks(threads, n, kPartitionChunk, [&](int64_t begin, int64_t end) {
        bool chunkInside = true;
        for (int64_t i = begin; i < end; ++i) {
            const T* p = data + i * d;
            chunkInside = chunkInside && inside(p);
            std::copy_n(p, d, &partitionCoordinates_[i * d]);
            partition_[i] = static_cast<int32_t>(i);
        }
        if (!chunkInside)
            allInside.store(false, std::memory_order_relaxed);
    });
    if (allInside.load())
        return n;
    int64_t accepted = 0;
    for (int i = 0; i < n; ++i) {
        const T* p = data + static_cast<int64_t>(i) * d;
        if (inside(p)) {
            std::copy_n(p, d, &partitionCoordinates_[accepted * d]);
            partition_[accepted++] = i;
        } else {
            tree_.order.push_back(i);
        }
    }
    return accepted;
}

template <typename T>
void SpacePartitionTree<T>::build(int dimensions, const T* data, int n, int threads)
{
    if (dimensions < 1 || dimensions > kMaxDimensions)
        throw std::logic_error("SpacePartitionTree supports 1 to 15 dimensions.");
    dimensions_ = dimensions;
    childCount_ = 1 << dimensions;
    data_ = data;
    const int d = dimensions;

    std::vector<double> rootCentre;
    computeCells(data, n, rootCentre);
    tree_.reset(childCount_, d, rootCentre.data(), 0);
    extendMeanFactors(n);
    partition_.resize(static_cast<size_t>(n));
    partitionCoordinates_.resize(static_cast<size_t>(n) * d);
    partitionScratch_.resize(static_cast<size_t>(n));
    coordinatesScratch_.resize(static_cast<size_t>(n) * d);
    childOf_.resize(static_cast<size_t>(n));
    const int64_t accepted = takePoints(data, n, rootCentre, threads);

    if (threads <= 1) {
        tree_.stack.push_back(Pending{0, 0, 0, accepted});
        while (!tree_.stack.empty()) {
            const Pending pending = tree_.stack.back();
            tree_.stack.pop_back();
            if (d == 2)
                placePoints<2>(tree_, pending);
            else
                placePoints<0>(tree_, pending);
        }
        return;
    }

    // The top of the tree is built here, level by level, each level's nodes
    // larger than a task together, with their points split among the
    // threads; smaller subtrees become tasks built side by side and then
    // copied behind the top.
    const int64_t taskSize = std::max(kSmallestTask, accepted / (4 * threads));
    subtreeRoots_.clear();
    std::vector<Pending>& level = levelPending_;
    std::vector<Pending>& next = nextLevelPending_;
    level.assign(1, Pending{0, 0, 0, accepted});
    while (!level.empty()) {
        next.clear();
        largeNodes_.clear();
        for (const Pending& pending : level) {
            const int64_t size = pending.end - pending.begin;
            if (size > taskSize)
                largeNodes_.push_back(pending);
            else if (size > 1)
                subtreeRoots_.push_back(pending);
            else if (d == 2)
                placePoints<2>(tree_, pending);
            else
                placePoints<0>(tree_, pending);
        }
        if (!largeNodes_.empty()) {
            if (d == 2)
                placeLevelInParallel<2>(largeNodes_, next, threads);
            else
                placeLevelInParallel<0>(largeNodes_, next, threads);
        }
        std::swap(level, next);
    }
    if (subtreeRoots_.empty())
        return;
    // Largest first keeps the threads evenly loaded.
    std::stable_sort(subtreeRoots_.begin(), subtreeRoots_.end(), [](const Pending& a, const Pending& b) {
        return a.end - a.begin > b.end - b.begin;
    });

    const int64_t tasks = static_cast<int64_t>(subtreeRoots_.size());
    if (subtreeStores_.size() < subtreeRoots_.size())
        subtreeStores_.resize(subtreeRoots_.size());
    WorkerPool& pool = WorkerPool::shared();
    pool.run(threads, tasks, [&](int64_t t) {
        const Pending& root = subtreeRoots_[t];
        Store& store = subtreeStores_[t];
        store.reset(childCount_, d, &tree_.centres[root.node * d], root.level);
        buildSubtree(store, Pending{0, root.level, root.begin, root.end});
    });

    // Every subtree's nodes and points get their place behind the top.
    std::vector<int64_t>& bases = subtreeBases_;
    bases.resize(static_cast<size_t>(tasks) + 1);
    int64_t total = tree_.count;
    for (int64_t t = 0; t < tasks; ++t) {
        bases[t] = total;
        total += subtreeStores_[t].count - childCount_;
    }
    tree_.reserveNodes(total, d);
    tree_.count = total;
    std::vector<int64_t>& orderStarts = subtreeOrderStarts_;
    orderStarts.resize(static_cast<size_t>(tasks));
    int64_t ordered = static_cast<int64_t>(tree_.order.size());
    for (int64_t t = 0; t < tasks; ++t) {
        orderStarts[t] = ordered;
        ordered += static_cast<int64_t>(subtreeStores_[t].order.size());
    }
    tree_.order.resize(static_cast<size_t>(ordered));
    pool.run(threads, tasks, [&](int64_t t) {
        const Store& store = subtreeStores_[t];
        mergeSubtree(store, subtreeRoots_[t].node, bases[t]);
        std::copy(store.order.begin(), store.order.end(), tree_.order.begin() + orderStarts[t]);
    });
}

namespace {

/// The Barnes-Hut test w / sqrt(d2) < theta. The squares settle it without
/// division or root unless they lie within 1e-9 of each other (or outside
/// the range where their rounding is relative); then the exact expression
/// decides, so the outcome is always that of the exact expression.
inline bool farEnough(double width, double distanceSquared, double theta, double thetaSquared)
{
    const double lhs = width * width;
    const double rhs = thetaSquared * distanceSquared;
    if (lhs > 1e-290 && rhs > 1e-290 && lhs < 1e290 && rhs < 1e290) {
        if (lhs < rhs * (1 - 1e-9))
            return true;
        if (lhs > rhs * (1 + 1e-9))
            return false;
    }
    return width / std::sqrt(distanceSquared) < theta;
}

} // namespace

template <typename T>
template <int Dim>
inline bool SpacePartitionTree<T>::contributeOrOpen(int64_t node, uint32_t level, uint32_t index,
                                                    const Query& query, double* negativeForce, double& sumQ) const
{
    const Node& entry = tree_.nodes[node];
    if (entry.cumulativeSize == 0)
        return false;
    const bool leaf = entry.firstChild < 0;
    if (leaf && entry.storedIndex == index)
        return false;
    const int d = Dim > 0 ? Dim : dimensions_;
    const double* com = &tree_.centresOfMass[node * d];
    double diff[Dim > 0 ? Dim : kMaxDimensions];
    double distanceSquared = 0;
    for (int k = 0; k < d; ++k) {
        diff[k] = query.y[k] - com[k];
        distanceSquared += diff[k] * diff[k];
    }
    if (!leaf && !farEnough(levelLargestWidth_[level], distanceSquared, query.theta, query.thetaSquared))
        return true;
    const double q = 1 / (1 + distanceSquared);
    const double m = entry.cumulativeSize * q;
    sumQ += m;
    const double mq = m * q;
    for (int k = 0; k < d; ++k)
        negativeForce[k] += mq * diff[k];
    return false;
}

template <typename T>
template <int Dim>
void SpacePartitionTree<T>::accumulate(int64_t node, uint32_t level, uint32_t index, const Query& query,
                                       double* negativeForce, double& sumQ) const
{
    const int64_t firstChild = tree_.nodes[node].firstChild;
    for (int i = 0; i < childCount_; ++i)
        if (contributeOrOpen<Dim>(firstChild + i, level + 1, index, query, negativeForce, sumQ))
            accumulate<Dim>(firstChild + i, level + 1, index, query, negativeForce, sumQ);
}

template <typename T>
template <int Dim>
void SpacePartitionTree<T>::descend(uint32_t index, const Query& query, double* negativeForce, double& sumQ) const
{
    if (contributeOrOpen<Dim>(root(), 0, index, query, negativeForce, sumQ))
        accumulate<Dim>(root(), 0, index, query, negativeForce, sumQ);
}

template <typename T>
void SpacePartitionTree<T>::computeRepulsiveForces(int index, double theta, double* negativeForce,
                                                   double& sumQ) const
{
    const int d = dimensions_;
    Query query;
    query.theta = theta;
    query.thetaSquared = theta * theta;
    double force[kMaxDimensions];
    for (int k = 0; k < d; ++k) {
        query.y[k] = data_[static_cast<int64_t>(index) * d + k];
        force[k] = negativeForce[k];
    }
    double sum = sumQ;
    const uint32_t self = static_cast<uint32_t>(index);
    if (d == 2)
        descend<2>(self, query, force, sum);
    else if (d == 3)
        descend<3>(self, query, force, sum);
    else
        descend<0>(self, query, force, sum);
    for (int k = 0; k < d; ++k)
        negativeForce[k] = force[k];
    sumQ = sum;
}

template <typename T>
void SpacePartitionTree<T>::computeRepulsiveForces(const int32_t* points, int64_t count, double theta,
                                                   double* negativeForces, double* sums) const
{
    const int d = dimensions_;
#if VESSARINE_REPULSION_PACKETS
    if (d == 2) {
        for (int64_t j = 0; j < count; j += kPacketLanes)
            repelPacket(points + j, static_cast<int>(std::min<int64_t>(kPacketLanes, count - j)), theta,
                        negativeForces, sums);
        return;
    }
#endif
    for (int64_t j = 0; j < count; ++j) {
        const int64_t i = points[j];
        double* force = negativeForces + i * d;
        std::fill_n(force, d, 0.0);
        double sum = 0;
        computeRepulsiveForces(static_cast<int>(i), theta, force, sum);
        sums[i] = sum;
    }
}

#if VESSARINE_REPULSION_PACKETS

namespace {

/// `bits` (two lanes) as an all-ones or all-zeros mask per lane.
inline __m128d laneMask(unsigned bits)
{
    return _mm_castsi128_pd(_mm_set_epi64x(bits & 2 ? -1 : 0, bits & 1 ? -1 : 0));
}

inline __m128d select(__m128d mask, __m128d yes, __m128d no)
{
    return _mm_or_pd(_mm_and_pd(mask, yes), _mm_andnot_pd(mask, no));
}

inline double lane(__m128d vector, int l)
{
    return l == 0 ? _mm_cvtsd_f64(vector) : _mm_cvtsd_f64(_mm_unpackhi_pd(vector, vector));
}

} // namespace

/// Points of a two-dimensional embedding evaluated together: the same
/// arithmetic as one evaluation per point, lane by lane, so every point's
/// sums come out bit for bit the same.
template <typename T>
struct SpacePartitionTree<T>::Packet
{
    __m128d x[kPacketVectors];
    __m128d y[kPacketVectors];
    __m128d forceX[kPacketVectors];
    __m128d forceY[kPacketVectors];
    __m128d sum[kPacketVectors];
    __m128i index[kPacketLanes / 4];   ///< the lanes' points, four per register
    __m128d theta;
    __m128d thetaSquared;
    double thetaScalar;
};

template <typename T>
inline unsigned SpacePartitionTree<T>::visitWithPacket(int64_t node, uint32_t level, unsigned active,
                                                       Packet& packet) const
{
    const Node& entry = tree_.nodes[node];
    if (entry.cumulativeSize == 0)
        return 0;
    const bool leaf = entry.firstChild < 0;
    if (leaf) {
        // A lane skips the leaf that stores its own point.
        const __m128i stored = _mm_set1_epi32(static_cast<int>(entry.storedIndex));
        for (int v = 0; v < kPacketLanes / 4; ++v) {
            const __m128i same = _mm_cmpeq_epi32(packet.index[v], stored);
            active &= ~(static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(same))) << (4 * v));
        }
        if (active == 0)
            return 0;
    }
    const double* com = &tree_.centresOfMass[node * 2];
    const __m128d comX = _mm_set1_pd(com[0]);
    const __m128d comY = _mm_set1_pd(com[1]);
    __m128d diffX[kPacketVectors], diffY[kPacketVectors], distanceSquared[kPacketVectors];
    for (int v = 0; v < kPacketVectors; ++v) {
        diffX[v] = _mm_sub_pd(packet.x[v], comX);
        diffY[v] = _mm_sub_pd(packet.y[v], comY);
        distanceSquared[v] = _mm_add_pd(_mm_mul_pd(diffX[v], diffX[v]), _mm_mul_pd(diffY[v], diffY[v]));
    }
    unsigned open = 0;
    if (!leaf) {
        // farEnough lane by lane: the squares settle it unless they lie too
        // close to each other or out of range; then the exact expression.
        const double width = levelLargestWidth_[level];
        const double lhs = width * width;
        const bool lhsInRange = lhs > 1e-290 && lhs < 1e290;
        const __m128d left = _mm_set1_pd(lhs);
        unsigned far = 0;
        unsigned decided = 0;
        for (int v = 0; v < kPacketVectors; ++v) {
            const __m128d rhs = _mm_mul_pd(packet.thetaSquared, distanceSquared[v]);
            const __m128d inRange =
                _mm_and_pd(_mm_cmpgt_pd(rhs, _mm_set1_pd(1e-290)), _mm_cmplt_pd(rhs, _mm_set1_pd(1e290)));
            const __m128d yes = _mm_and_pd(inRange, _mm_cmplt_pd(left, _mm_mul_pd(rhs, _mm_set1_pd(1 - 1e-9))));
            const __m128d no = _mm_and_pd(inRange, _mm_cmpgt_pd(left, _mm_mul_pd(rhs, _mm_set1_pd(1 + 1e-9))));
            far |= static_cast<unsigned>(_mm_movemask_pd(yes)) << (2 * v);
            decided |= static_cast<unsigned>(_mm_movemask_pd(_mm_or_pd(yes, no))) << (2 * v);
        }
        if (!lhsInRange) {
            far = 0;
            decided = 0;
        }
        for (unsigned undecided = active & ~decided; undecided != 0; undecided &= undecided - 1) {
            const int l = __builtin_ctz(undecided);
            if (width / std::sqrt(lane(distanceSquared[l / 2], l % 2)) < packet.thetaScalar)
                far |= 1u << l;
        }
        open = active & ~far;
        active &= far;
    }
    if (active != 0) {
        const __m128d one = _mm_set1_pd(1.0);
        const __m128d size = _mm_set1_pd(static_cast<double>(entry.cumulativeSize));
        for (int v = 0; v < kPacketVectors; ++v) {
            const unsigned bits = (active >> (2 * v)) & 3u;
            if (bits == 0)
                continue;
            const __m128d mask = laneMask(bits);
            const __m128d q = _mm_div_pd(one, _mm_add_pd(one, distanceSquared[v]));
            const __m128d m = _mm_mul_pd(size, q);
            const __m128d mq = _mm_mul_pd(m, q);
            packet.sum[v] = select(mask, _mm_add_pd(packet.sum[v], m), packet.sum[v]);
            packet.forceX[v] = select(mask, _mm_add_pd(packet.forceX[v], _mm_mul_pd(mq, diffX[v])), packet.forceX[v]);
            packet.forceY[v] = select(mask, _mm_add_pd(packet.forceY[v], _mm_mul_pd(mq, diffY[v])), packet.forceY[v]);
        }
    }
    return open;
}

template <typename T>
#if defined(__GNUC__)
__attribute__((flatten))
#endif
void SpacePartitionTree<T>::descendWithPacket(int64_t node, uint32_t level, unsigned active, Packet& packet) const
{
    const int64_t firstChild = tree_.nodes[node].firstChild;
    for (int i = 0; i < 4; ++i) {
        const unsigned open = visitWithPacket(firstChild + i, level + 1, active, packet);
        if (open != 0)
            descendWithPacket(firstChild + i, level + 1, open, packet);
    }
}

template <typename T>
void SpacePartitionTree<T>::repelPacket(const int32_t* points, int count, double theta, double* negativeForces,
                                        double* sums) const
{
    Packet packet;
    double x[kPacketLanes] = {}, y[kPacketLanes] = {};
    alignas(16) uint32_t index[kPacketLanes];
    for (int l = 0; l < kPacketLanes; ++l) {
        index[l] = l < count ? static_cast<uint32_t>(points[l]) : kNoPoint;
        if (l < count) {
            x[l] = data_[static_cast<int64_t>(points[l]) * 2];
            y[l] = data_[static_cast<int64_t>(points[l]) * 2 + 1];
        }
    }
    for (int v = 0; v < kPacketLanes / 4; ++v)
        packet.index[v] = _mm_load_si128(reinterpret_cast<const __m128i*>(index + 4 * v));
    for (int v = 0; v < kPacketVectors; ++v) {
        packet.x[v] = _mm_set_pd(x[2 * v + 1], x[2 * v]);
        packet.y[v] = _mm_set_pd(y[2 * v + 1], y[2 * v]);
        packet.forceX[v] = _mm_setzero_pd();
        packet.forceY[v] = _mm_setzero_pd();
        packet.sum[v] = _mm_setzero_pd();
    }
    packet.thetaScalar = theta;
    packet.theta = _mm_set1_pd(theta);
    packet.thetaSquared = _mm_set1_pd(theta * theta);
    const unsigned all = (1u << count) - 1;
    const unsigned open = visitWithPacket(root(), 0, all, packet);
    if (open != 0)
        descendWithPacket(root(), 0, open, packet);
    for (int l = 0; l < count; ++l) {
        const int64_t i = points[l];
        negativeForces[i * 2] = lane(packet.forceX[l / 2], l % 2);
        negativeForces[i * 2 + 1] = lane(packet.forceY[l / 2], l % 2);
        sums[i] = lane(packet.sum[l / 2], l % 2);
    }
}

#endif

template class SpacePartitionTree<double>;
template class SpacePartitionTree<float>;
