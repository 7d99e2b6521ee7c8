#pragma once

#include "approx_tsne/ApproxTsneParameters.h"
#include "approx_tsne/ApproxTsneProbabilities.h"

/// Subtracts the per-dimension mean over the n rows from every row. The
/// mean is summed in row order; the subtraction runs on up to `threads`
/// threads.
void centerData(double* data, int n, int d, int threads = 1);

/// Divides every value by the largest one (at least the smallest positive
/// normal double).
void normalizeByMaximum(double* data, int n, int d);

/// The similarity stage: for the n x d row-major matrix (modified in place
/// unless normalisation is skipped) finds every point's K approximate
/// nearest neighbours with FLANN, fits each Gaussian to the perplexity and
/// fills the sparse symmetric joint probabilities. A seed other than -1
/// builds FLANN's trees, so the same input and seed give the same
/// probabilities at any thread count. Throws std::logic_error
/// when the probabilities were sized for another n, when there are fewer
/// than K + 1 points, or when a value is not a finite number (one NaN would
/// turn every row sum and the whole embedding into NaN).
void computeHighDimensionalProbabilities(const ApproxTsneParameters& parameters, double* data, int n, int d,
                                         ApproxTsneProbabilities& probabilities);
