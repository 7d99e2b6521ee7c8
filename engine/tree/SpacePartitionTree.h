#pragma once

#include <cstdint>
#include <vector>

/// Barnes-Hut tree of the t-SNE gradient descents: a 2^D-ary tree over the
/// points of an embedding whose nodes carry the number of points below them
/// and their centre of mass. The coordinates are of type T (double or
/// float); cells, centres of mass, forces and sums are doubles.
///
/// The tree is exactly the one obtained by inserting points 0 to N - 1 in
/// order into nodes of capacity one: closed cell boundaries (a point on a
/// boundary goes to the first child, in index order, whose cell holds it),
/// exact duplicates of a stored point counted but stored nowhere, child i
/// centred below the parent's centre in dimension d when bit d of i is set,
/// centres of mass as running means ((c - 1) / c) com + (1 / c) p in
/// insertion order. It is built top-down by partitioning the points, and the
/// nodes live in one flat array (the 2^D children of a node contiguous) that
/// is reused when the tree is rebuilt.
template <typename T>
class SpacePartitionTree
{
public:
    SpacePartitionTree() = default;
    /// Builds the tree over n points of `data` (n x dimensions, row-major).
    SpacePartitionTree(int dimensions, const T* data, int n);

    /// Rebuilds the tree over new coordinates, reusing the node storage.
    /// Subtrees are built on up to `threads` OpenMP threads; the tree does
    /// not depend on the thread count. The coordinates are read again by
    /// the force evaluations, so they must stay in place until the next
    /// build. Throws std::logic_error unless 1 <= dimensions <= 15.
    void build(int dimensions, const T* data, int n, int threads = 1);

    /// Barnes-Hut repulsion on point `index` with threshold theta: adds the
    /// point's negative force (D doubles) and its Student-t sum into the
    /// caller's accumulators, visiting children in index order.
    void computeRepulsiveForces(int index, double theta, double* negativeForce, double& sumQ) const;

    /// The repulsion on `count` points, each from zero: the negative force
    /// of point i = points[j] goes to negativeForces[i * D ...], its sum to
    /// sums[i]. Bit for bit one call of the above per point, but points close
    /// in space are evaluated together, sharing their way through the tree.
    void computeRepulsiveForces(const int32_t* points, int64_t count, double theta, double* negativeForces,
                                double* sums) const;

    /// Every point once, in the order of the nodes where it came to rest:
    /// points close in this order are close in space, so evaluating forces in
    /// it keeps the shared part of the tree in cache.
    const std::vector<int32_t>& spatialOrder() const { return tree_.order; }

    /// Index of the root node.
    static constexpr int64_t root() { return 0; }
    int dimensions() const { return dimensions_; }
    int childCount() const { return childCount_; }
    bool isLeaf(int64_t node) const { return tree_.nodes[node].firstChild < 0; }
    /// Child i (0 to childCount() - 1) of an inner node.
    int64_t child(int64_t node, int i) const { return tree_.nodes[node].firstChild + i; }
    /// Points inserted into the node's subtree, duplicates included.
    uint32_t cumulativeSize(int64_t node) const { return tree_.nodes[node].cumulativeSize; }
    /// The point stored in a leaf, or all ones when the node stores none.
    uint32_t storedIndex(int64_t node) const { return tree_.nodes[node].storedIndex; }
    const double* centreOfMass(int64_t node) const { return &tree_.centresOfMass[node * dimensions_]; }
    const double* centre(int64_t node) const { return &tree_.centres[node * dimensions_]; }
    const double* halfWidth(int64_t node) const
    {
        return &levelHalfWidths_[static_cast<int64_t>(tree_.levels[node]) * dimensions_];
    }

    static constexpr uint32_t kNoPoint = 0xffffffffu;
    static constexpr int kMaxDimensions = 15;

private:
    struct Node
    {
        uint32_t cumulativeSize;
        uint32_t storedIndex;
        int64_t firstChild;   ///< -1 for a leaf
    };

    /// A node whose points still have to be placed: points begin..end of
    /// the partition buffer, in insertion order.
    struct Pending
    {
        int64_t node;
        uint32_t level;
        int64_t begin;
        int64_t end;
    };

    /// Nodes of one subtree under construction: node 0 is the subtree's
    /// root, child groups start at multiples of the child count.
    struct Store
    {
        int64_t count = 0;            ///< nodes in use; the vectors may be longer
        std::vector<Node> nodes;
        std::vector<double> centresOfMass;
        std::vector<double> centres;
        std::vector<uint32_t> levels;
        std::vector<int32_t> order;   ///< points in the order they came to rest
        std::vector<Pending> stack;
        std::vector<int64_t> counts;  ///< per child, while partitioning
        /// Leaves only the root (level `level`, centre `centre`) and the
        /// padding that aligns the first child group.
        void reset(int childCount, int dimensions, const double* centre, uint32_t level);
        /// Appends one group of children; returns the first one's index.
        int64_t allocateChildren(int childCount, int dimensions);
        void reserveNodes(int64_t needed, int dimensions);
    };

