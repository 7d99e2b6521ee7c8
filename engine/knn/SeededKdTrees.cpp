#include "knn/SeededKdTrees.h"

#include <flann/flann.hpp>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <stdexcept>
#include <type_traits>

namespace {

/// Points whose mean and variance choose a node's split, as in FLANN.
constexpr int kSampledPoints = 101;
/// Dimensions of largest variance among which a split is drawn, as in FLANN.
constexpr int kCandidateDimensions = 5;

/// Every value a FLANN index saves of itself, byte after byte.
class ValueTape : public flann::serialization::OutputArchive<ValueTape>
{
public:
    template <typename V>
    void save(const V& value)
    {
        save_binary(&value, sizeof value);
    }

    void save_binary(const void* data, size_t size)
    {
        const char* bytes = static_cast<const char*>(data);
        bytes_.insert(bytes_.end(), bytes, bytes + size);
    }

    const std::vector<char>& bytes() const { return bytes_; }

private:
    std::vector<char> bytes_;
};

} // namespace

/// Loads a FLANN index from what it saved of itself before it had any tree,
/// then from the seeded nodes as FLANN asks for them: per node its dimension
/// or point, its split value and its leaf flag.
template <typename T>
class SeededKdTrees<T>::Loader : public flann::serialization::InputArchive<typename SeededKdTrees<T>::Loader>
{
public:
    Loader(const std::vector<char>& tape, SeededKdTrees& trees) : tape_(tape), trees_(trees) {}

    template <typename V>
    void load(V& value)
    {
        if (at_ < tape_.size()) {
            load_binary(&value, sizeof value);
            return;
        }
        if constexpr (std::is_same_v<V, int>) {
            expect(0);
            node_ = trees_.next();
            value = node_.feature;
        } else if constexpr (std::is_same_v<V, T>) {
            expect(1);
            value = node_.divval;
        } else if constexpr (std::is_same_v<V, bool>) {
            expect(2);
            value = node_.leaf;
        } else {
            throw std::logic_error("FLANN's index asks for a value that its tree nodes do not hold.");
        }
    }

    void load_binary(void* data, size_t size)
    {
        if (tape_.size() - at_ < size)
            throw std::logic_error("FLANN's index reads more than it saved of itself.");
        std::memcpy(data, tape_.data() + at_, size);
        at_ += size;
    }

    /// FLANN took all it had saved and whole nodes only.
    bool complete() const { return at_ == tape_.size() && phase_ == 0; }

private:
    void expect(int phase)
    {
        if (phase_ != phase)
            throw std::logic_error("FLANN's index reads its tree nodes in an unknown order.");
        phase_ = (phase_ + 1) % 3;
    }

    const std::vector<char>& tape_;
    SeededKdTrees& trees_;
    size_t at_ = 0;
    int phase_ = 0;
    Node node_{};
};

template <typename T>
void SeededKdTrees<T>::build(flann::KDTreeIndex<flann::L2<T>>& index, const T* rows, int n, int d, uint32_t seed)
{
    if (n < 1 || d < 1)
        throw std::logic_error("Seeded KD-trees need at least one point of at least one dimension.");
    // FLANN gives its trees no way in but its own loading: the index saves
    // itself while it has none, then loads that back with the trees added.
    ValueTape tape;
    index.serialize(tape);
    SeededKdTrees trees(rows, n, d, seed);
    Loader loader(tape.bytes(), trees);
    index.serialize(loader);
    if (!loader.complete())
        throw std::logic_error("FLANN's index did not load the seeded trees whole.");
}

template <typename T>
SeededKdTrees<T>::SeededKdTrees(const T* rows, int n, int d, uint32_t seed)
    : rows_(rows), n_(n), d_(d), seed_(seed), ind_(static_cast<size_t>(n)), mean_(static_cast<size_t>(d)),
      variance_(static_cast<size_t>(d))
{
}

