#pragma once

#include <string>
#include <vector>

/// FCS files for page tests: events in a few well separated blobs, with
/// marker names that try every way a name could break a page or a file
/// (quotes, a backslash, markup, non-ASCII, a no-break space).
class HostileMarkerFiles
{
public:
    /// The five marker names, in parameter order.
    static const std::vector<std::string>& markerNames();

    /// Writes folder/name: `events` events of the five markers, event e in
    /// blob e % blobs (blob b near 10 * b in every marker, plus a small
    /// pattern of the seed); returns the path.
    static std::string write(const std::string& folder, const std::string& name, int events, int blobs, int seed);
};
