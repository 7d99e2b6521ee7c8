#include "support/LinkTreeCheck.h"

#include <algorithm>

bool linksFormTree(const std::vector<MCV_DerivedDataClusters::Link>& links, int count)
{
    if (static_cast<int>(links.size()) != std::max(count - 1, 0))
        return false;
    std::vector<int> parent(static_cast<size_t>(std::max(count, 0)));
    for (int v = 0; v < count; ++v)
        parent[v] = v;
    auto root = [&parent](int v) {
        while (parent[v] != v)
            v = parent[v];
        return v;
    };
    for (const MCV_DerivedDataClusters::Link& link : links) {
        if (link.source < 0 || link.source >= count || link.target < 0 || link.target >= count)
            return false;
        const int a = root(link.source), b = root(link.target);
        if (a == b)
            return false;
        parent[a] = b;
    }
    return true;
}
