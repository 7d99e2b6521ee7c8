#include "vel/Embedding.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <stdexcept>

namespace vel {

void Embedding::initialize(uint32_t dimensions, uint32_t numberOfPoints, float value)
{
    dimensions_ = dimensions;
    numberOfPoints_ = numberOfPoints;
    coordinates_.assign(static_cast<size_t>(numberOfPoints) * dimensions, value);
}

void Embedding::clear()
{
    dimensions_ = 0;
    numberOfPoints_ = 0;
    coordinates_.clear();
}

void Embedding::computeBoundingBox(std::vector<float>& box, float padding, bool square) const
{
    // A padding of 1 or more would divide by zero or invert the square box.
    if (!(padding >= 0 && padding < 1))
        throw std::logic_error("Embedding::computeBoundingBox: the padding must lie in [0, 1)");
    const uint32_t d = dimensions_;
    box.resize(static_cast<size_t>(d) * 2);
    for (uint32_t k = 0; k < d; ++k) {
        box[2 * k] = FLT_MAX;
        box[2 * k + 1] = -FLT_MAX;
    }
    for (uint32_t p = 0; p < numberOfPoints_; ++p)
        for (uint32_t k = 0; k < d; ++k) {
            const float value = coordinates_[static_cast<size_t>(p) * d + k];
            box[2 * k] = std::min(box[2 * k], value);
            box[2 * k + 1] = std::max(box[2 * k + 1], value);
        }
    if (padding == 0 || numberOfPoints_ == 0)
        return;
    float largestExtent = 0;
    for (uint32_t k = 0; k < d; ++k) {
        const float extent = box[2 * k + 1] - box[2 * k];
        box[2 * k] -= extent * padding * 0.5f;
        box[2 * k + 1] += extent * padding * 0.5f;
        largestExtent = std::max(largestExtent, extent);
    }
    if (!square)
        return;
    const float halfSide = largestExtent * 0.5f / (1 - padding);
    for (uint32_t k = 0; k < d; ++k) {
        const float centre = (box[2 * k] + box[2 * k + 1]) / 2;
        box[2 * k] = centre - halfSide;
        box[2 * k + 1] = centre + halfSide;
    }
}

void Embedding::centre(const std::vector<float>& box)
{
    const uint32_t d = dimensions_;
    for (uint32_t p = 0; p < numberOfPoints_; ++p)
        for (uint32_t k = 0; k < d; ++k)
            coordinates_[static_cast<size_t>(p) * d + k] -= (box[2 * k] + box[2 * k + 1]) / 2;
}

void Embedding::scaleIfSmallerThan(float size)
{
    if (numberOfPoints_ == 0 || dimensions_ == 0)
        return;
    std::vector<float> box;
    computeBoundingBox(box);
    const float extent = box[1] - box[0];
    if (extent >= size)
        return;
    centre(box);
    // A collapsed dimension 0 (one point, or all points on a line) would
    // turn every coordinate into a NaN for good: it is only centred.
    if (!std::isfinite(extent) || extent <= 0)
        return;
    const float factor = size / extent;
    for (float& value : coordinates_)
        value *= factor;
}

void Embedding::zeroCentre()
{
    if (numberOfPoints_ == 0)
        return;
    std::vector<float> box;
    computeBoundingBox(box);
    centre(box);
}

} // namespace vel