    /// Root cell and the half-widths of every level.
    void computeCells(const T* data, int n, std::vector<double>& rootCentre);
    /// The running-mean factors (c - 1) / c and 1 / c for c up to n.
    void extendMeanFactors(int n);
    /// Places the pending node's points: fills the node and, when it has to
    /// be subdivided, appends its children to `store` and their pending
    /// entries to its stack (child 0 on top).
    template <int Dim>
    void placePoints(Store& store, const Pending& pending);
    /// The cells of a subdivided node's children.
    struct ChildCells
    {
        int64_t firstChild;
        uint32_t level;
        double below[kMaxDimensions][2];  ///< interval of a child with the dimension's bit set
        double above[kMaxDimensions][2];  ///< interval of a child with the bit clear
    };
    /// Sets the count and, when the node stays a leaf (no points, one point
    /// and its copies, or the depth limit), everything else; otherwise gives
    /// the position of the first point that differs from the first one.
    /// A node of the top of the tree whose points are partitioned in parallel.
    struct LevelNode
    {
        Pending pending;
        ChildCells cells;
        int64_t other = 0;        ///< first point that differs from the stored one
        int64_t firstChunk = 0;
        int64_t ending = 0;       ///< points that end their way in this node
    };
    /// A run of one level node's points, partitioned as one task.
    struct LevelChunk
    {
        int64_t node;
        int64_t begin;
        int64_t end;
    };
    /// Places the points of every node of `level` (nodes at the top of the
    /// tree, each larger than a task) at once, on `threads` threads; the
    /// pending entries of their children go to `next`.
    template <int Dim>
    void placeLevelInParallel(const std::vector<Pending>& level, std::vector<Pending>& next, int threads);
    /// Copies the points inside the root cell, in order, to the partition
    /// buffer; the others end their way at the root. Returns their count.
    int64_t takePoints(const T* data, int n, const std::vector<double>& rootCentre, int threads);

    template <int Dim>
    bool placeWithoutSubdividing(Store& store, const Pending& pending, int64_t& other);
    template <int Dim>
    void addRunningMean(Store& store, const Pending& pending) const;
    template <int Dim>
    void subdivide(Store& store, const Pending& pending, ChildCells& cells) const;
    template <int Dim>
    uint16_t chooseChild(int64_t position, const ChildCells& cells) const;
    void moveToScratch(int64_t from, int64_t to);
    void moveBackFromScratch(int64_t begin, int64_t end);
    void pushChildren(Store& store, const ChildCells& cells, int64_t begin, const int64_t* ends);
    /// Builds the whole subtree of the store's root.
    void buildSubtree(Store& store, const Pending& root);
    /// Copies a subtree store into the flat arrays: its root into `node`,
    /// its other nodes from `base` on.
    void mergeSubtree(const Store& store, int64_t node, int64_t base);

    /// One force evaluation's fixed inputs.
    struct Query
    {
        double y[kMaxDimensions];
        double theta;
        double thetaSquared;
    };

    /// Adds the node's contribution when it is a leaf or far enough;
    /// returns true when its children have to be visited instead.
    template <int Dim>
    bool contributeOrOpen(int64_t node, uint32_t level, uint32_t index, const Query& query,
                          double* negativeForce, double& sumQ) const;
    /// Visits the children of an opened node in index order.
    template <int Dim>
    void accumulate(int64_t node, uint32_t level, uint32_t index, const Query& query, double* negativeForce,
                    double& sumQ) const;
    template <int Dim>
    void descend(uint32_t index, const Query& query, double* negativeForce, double& sumQ) const;

    /// Two-dimensional points evaluated together, lane by lane.
    struct Packet;
    /// contributeOrOpen for the packet's `active` lanes; returns the lanes
    /// that have to visit the node's children.
    unsigned visitWithPacket(int64_t node, uint32_t level, unsigned active, Packet& packet) const;
    void descendWithPacket(int64_t node, uint32_t level, unsigned active, Packet& packet) const;
    void repelPacket(const int32_t* points, int count, double theta, double* negativeForces, double* sums) const;

    int dimensions_ = 0;
    int childCount_ = 0;
    const T* data_ = nullptr;

    Store tree_;
    std::vector<double> levelHalfWidths_;    ///< per level: D half-widths, equal for all nodes of a level
    std::vector<double> levelLargestWidth_;  ///< per level: the largest of them

    // The points of every pending node, in insertion order, with their
    // coordinates carried along so that partitioning reads them in sequence.
    std::vector<int32_t> partition_;
    std::vector<double> partitionCoordinates_;
    std::vector<int32_t> partitionScratch_;
    std::vector<double> coordinatesScratch_;
    std::vector<int64_t> chunkCounts_;      ///< per chunk and child, while partitioning in parallel
    std::vector<double> meanFactors_;       ///< pairs (c - 1) / c, 1 / c for c = 0, 1, ...
    std::vector<uint16_t> childOf_;         ///< per partition position: its child, or kLost
    std::vector<Store> subtreeStores_;
    std::vector<Pending> subtreeRoots_;
    std::vector<int64_t> subtreeBases_;
    std::vector<int64_t> subtreeOrderStarts_;
    std::vector<Pending> levelPending_;
    std::vector<Pending> nextLevelPending_;
    std::vector<Pending> largeNodes_;
    std::vector<LevelNode> levelNodes_;
    std::vector<LevelChunk> levelChunks_;
    std::vector<int64_t> levelEnds_;        ///< per level node and child: end of its points
};

extern template class SpacePartitionTree<double>;
extern template class SpacePartitionTree<float>;
