#include "knn/KdForest.h"

#include "parallel/LargeBuffers.h"
#include "parallel/WorkerPool.h"

#include <flann/flann.hpp>

#include <limits>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace {

/// Queries a thread walks at once: enough to keep several memory reads in
/// flight, few enough that their branch heaps stay in the cache.
constexpr int kQueriesInFlight = 8;

/// True for FLANN's tree node type, whose name the index keeps private.
template <typename V, typename = void>
struct IsTreeNode : std::false_type
{
};

template <typename V>
struct IsTreeNode<V, std::void_t<decltype(std::declval<const V&>().child1), decltype(std::declval<const V&>().divfeat)>>
    : std::true_type
{
};

/// An archive that a FLANN index "saves" itself into: of everything the
/// index hands over it keeps only the roots of the trees, in tree order.
template <typename OnRoot>
class RootArchive : public flann::serialization::OutputArchive<RootArchive<OnRoot>>
{
public:
    explicit RootArchive(OnRoot onRoot) : onRoot_(std::move(onRoot)) {}

    template <typename Value>
    RootArchive& operator&(const Value& value)
    {
        if constexpr (IsTreeNode<Value>::value)
            onRoot_(value);
        return *this;
    }

private:
    OnRoot onRoot_;
};

/// The points one query has checked: an open-addressing set whose entries
/// carry the query's generation, so starting a query empties it at no cost.
class CheckedPoints
{
public:
    CheckedPoints() : slots_(size_t{1} << 12, 0) {}

    void clear()
    {
        if (++generation_ == 0) {
            std::fill(slots_.begin(), slots_.end(), 0);
            generation_ = 1;
        }
        used_ = 0;
    }

    bool contains(int32_t point) const { return slots_[find(point)] == key(point); }

    /// Adds a point that is not in the set.
    void insert(int32_t point)
    {
        if (2 * (used_ + 1) > slots_.size())
            grow();
        slots_[find(point)] = key(point);
        ++used_;
    }

private:
    uint64_t key(int32_t point) const
    {
        return static_cast<uint64_t>(generation_) << 32 | static_cast<uint32_t>(point);
    }

    size_t find(int32_t point) const
    {
        const size_t mask = slots_.size() - 1;
        size_t at = (static_cast<uint32_t>(point) * 2654435761u) & mask;
        while (slots_[at] >> 32 == generation_ && slots_[at] != key(point))
            at = (at + 1) & mask;
        return at;
    }

    void grow()
    {
        std::vector<uint64_t> old(slots_.size() * 2, 0);
        old.swap(slots_);
        for (const uint64_t slot : old)
            if (slot >> 32 == generation_)
                slots_[find(static_cast<int32_t>(slot & 0xffffffffu))] = slot;
    }

    std::vector<uint64_t> slots_;
    uint32_t generation_ = 0;
    size_t used_ = 0;
};

inline void prefetch(const void* address)
{
    __builtin_prefetch(address);
}

} // namespace

/// One query's search, FLANN's recursive walk unrolled into steps: each step
/// reads one node or one point that the previous step prefetched.
template <typename T>
class KdForest<T>::Walk
{
public:
    Walk(const KdForest& forest, int k, int checks) : forest_(forest), k_(k), checks_(checks), results_(k)
    {
        heap_.reserve(1024);
    }

    void start(const T* query)
    {
        query_ = query;
        count_ = 0;
        worst_ = std::numeric_limits<T>::max();
        results_[static_cast<size_t>(k_) - 1].distance = worst_;
        heap_.clear();
        checked_.clear();
        checkCount_ = 0;
        nextTree_ = 0;
        advance();
    }

    /// Takes one step; false once the query is answered.
    bool step()
    {
        if (measuring_)
            measure();
        else
            visit();
        return !done_;
    }

    void write(int* neighbours, T* distances) const
    {
        for (int m = 0; m < k_; ++m) {
            const Result& result = results_[static_cast<size_t>(m < count_ ? m : count_ - 1)];
            neighbours[m] = count_ > 0 ? result.point : 0;
            distances[m] = count_ > 0 ? result.distance : T();
        }
    }

private:
    struct Result
    {
        T distance;
        int32_t point;
    };

