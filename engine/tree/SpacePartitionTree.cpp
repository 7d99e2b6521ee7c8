#include "tree/SpacePartitionTree.h"

#include <omp.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <stdexcept>

namespace {

/// Deeper than any tree over finite coordinates gets (half-widths reach 0
/// after about 2100 halvings); only non-finite coordinates, which compare
/// unequal to everything, would subdivide forever. A node at this depth
/// keeps every further point as if it were a duplicate.
constexpr uint32_t kMaxDepth = 2200;

constexpr uint16_t kLost = 0xffff;

/// Subtrees with at most this many points are built as one task.
constexpr int64_t kSmallestTask = 2048;

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
void SpacePartitionTree<T>::placePointsInParallel(const Pending& pending, int threads)
{
    // The same placement as placePoints for a node of many points: the
    // running mean stays sequential, the choice of children and the stable
    // partition run on chunks of the points.
    int64_t other = 0;
    if (placeWithoutSubdividing<Dim>(tree_, pending, other))
        return;
    const int64_t begin = pending.begin;
    const int64_t end = pending.end;
    const int children = childCount_;
    ChildCells cells;
    subdivide<Dim>(tree_, pending, cells);
    chunkCounts_.assign(static_cast<size_t>(threads) * children, 0);
    std::vector<int64_t>& ends = tree_.counts;
    std::fill(ends.begin(), ends.end(), 0);

#pragma omp parallel num_threads(threads)
    {
#pragma omp single nowait
        addRunningMean<Dim>(tree_, pending);

        const int team = omp_get_num_threads();
        const int t = omp_get_thread_num();
        const int64_t chunkBegin = begin + (end - begin) * t / team;
        const int64_t chunkEnd = begin + (end - begin) * (t + 1) / team;
        int64_t* counts = &chunkCounts_[static_cast<size_t>(t) * children];
        for (int64_t j = chunkBegin; j < chunkEnd; ++j) {
            const uint16_t child = j > begin && j < other ? kLost : chooseChild<Dim>(j, cells);
            childOf_[j] = child;
            if (child != kLost)
                ++counts[child];
        }
#pragma omp barrier
#pragma omp single
        {
            int64_t offset = begin;
            for (int i = 0; i < children; ++i) {
                for (int u = 0; u < team; ++u) {
                    int64_t& count = chunkCounts_[static_cast<size_t>(u) * children + i];
                    const int64_t chunkCount = count;
                    count = offset;
                    offset += chunkCount;
                }
                ends[i] = offset;
            }
        }
        for (int64_t j = chunkBegin; j < chunkEnd; ++j) {
            const uint16_t c = childOf_[j];
            if (c != kLost)
                moveToScratch(j, counts[c]++);
        }
#pragma omp barrier
        const int64_t placedEnd = ends[children - 1];
        const int64_t copyBegin = begin + (placedEnd - begin) * t / team;
        const int64_t copyEnd = begin + (placedEnd - begin) * (t + 1) / team;
        moveBackFromScratch(copyBegin, copyEnd);
    }
    // Copies that stopped here and points no child holds end their way here.
    for (int64_t j = begin; j < end; ++j)
        if (childOf_[j] == kLost)
            tree_.order.push_back(partition_[j]);
    pushChildren(tree_, cells, begin, ends.data());
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

    // Points outside the root cell (possible only through rounding at huge
    // coordinates) are refused, like any insertion outside a cell.
    extendMeanFactors(n);
    partition_.resize(static_cast<size_t>(n));
    partitionCoordinates_.resize(static_cast<size_t>(n) * d);
    partitionScratch_.resize(static_cast<size_t>(n));
    coordinatesScratch_.resize(static_cast<size_t>(n) * d);
    childOf_.resize(static_cast<size_t>(n));
    int64_t accepted = 0;
    for (int i = 0; i < n; ++i) {
        const T* p = data + static_cast<int64_t>(i) * d;
        bool inside = true;
        for (int k = 0; k < d; ++k) {
            const double value = p[k];
            if (value < rootCentre[k] - levelHalfWidths_[k] || value > rootCentre[k] + levelHalfWidths_[k])
                inside = false;
        }
        if (inside) {
            std::copy_n(p, d, &partitionCoordinates_[accepted * d]);
            partition_[accepted++] = i;
        } else
            tree_.order.push_back(i);
    }

    // The top of the tree is built here, its largest nodes with the points
    // split among the threads; subtrees small enough become tasks built side
    // by side and then copied behind the top.
    const int64_t taskSize = threads > 1 ? std::max(kSmallestTask, accepted / (4 * threads)) : -1;
    subtreeRoots_.clear();
    tree_.stack.push_back(Pending{0, 0, 0, accepted});
    while (!tree_.stack.empty()) {
        const Pending pending = tree_.stack.back();
        tree_.stack.pop_back();
        const int64_t size = pending.end - pending.begin;
        if (size > 1 && size <= taskSize)
            subtreeRoots_.push_back(pending);
        else if (threads > 1 && size > taskSize && d == 2)
            placePointsInParallel<2>(pending, threads);
        else if (threads > 1 && size > taskSize)
            placePointsInParallel<0>(pending, threads);
        else if (d == 2)
            placePoints<2>(tree_, pending);
        else
            placePoints<0>(tree_, pending);
    }
    if (subtreeRoots_.empty())
        return;
    // Largest first, dealt out in turn, keeps the threads evenly loaded.
    std::stable_sort(subtreeRoots_.begin(), subtreeRoots_.end(), [](const Pending& a, const Pending& b) {
        return a.end - a.begin > b.end - b.begin;
    });

    const int tasks = static_cast<int>(subtreeRoots_.size());
    if (subtreeStores_.size() < subtreeRoots_.size())
        subtreeStores_.resize(subtreeRoots_.size());
#pragma omp parallel for num_threads(std::max(1, threads)) schedule(static, 1)
    for (int t = 0; t < tasks; ++t) {
        const Pending& root = subtreeRoots_[t];
        Store& store = subtreeStores_[t];
        store.reset(childCount_, d, &tree_.centres[root.node * d], root.level);
        buildSubtree(store, Pending{0, root.level, root.begin, root.end});
    }

    std::vector<int64_t> bases(static_cast<size_t>(tasks));
    int64_t total = tree_.count;
    for (int t = 0; t < tasks; ++t) {
        bases[t] = total;
        total += subtreeStores_[t].count - childCount_;
    }
    tree_.reserveNodes(total, d);
    tree_.count = total;
#pragma omp parallel for num_threads(std::max(1, threads)) schedule(static, 1)
    for (int t = 0; t < tasks; ++t)
        mergeSubtree(subtreeStores_[t], subtreeRoots_[t].node, bases[t]);
    for (int t = 0; t < tasks; ++t)
        tree_.order.insert(tree_.order.end(), subtreeStores_[t].order.begin(), subtreeStores_[t].order.end());
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

template class SpacePartitionTree<double>;
template class SpacePartitionTree<float>;
