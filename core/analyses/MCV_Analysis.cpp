#include "analyses/MCV_Analysis.h"

#include "analyses/MCV_UiInterface.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"
#include "data/FcsHeader.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <utility>

MCV_Analysis::~MCV_Analysis() = default;

void MCV_Analysis::initialize(MCV_UiInterface* uiInterface, std::string name)
{
    m_uiInterface = uiInterface;
    m_name = std::move(name);
    const int64_t count = currentParameterCount();
    m_activeMarkers.assign(static_cast<size_t>(count), true);
    m_activeMarkerIndices.resize(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i)
        m_activeMarkerIndices[static_cast<size_t>(i)] = static_cast<int>(i);
    m_markersChanged = true;
}

MCV_DerivedDataPoints* MCV_Analysis::inputData() const
{
    if (m_inputData == nullptr || m_inputGeneration != MCV_DataRegistry::currentGeneration())
        return nullptr;
    return m_inputData;
}

void MCV_Analysis::setInputData(MCV_DerivedDataPoints* data)
{
    m_inputData = data;
    m_inputGeneration = MCV_DataRegistry::currentGeneration();
}

MCV_DerivedDataPoints* MCV_Analysis::currentInput()
{
    if (inputData() != nullptr)
        return inputData();
    const std::weak_ptr<const bool> alive = lifetime();
    MCV_DerivedDataPoints* input = MCV_DataRegistry::instance()->createPointsData("All Points", true);
    if (alive.expired())
        return nullptr;
    setInputData(input);
    return inputData();
}

void MCV_Analysis::publishClustersSet(const std::vector<std::vector<MCV_PointIndex>>& clusters,
                                      const std::vector<MCV_DerivedDataClusters::Link>& links, bool reuse)
{
    // Both steps may announce; a slot may reopen the files or delete this analysis.
    const std::weak_ptr<const bool> alive = lifetime();
    MCV_DerivedDataPoints* input = currentInput();
    if (alive.expired() || input == nullptr || inputData() != input)
        return;
    MCV_DerivedDataClusters* set = MCV_DataRegistry::instance()->createClustersData(m_name, reuse);
    if (set == nullptr || alive.expired())
        return;
    m_name = set->name();
    set->setClusters(clusters, input, links); // last: it announces
}

bool MCV_Analysis::usableInputEvents(const std::vector<MCV_PointIndex>& input, const std::string& prefix,
                                     const std::string& result, std::vector<MCV_PointIndex>& usable) const
{
    usable.clear();
    MCV_DataRegistry* registry = MCV_DataRegistry::instance();
    const int64_t parameters = registry->parameterCount();
    for (const MCV_PointIndex& p : input)
    {
        if (p.sampleIndex < 0 || p.sampleIndex >= registry->sampleCount() || p.eventIndex < 0
            || p.eventIndex >= registry->sampleHeader(p.sampleIndex)->eventCount())
        {
            std::cout << prefix << "The input of " << m_name << " names events that are not loaded; nothing is computed."
                      << std::endl;
            return false;
        }
    }
    // One non-finite value would make every similarity NaN: such events stay out.
    usable.reserve(input.size());
    for (const MCV_PointIndex& p : input)
    {
        const float* row = registry->sampleData(p.sampleIndex) + static_cast<int64_t>(p.eventIndex) * parameters;
        if (std::all_of(m_activeMarkerIndices.begin(), m_activeMarkerIndices.end(),
                        [row](int marker) { return std::isfinite(row[marker]); }))
            usable.push_back(p);
    }
    if (usable.size() < input.size())
        std::cout << prefix << input.size() - usable.size() << " events of " << m_name
                  << " have a value that is not a finite number in an active marker and are left out of the "
                  << result << "." << std::endl;
    return true;
}

void MCV_Analysis::setMarkerActive(int marker, bool on)
{
    if (marker < 0 || static_cast<size_t>(marker) >= m_activeMarkers.size())
        return;
    if (m_activeMarkers[static_cast<size_t>(marker)] == on)
        return;
    m_activeMarkers[static_cast<size_t>(marker)] = on;
    m_activeMarkerIndices.clear();
    for (size_t i = 0; i < m_activeMarkers.size(); ++i)
        if (m_activeMarkers[i])
            m_activeMarkerIndices.push_back(static_cast<int>(i));
    m_markersChanged = true;
}

void MCV_Analysis::resizeMarkerFlags()
{
    const int64_t count = currentParameterCount();
    m_activeMarkers.resize(static_cast<size_t>(count), false);
    // Files with fewer parameters may have been opened since the markers were chosen.
    const auto stale = std::remove_if(m_activeMarkerIndices.begin(), m_activeMarkerIndices.end(),
                                      [count](int marker) { return marker >= count; });
    if (stale == m_activeMarkerIndices.end())
        return;
    m_activeMarkerIndices.erase(stale, m_activeMarkerIndices.end());
    m_markersChanged = true;
}

void MCV_Analysis::requestDeletion()
{
    if (m_uiInterface)
        m_uiInterface->readyForDeletionSignal(this); // the owner may delete us here
}

int64_t MCV_Analysis::currentParameterCount()
{
    // Asking instance() would create an empty registry; without one there are no parameters.
    if (MCV_DataRegistry::currentGeneration() == 0)
        return 0;
    return MCV_DataRegistry::instance()->parameterCount();
}
