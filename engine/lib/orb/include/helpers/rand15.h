#pragma once

namespace orb {

/// 15-bit pseudo-random values (0..32767) from the runtime generator seeded
/// with srand: the range the embedding's initialisation and the SPADE
/// downsampling draws are built for, also where rand() gives 31 bits.
int rand15();

/// Standard normal sample by the polar method from two rand15 draws per
/// try; the second value of the pair is dropped. Both t-SNE starts use it,
/// so one seed gives both the same start.
double polarNormal15();

} // namespace orb