    struct Branch
    {
        int32_t node;
        T mindist;
    };

    bool full() const { return count_ == k_; }

    /// Starts the next walk down: every tree from its root first, then the
    /// nearest branch left aside, while checks remain or the list is not full.
    void advance()
    {
        for (;;) {
            int32_t node;
            T mindist = 0;
            if (nextTree_ < static_cast<int>(forest_.roots_.size())) {
                node = forest_.roots_[static_cast<size_t>(nextTree_++)];
            } else {
                if (heap_.empty()) {
                    done_ = true;
                    return;
                }
                std::pop_heap(heap_.begin(), heap_.end(), NearerLast());
                const Branch branch = heap_.back();
                heap_.pop_back();
                if (!(checkCount_ < checks_ || !full())) {
                    done_ = true;
                    return;
                }
                node = branch.node;
                mindist = branch.mindist;
            }
            if (worst_ < mindist)
                continue;
            node_ = node;
            mindist_ = mindist;
            measuring_ = false;
            done_ = false;
            prefetch(&forest_.nodes_[static_cast<size_t>(node)]);
            return;
        }
    }

    void visit()
    {
        const Node& node = forest_.nodes_[static_cast<size_t>(node_)];
        if (node.child < 0) {
            const int32_t point = node.feature;
            if (checked_.contains(point) || (checkCount_ >= checks_ && full())) {
                advance();
                return;
            }
            checked_.insert(point);
            ++checkCount_;
            point_ = point;
            measuring_ = true;
            const char* row = reinterpret_cast<const char*>(forest_.rows_ + static_cast<int64_t>(point) * forest_.d_);
            for (size_t offset = 0; offset < static_cast<size_t>(forest_.d_) * sizeof(T); offset += 64)
                prefetch(row + offset);
            return;
        }
        // The split's near side is walked now, the far side kept on the heap
        // with the squared distance to the split plane added.
        const T value = query_[node.feature];
        const T diff = value - node.divval;
        const int32_t nearChild = diff < 0 ? node.child : node.child + 1;
        const int32_t farChild = diff < 0 ? node.child + 1 : node.child;
        const T farDistance = mindist_ + distance_.accum_dist(value, node.divval, node.feature);
        if ((farDistance * kEpsError < worst_) || !full()) {
            if (static_cast<int64_t>(heap_.size()) < forest_.n_) {
                heap_.push_back({farChild, farDistance});
                std::push_heap(heap_.begin(), heap_.end(), NearerLast());
            }
        }
        node_ = nearChild;
        prefetch(&forest_.nodes_[static_cast<size_t>(nearChild)]);
    }

    void measure()
    {
        const T distance = distance_(forest_.rows_ + static_cast<int64_t>(point_) * forest_.d_, query_,
                                     static_cast<size_t>(forest_.d_));
        add(distance, point_);
        advance();
    }

    /// Inserts into the sorted list of the k nearest, a tie going after the
    /// points already there.
    void add(T distance, int32_t point)
    {
        if (distance >= worst_)
            return;
        if (count_ < k_)
            ++count_;
        size_t i;
        for (i = static_cast<size_t>(count_) - 1; i > 0; --i) {
            if (results_[i - 1].distance > distance)
                results_[i] = results_[i - 1];
            else
                break;
        }
        results_[i] = {distance, point};
        worst_ = results_[static_cast<size_t>(k_) - 1].distance;
    }

    /// The heap's order: the nearest branch on top. A type rather than a
    /// function pointer, so that the heap operations inline it.
    struct NearerLast
    {
        bool operator()(const Branch& a, const Branch& b) const { return b.mindist < a.mindist; }
    };

    static constexpr float kEpsError = 1;