template <typename T>
typename SeededKdTrees<T>::Node SeededKdTrees<T>::next()
{
    if (pending_.empty())
        startTree();
    const auto [begin, count] = pending_.back();
    pending_.pop_back();
    if (count == 1)
        return {T(), ind_[static_cast<size_t>(begin)], true};
    Node node{T(), 0, false};
    int lower = 0;
    split(begin, count, node.feature, node.divval, lower);
    pending_.emplace_back(begin + lower, count - lower);
    pending_.emplace_back(begin, lower);
    return node;
}

template <typename T>
void SeededKdTrees<T>::startTree()
{
    std::seed_seq sequence{seed_, tree_++};
    engine_.seed(sequence);
    std::iota(ind_.begin(), ind_.end(), 0);
    // Fisher-Yates on the engine's own draws: the same order with any
    // standard library.
    for (int i = n_ - 1; i > 0; --i)
        std::swap(ind_[static_cast<size_t>(i)], ind_[draw(static_cast<uint32_t>(i) + 1)]);
    pending_.emplace_back(0, n_);
}

template <typename T>
void SeededKdTrees<T>::split(int64_t begin, int count, int32_t& feature, T& value, int& lower)
{
    int32_t* ind = ind_.data() + begin;
    const auto row = [&](int j) { return rows_ + static_cast<int64_t>(ind[j]) * d_; };
    std::fill(mean_.begin(), mean_.end(), T(0));
    std::fill(variance_.begin(), variance_.end(), T(0));
    const int sampled = std::min(kSampledPoints, count);
    for (int j = 0; j < sampled; ++j)
        for (int k = 0; k < d_; ++k)
            mean_[k] += row(j)[k];
    const T factor = T(1) / sampled;
    for (int k = 0; k < d_; ++k)
        mean_[k] *= factor;
    for (int j = 0; j < sampled; ++j)
        for (int k = 0; k < d_; ++k) {
            const T difference = row(j)[k] - mean_[k];
            variance_[k] += difference * difference;
        }
    feature = selectDimension();
    value = mean_[feature];

    // Points below the value first, then those equal to it, then the rest.
    const auto at = [&](int j) { return row(j)[feature]; };
    int left = 0;
    int right = count - 1;
    for (;;) {
        while (left <= right && at(left) < value)
            ++left;
        while (left <= right && at(right) >= value)
            --right;
        if (left > right)
            break;
        std::swap(ind[left++], ind[right--]);
    }
    const int below = left;
    right = count - 1;
    for (;;) {
        while (left <= right && at(left) <= value)
            ++left;
        while (left <= right && at(right) > value)
            --right;
        if (left > right)
            break;
        std::swap(ind[left++], ind[right--]);
    }
    const int belowOrEqual = left;
    lower = below > count / 2 ? below : belowOrEqual < count / 2 ? belowOrEqual : count / 2;
    // No point below the value or none above it: split in the middle, as
    // FLANN does, to keep the tree balanced.
    if (below == count || belowOrEqual == 0)
        lower = count / 2;
}

template <typename T>
int32_t SeededKdTrees<T>::selectDimension()
{
    int found = 0;
    int32_t top[kCandidateDimensions];
    for (int32_t k = 0; k < d_; ++k) {
        if (found < kCandidateDimensions || variance_[k] > variance_[top[found - 1]]) {
            if (found < kCandidateDimensions)
                top[found++] = k;
            else
                top[found - 1] = k;
            for (int j = found - 1; j > 0 && variance_[top[j]] > variance_[top[j - 1]]; --j)
                std::swap(top[j], top[j - 1]);
        }
    }
    return top[draw(static_cast<uint32_t>(found))];
}

template <typename T>
uint32_t SeededKdTrees<T>::draw(uint32_t count)
{
    return static_cast<uint32_t>((static_cast<uint64_t>(engine_()) * count) >> 32);
}

template class SeededKdTrees<double>;
template class SeededKdTrees<float>;
