#include "tree/SpacePartitionTree.h"

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
constexpr int64_t kSmallestTask = 4096;

} // namespace

template <typename T>
void SpacePartitionTree<T>::Store::reset(int childCount, int dimensions, const double* centre, uint32_t level)
{
    nodes.assign(static_cast<size_t>(childCount), Node{0, kNoPoint, -1});
    centresOfMass.assign(static_cast<size_t>(childCount) * dimensions, 0.0);
    centres.assign(static_cast<size_t>(childCount) * dimensions, 0.0);
    levels.assign(static_cast<size_t>(childCount), level);
    std::copy_n(centre, dimensions, centres.begin());
    order.clear();
    stack.clear();
    counts.assign(static_cast<size_t>(childCount), 0);
}

template <typename T>
int64_t SpacePartitionTree<T>::Store::allocateChildren(int childCount, int dimensions)
{
    const int64_t first = static_cast<int64_t>(nodes.size());
    nodes.resize(nodes.size() + childCount, Node{0, kNoPoint, -1});
    centresOfMass.resize(centresOfMass.size() + static_cast<size_t>(childCount) * dimensions, 0.0);
    centres.resize(centres.size() + static_cast<size_t>(childCount) * dimensions);
    levels.resize(levels.size() + childCount);
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
bool SpacePartitionTree<T>::sameCoordinates(int32_t a, int32_t b) const
{
    const T* pa = data_ + static_cast<int64_t>(a) * dimensions_;
    const T* pb = data_ + static_cast<int64_t>(b) * dimensions_;
    for (int k = 0; k < dimensions_; ++k)
        if (pa[k] != pb[k])
            return false;
    return true;
}

template <typename T>
void SpacePartitionTree<T>::placePoints(Store& store, const Pending& pending)
{
    const int d = dimensions_;
    const int64_t begin = pending.begin;
    const int64_t end = pending.end;
    const int64_t node = pending.node;

    // Every point that reached this node, in insertion order, enters its
    // count and running mean.
    double* com = &store.centresOfMass[node * d];
    std::fill_n(com, d, 0.0);
    for (int64_t j = begin; j < end; ++j) {
        const double c = static_cast<double>(j - begin + 1);
        const double keep = (c - 1) / c;
        const double add = 1 / c;
        const T* point = data_ + static_cast<int64_t>(partition_[j]) * d;
        for (int k = 0; k < d; ++k)
            com[k] = keep * com[k] + add * point[k];
    }
    store.nodes[node].cumulativeSize = static_cast<uint32_t>(end - begin);
    if (begin == end)
        return;

    // The first point is stored here; copies of it that arrive before any
    // other point stop here too.
    const int32_t first = partition_[begin];
    int64_t other = begin + 1;
    while (other < end && sameCoordinates(partition_[other], first))
        ++other;
    if (other == end || pending.level >= kMaxDepth) {
        store.nodes[node].storedIndex = static_cast<uint32_t>(first);
        for (int64_t j = begin; j < end; ++j)
            store.order.push_back(partition_[j]);
        return;
    }
    for (int64_t j = begin + 1; j < other; ++j)
        store.order.push_back(partition_[j]);

    // Subdivide: child i lies below the centre in dimension k when bit k of
    // i is set. Its closed cell in dimension k is one of two intervals.
    const int children = childCount_;
    const uint32_t childLevel = pending.level + 1;
    const int64_t firstChild = store.allocateChildren(children, d);
    store.nodes[node].firstChild = firstChild;
    const double* centre = &store.centres[node * d];
    const double* parentWidth = &levelHalfWidths_[static_cast<size_t>(pending.level) * d];
    const double* childWidth = &levelHalfWidths_[static_cast<size_t>(childLevel) * d];
    double below[kMaxDimensions][2];
    double above[kMaxDimensions][2];
    for (int k = 0; k < d; ++k) {
        const double lowCentre = centre[k] - parentWidth[k] * 0.5;
        const double highCentre = centre[k] + parentWidth[k] * 0.5;
        below[k][0] = lowCentre - childWidth[k];
        below[k][1] = lowCentre + childWidth[k];
        above[k][0] = highCentre - childWidth[k];
        above[k][1] = highCentre + childWidth[k];
    }
    for (int i = 0; i < children; ++i) {
        double* childCentre = &store.centres[(firstChild + i) * d];
        for (int k = 0; k < d; ++k)
            childCentre[k] = (i >> k) & 1 ? centre[k] - parentWidth[k] * 0.5 : centre[k] + parentWidth[k] * 0.5;
        store.levels[firstChild + i] = childLevel;
    }

    // The stored point moves down first, then the others follow in order;
    // each goes to the first child whose cell holds it.
    auto classify = [&](int32_t point) -> uint16_t {
        const T* p = data_ + static_cast<int64_t>(point) * d;
        unsigned inBelow = 0;
        unsigned inAbove = 0;
        for (int k = 0; k < d; ++k) {
            const double value = p[k];
            if (!(value < below[k][0]) && !(value > below[k][1]))
                inBelow |= 1u << k;
            if (!(value < above[k][0]) && !(value > above[k][1]))
                inAbove |= 1u << k;
        }
        const unsigned all = (1u << d) - 1;
        for (unsigned i = 0; i < static_cast<unsigned>(children); ++i)
            if (((i & inBelow) | (~i & all & inAbove)) == all)
                return static_cast<uint16_t>(i);
        return kLost;
    };
    std::fill(store.counts.begin(), store.counts.end(), 0);
    auto place = [&](int64_t position) {
        const uint16_t c = classify(partition_[position]);
        childOf_[position] = c;
        if (c == kLost)
            store.order.push_back(partition_[position]);
        else
            ++store.counts[c];
    };
    place(begin);
    for (int64_t j = other; j < end; ++j)
        place(j);

    int64_t offset = begin;
    for (int i = 0; i < children; ++i) {
        const int64_t count = store.counts[i];
        store.counts[i] = offset;
        offset += count;
    }
    const int64_t placedEnd = offset;
    auto scatter = [&](int64_t position) {
        const uint16_t c = childOf_[position];
        if (c != kLost)
            partitionScratch_[store.counts[c]++] = partition_[position];
    };
    scatter(begin);
    for (int64_t j = other; j < end; ++j)
        scatter(j);
    std::copy(partitionScratch_.begin() + begin, partitionScratch_.begin() + placedEnd, partition_.begin() + begin);

    // counts now hold each child's end; push the last child first so that
    // child 0 is placed next.
    for (int i = children - 1; i >= 0; --i) {
        const int64_t childEnd = store.counts[i];
        const int64_t childBegin = i == 0 ? begin : store.counts[i - 1];
        store.stack.push_back(Pending{firstChild + i, childLevel, childBegin, childEnd});
    }
}

template <typename T>
void SpacePartitionTree<T>::buildSubtree(Store& store, const Pending& root)
{
    store.stack.push_back(root);
    while (!store.stack.empty()) {
        const Pending pending = store.stack.back();
        store.stack.pop_back();
        placePoints(store, pending);
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
    const int64_t count = static_cast<int64_t>(store.nodes.size()) - children;
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
    partition_.resize(static_cast<size_t>(n));
    partitionScratch_.resize(static_cast<size_t>(n));
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
        if (inside)
            partition_[accepted++] = i;
        else
            tree_.order.push_back(i);
    }

    // The top of the tree is built here; subtrees small enough become tasks
    // built side by side and then copied behind the top.
    const int64_t taskSize = threads > 1 ? std::max(kSmallestTask, accepted / (8 * threads)) : -1;
    subtreeRoots_.clear();
    tree_.stack.push_back(Pending{0, 0, 0, accepted});
    while (!tree_.stack.empty()) {
        const Pending pending = tree_.stack.back();
        tree_.stack.pop_back();
        const int64_t size = pending.end - pending.begin;
        if (size > 1 && size <= taskSize)
            subtreeRoots_.push_back(pending);
        else
            placePoints(tree_, pending);
    }
    if (subtreeRoots_.empty())
        return;

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
    int64_t total = static_cast<int64_t>(tree_.nodes.size());
    for (int t = 0; t < tasks; ++t) {
        bases[t] = total;
        total += static_cast<int64_t>(subtreeStores_[t].nodes.size()) - childCount_;
    }
    tree_.nodes.resize(static_cast<size_t>(total));
    tree_.centresOfMass.resize(static_cast<size_t>(total) * d);
    tree_.centres.resize(static_cast<size_t>(total) * d);
    tree_.levels.resize(static_cast<size_t>(total));
#pragma omp parallel for num_threads(std::max(1, threads)) schedule(static, 1)
    for (int t = 0; t < tasks; ++t)
        mergeSubtree(subtreeStores_[t], subtreeRoots_[t].node, bases[t]);
    for (int t = 0; t < tasks; ++t)
        tree_.order.insert(tree_.order.end(), subtreeStores_[t].order.begin(), subtreeStores_[t].order.end());
}

template <typename T>
template <int Dim>
void SpacePartitionTree<T>::accumulate(int64_t node, uint32_t level, uint32_t index, const double* y, double theta,
                                       double* negativeForce, double& sumQ) const
{
    const Node& entry = tree_.nodes[node];
    if (entry.cumulativeSize == 0)
        return;
    const bool leaf = entry.firstChild < 0;
    if (leaf && entry.storedIndex == index)
        return;
    const int d = Dim > 0 ? Dim : dimensions_;
    const double* com = &tree_.centresOfMass[node * d];
    double diff[Dim > 0 ? Dim : kMaxDimensions];
    double distanceSquared = 0;
    for (int k = 0; k < d; ++k) {
        diff[k] = y[k] - com[k];
        distanceSquared += diff[k] * diff[k];
    }
    if (leaf || levelLargestWidth_[level] / std::sqrt(distanceSquared) < theta) {
        const double q = 1 / (1 + distanceSquared);
        const double m = entry.cumulativeSize * q;
        sumQ += m;
        const double mq = m * q;
        for (int k = 0; k < d; ++k)
            negativeForce[k] += mq * diff[k];
        return;
    }
    for (int i = 0; i < childCount_; ++i)
        accumulate<Dim>(entry.firstChild + i, level + 1, index, y, theta, negativeForce, sumQ);
}

template <typename T>
void SpacePartitionTree<T>::computeRepulsiveForces(int index, double theta, double* negativeForce,
                                                   double& sumQ) const
{
    const int d = dimensions_;
    double y[kMaxDimensions];
    double force[kMaxDimensions];
    for (int k = 0; k < d; ++k) {
        y[k] = data_[static_cast<int64_t>(index) * d + k];
        force[k] = negativeForce[k];
    }
    double sum = sumQ;
    const uint32_t self = static_cast<uint32_t>(index);
    if (d == 2)
        accumulate<2>(root(), 0, self, y, theta, force, sum);
    else if (d == 3)
        accumulate<3>(root(), 0, self, y, theta, force, sum);
    else
        accumulate<0>(root(), 0, self, y, theta, force, sum);
    for (int k = 0; k < d; ++k)
        negativeForce[k] = force[k];
    sumQ = sum;
}

template class SpacePartitionTree<double>;
template class SpacePartitionTree<float>;