    const KdForest& forest_;
    const int k_;
    const int checks_;
    flann::L2<T> distance_;
    std::vector<Result> results_;
    std::vector<Branch> heap_;
    CheckedPoints checked_;
    const T* query_ = nullptr;
    int count_ = 0;
    T worst_ = 0;
    int checkCount_ = 0;
    int nextTree_ = 0;
    int32_t node_ = 0;
    T mindist_ = 0;
    int32_t point_ = 0;
    bool measuring_ = false;
    bool done_ = true;
};

template <typename T>
KdForest<T>::KdForest(flann::KDTreeIndex<flann::L2<T>>& index, const T* rows, int n, int d)
    : n_(n), d_(d), rows_(rows)
{
    // Every leaf holds one point, so a tree has n - 1 sibling pairs below
    // its root, which takes a pair of places too: tree t fills places
    // [2nt, 2n(t + 1)), and the trees are copied side by side.
    std::vector<const void*> flannRoots;
    void (KdForest::*copy)(const void*, int32_t) = nullptr;
    RootArchive archive([&](const auto& root) {
        flannRoots.push_back(&root);
        copy = &KdForest::copyTree<std::decay_t<decltype(root)>>;
    });
    index.serialize(archive);
    const int64_t places = 2 * static_cast<int64_t>(n);
    if (places * static_cast<int64_t>(flannRoots.size()) > std::numeric_limits<int32_t>::max())
        throw std::length_error("Too many points for the neighbour search's trees.");
    assignZeroed(nodes_, static_cast<size_t>(places) * flannRoots.size(), static_cast<int>(flannRoots.size()));
    for (size_t t = 0; t < flannRoots.size(); ++t)
        roots_.push_back(static_cast<int32_t>(places * static_cast<int64_t>(t)));
    WorkerPool::shared().run(static_cast<int>(flannRoots.size()), static_cast<int64_t>(flannRoots.size()),
                             [&](int64_t t) { (this->*copy)(flannRoots[static_cast<size_t>(t)], roots_[static_cast<size_t>(t)]); });
}

template <typename T>
template <typename FlannNode>
void KdForest<T>::copyTree(const void* flannRoot, int32_t rootAt)
{
    // Pairs are placed depth first, near child first, from an even place on:
    // a pair shares a cache line, and a walk down the near sides reads
    // consecutive memory.
    int32_t nextPair = rootAt + 2;
    std::vector<std::pair<const FlannNode*, int32_t>> pending{{static_cast<const FlannNode*>(flannRoot), rootAt}};
    while (!pending.empty()) {
        const auto [from, at] = pending.back();
        pending.pop_back();
        if (from->child1 == nullptr && from->child2 == nullptr) {
            nodes_[static_cast<size_t>(at)] = {T(), static_cast<int32_t>(from->divfeat), -1};
            continue;
        }
        const int32_t pair = nextPair;
        nextPair += 2;
        nodes_[static_cast<size_t>(at)] = {from->divval, static_cast<int32_t>(from->divfeat), pair};
        pending.emplace_back(from->child2, pair + 1);
        pending.emplace_back(from->child1, pair);
    }
}

template <typename T>
void KdForest<T>::search(int64_t begin, int64_t end, int k, int checks, int* neighbours, T* distances) const
{
    std::vector<Walk> walks;
    walks.reserve(kQueriesInFlight);
    std::vector<int64_t> rowOf;
    int64_t next = begin;
    for (int w = 0; w < kQueriesInFlight && next < end; ++w) {
        walks.emplace_back(*this, k, checks);
        walks.back().start(rows_ + next * d_);
        rowOf.push_back(next++);
    }
    int active = static_cast<int>(walks.size());
    while (active > 0) {
        for (size_t w = 0; w < walks.size(); ++w) {
            if (rowOf[w] < 0 || walks[w].step())
                continue;
            const int64_t at = (rowOf[w] - begin) * k;
            walks[w].write(neighbours + at, distances + at);
            if (next < end) {
                walks[w].start(rows_ + next * d_);
                rowOf[w] = next++;
            } else {
                rowOf[w] = -1;
                --active;
            }
        }
    }
}

template class KdForest<double>;
template class KdForest<float>;
