#pragma once

#include "data/MCV_DerivedData.h"
#include "data/MCV_PointIndex.h"

#include "hsne/HierarchicalSne.h"
#include "vel/utils/CoutLog.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// The landmark hierarchy over a set of events: the data matrix (events by
/// active markers), the engine's scales built on it, and for every scale
/// above the first the events each landmark represents. Never registered:
/// the hierarchy analysis and its levels share it.
class MCV_DerivedDataHierarchy : public MCV_DerivedData
{
public:
    MCV_DerivedDataHierarchy();
    ~MCV_DerivedDataHierarchy() override;

    /// Stores name, counts, points and parameters; the data become N x
    /// dimensions zeros for the caller to fill. Records the registry
    /// generation the points belong to.
    void initialize(const std::string& name, int pointCount, int dimensions, int scaleCount,
                    const std::vector<MCV_PointIndex>& points, const vel::HierarchicalSne::Parameters& parameters);
    std::vector<float>& data() { return m_data; }

    /// Builds scale 0 and up to scale count - 1 landmark scales (fewer when
    /// the engine finds fewer than 2 landmarks), then the points-per-landmark
    /// cache. Engine refusals (too few points, no dimensionality) propagate
    /// as std::logic_error, leaving no scale.
    void computeHierarchy();

    /// Scales actually built (0 before computeHierarchy).
    int builtScaleCount() const;
    /// Scales asked for.
    int scaleCount() const { return m_scaleCount; }
    int pointCount() const { return m_pointCount; }
    int dimensions() const { return m_dimensions; }
    const std::vector<MCV_PointIndex>& points() const { return m_points; }
    /// Generation of the registry whose events the points name.
    uint64_t registryGeneration() const { return m_registryGeneration; }
    /// The default-state keys of the files the points' sample indices
    /// number, as they were loaded then.
    const std::vector<std::string>& sampleKeys() const { return m_sampleKeys; }
    const vel::HierarchicalSne::Parameters& parameters() const { return m_parameters; }
    /// The engine, null before computeHierarchy.
    const vel::HierarchicalSne* engine() const { return m_engine.get(); }

    /// Transition rows of a built scale; null for any other index.
    const std::vector<vel::MapMemEff>* transitionMatrix(int scale) const;
    /// The landmarks' rows of the data (all, or those of `subset`, in its
    /// order); a scale that was not built leaves out unchanged.
    void landmarkOriginalIndices(int scale, std::vector<int>& out, const std::vector<unsigned>* subset = nullptr) const;
    /// The same for the landmarks' weights.
    void landmarkWeights(int scale, std::vector<float>& out, const std::vector<unsigned>* subset = nullptr) const;
    /// Landmarks of a built scale, 0 otherwise.
    int landmarkCount(int scale) const;
    /// Per landmark of a scale s >= 1, the events it represents in data
    /// order; null for scale 0 and for scales that were not built.
    const std::vector<std::vector<MCV_PointIndex>>* pointsPerLandmark(int scale) const;

    /// Per event in data order, the landmark of scale s >= 1 whose list
    /// holds it (-1 for none); null for scale 0 and for scales not built.
    const std::vector<int32_t>* eventLandmarks(int scale) const;
    /// The points of a built scale that stand for events of `inside` (one
    /// flag per event in data order), ascending: at scale 0 the flagged
    /// events themselves; above it, a landmark when most of its listed
    /// events are flagged or, listing none, when its own event is.
    std::vector<unsigned> pointsWithin(int scale, const std::vector<char>& inside) const;

    /// Every event goes to the landmark of each scale that it influences
    /// most (ties to the later landmark); lists are in event order. Events
    /// of no landmark are left out with a line. computeHierarchy calls it.
    void cachePointsPerLandmark();

    /// No JSON text.
    void refresh() override {}

private:
    int m_pointCount = 0;
    int m_dimensions = 0;
    int m_scaleCount = 0;
    std::unique_ptr<vel::utils::CoutLog> m_log;
    std::vector<float> m_data;
    std::unique_ptr<vel::HierarchicalSne> m_engine;
    vel::HierarchicalSne::Parameters m_parameters;
    std::vector<MCV_PointIndex> m_points;
    std::vector<std::vector<std::vector<MCV_PointIndex>>> m_pointsPerLandmark;
    /// m_eventLandmarks[s][e]: the landmark of scale s listing event e.
    std::vector<std::vector<int32_t>> m_eventLandmarks;
    uint64_t m_registryGeneration = 0;
    std::vector<std::string> m_sampleKeys;
};
