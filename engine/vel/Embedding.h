#pragma once

#include <cstdint>
#include <vector>

namespace vel {

/// A dense set of low-dimensional float points: point p, dimension d at
/// coordinates()[p * dimensions() + d].
class Embedding
{
public:
    Embedding() = default;

    /// Sets both counts and fills every coordinate with `value`.
    void initialize(uint32_t dimensions, uint32_t numberOfPoints, float value);
    /// No points and no dimensions; the storage stays allocated.
    void clear();

    /// Per dimension its minimum, then its maximum (2 x dimensions floats).
    /// A positive padding widens every dimension by padding x its extent,
    /// half on each side; `square` then gives every dimension the side
    /// L / (1 - padding) around its padded centre, L the largest extent.
    /// Without points every dimension is (FLT_MAX, -FLT_MAX). Throws
    /// std::logic_error for a padding outside [0, 1).
    void computeBoundingBox(std::vector<float>& box, float padding = 0, bool square = false) const;

    /// When the extent of dimension 0 is below `size` (or not a number), the
    /// embedding is centred and, when that extent is finite and positive,
    /// every coordinate is multiplied by size / extent. Larger embeddings
    /// and empty ones stay as they are.
    void scaleIfSmallerThan(float size);

    /// Moves the centre of the tight box to the origin.
    void zeroCentre();

    uint32_t dimensions() const { return dimensions_; }
    uint32_t numberOfPoints() const { return numberOfPoints_; }
    std::vector<float>& coordinates() { return coordinates_; }
    const std::vector<float>& coordinates() const { return coordinates_; }

private:
    /// Subtracts the tight box's centre from every point.
    void centre(const std::vector<float>& box);

    uint32_t dimensions_ = 0;
    uint32_t numberOfPoints_ = 0;
    std::vector<float> coordinates_;
};

} // namespace vel
