#pragma once

#include "analyses/MCV_Analysis.h"
#include "data/MCV_DataRegistry.h"
#include "data/MCV_DerivedDataClusters.h"

#include <string>
#include <vector>

/// An analysis for renderer tests and benchmarks: point k is event k of sample 0; density
/// clusters become a registry clusters set (reused under one name, as an
/// analysis does), and the previews it is handed are kept.
class ClusteringTestAnalysis : public MCV_Analysis
{
public:
    MCV_DerivedData* createDerivedData(const std::vector<std::vector<unsigned>>& indexLists,
                                       std::string name) override
    {
        MCV_DerivedDataClusters* clusters = MCV_DataRegistry::instance()->createClustersData(name + " - test", true);
        std::vector<std::vector<MCV_PointIndex>> members(indexLists.size());
        std::vector<std::vector<int64_t>> positions(indexLists.size());
        for (size_t c = 0; c < indexLists.size(); ++c)
            for (unsigned k : indexLists[c]) {
                members[c].push_back(MCV_PointIndex{0, static_cast<int32_t>(k)});
                positions[c].push_back(k);
            }
        clusters->setClusters(members, nullptr, {}, positions);
        ++setsMade;
        return clusters;
    }

    void setPreviewImages(std::vector<unsigned char*> images) override { previews = images; }

    int setsMade = 0;
    std::vector<unsigned char*> previews;
};
