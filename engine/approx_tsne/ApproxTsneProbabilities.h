#pragma once

#include <cstdint>
#include <vector>

/// Sparse t-SNE similarities of N points.
///
/// Rows are stored flat (CSR): row r occupies entries offsets[r] to
/// offsets[r + 1] - 1 of its key and value arrays, keys ascending within a
/// row; a missing key means 0.
/// - kNN rows (knnOffsets, knnKeys, knnValues): row i holds the K nearest
///   neighbours of point i with their un-normalised Gaussian values.
/// - joint rows (jointOffsets, jointKeys, jointFirstValues,
///   jointSecondValues): entry e of row r with key c = jointKeys[e] holds
///   first = the Gaussian value of r in kNN row c and second = that of c in
///   kNN row r (0 when absent); the full record is jointEntry(r, e).
/// The Gaussian values are kept un-normalised, with each point's row sum
/// apart, so the joint probability of a pair is formed by every reader:
///   p_rc = (first / rowSums[c] + second / rowSums[r]) / normalisation.
/// Every pair that is a neighbour in either direction sits in both rows with
/// the halves swapped, so the structure is symmetric by construction.
class ApproxTsneProbabilities
{
public:
    /// One joint entry as a full record: stored in row secondIndex under key firstIndex.
    struct JointEntry
    {
        double firstValue;
        int32_t firstIndex;
        double secondValue;
        int32_t secondIndex;
    };

    explicit ApproxTsneProbabilities(int n = 0);

    /// Empties everything and sizes the per-point vectors for n points
    /// (row sums and precisions 0, exaggeration weights 1).
    void reset(int n);

    /// Frees the kNN rows, leaving none to read: the joint rows hold every
    /// value that the gradient descent and the divergence read, and at a
    /// million points the kNN rows take a gigabyte.
    void releaseKnnRows();

    int64_t knnRowBegin(int row) const { return knnOffsets[row]; }
    int64_t knnRowEnd(int row) const { return knnOffsets[row + 1]; }
    int64_t jointRowBegin(int row) const { return jointOffsets[row]; }
    int64_t jointRowEnd(int row) const { return jointOffsets[row + 1]; }

    /// Entry `entry` of joint row `row` as a full record.
    JointEntry jointEntry(int row, int64_t entry) const
    {
        return {jointFirstValues[entry], jointKeys[entry], jointSecondValues[entry], row};
    }

    /// The joint probability p of entry `entry` of joint row `row`.
    double jointProbability(int row, int64_t entry) const
    {
        return (jointFirstValues[entry] / rowSums[jointKeys[entry]] + jointSecondValues[entry] / rowSums[row])
            / normalisation;
    }

    /// KL divergence of a row-major N x dimensions embedding against these
    /// probabilities; sumQ is the Student-t normaliser of the same embedding.
    /// Also gives the smallest and largest per-point contribution.
    void computeKlDivergence(const double* embedding, int dimensions, double sumQ,
                             double& total, double& minimum, double& maximum) const;

    int N = 0;

    std::vector<int64_t> knnOffsets;      ///< N + 1
    std::vector<int32_t> knnKeys;         ///< neighbour index
    std::vector<double> knnValues;        ///< un-normalised Gaussian value

    std::vector<double> rowSums;          ///< per point: sum of its Gaussians + DBL_MIN
    std::vector<double> precisions;       ///< per point: the Gaussian's beta
    std::vector<double> exaggerationWeights; ///< per point, multiplies its attraction

    std::vector<int64_t> jointOffsets;    ///< N + 1
    std::vector<int32_t> jointKeys;
    std::vector<double> jointFirstValues;
    std::vector<double> jointSecondValues;

    double normalisation = 0;             ///< 2N once computed
};
