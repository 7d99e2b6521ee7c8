#pragma once

#include "helpers/AbstractLog.h"

/// Settings of the A-tSNE similarity stage.
struct ApproxTsneParameters
{
    orb::AbstractLog* log = nullptr;   ///< progress output; null = silent
    bool verbose = true;                ///< gates intermediate messages and timings
    int perplexity = 30;
    int perplexityMultiplier = 3;       ///< K = perplexity x multiplier neighbours
    int checks = 128;                   ///< FLANN search checks
    int trees = 4;                      ///< FLANN randomised KD-trees
    int cores = 8;                      ///< FLANN search threads
    int seed = -1;                      ///< builds the trees; -1: FLANN's own randomness
    bool skipNormalization = false;     ///< when false the input is centred and scaled by its maximum
};
