// Agglomerative clustering for the heat map's dendrogram.
//
//     var root = clusterfck.hcluster(vectors, "euclidean");
//
// Euclidean distances, average linkage: the distance between two clusters is
// the mean of the distances between their members. Leaves are
// { value, index, size: 1 } (index: the vector's place in the input); merged
// nodes are { left, right, dist, size } with dist the linkage distance at
// which they were merged. The closest pair merges first; of equally close
// pairs, the one with the lowest cluster indices, where a cluster's index is
// its lowest member index, and the lower cluster becomes the left child.
// Returns null for no vectors and the leaf for one.
var clusterfck = (function () {
    'use strict';

    // Euclidean distance between rows i and j of a flat row-major matrix.
    function rowDistance(values, dimensions, i, j) {
        var sum = 0;
        var a = i * dimensions;
        var b = j * dimensions;
        for (var k = 0; k < dimensions; ++k) {
            var d = values[a + k] - values[b + k];
            sum += d * d;
        }
        return Math.sqrt(sum);
    }

    function hcluster(vectors, distance, linkage) {
        if (distance !== undefined && distance !== 'euclidean')
            throw new Error('clusterfck: unknown distance "' + distance + '"');
        if (linkage !== undefined && linkage !== 'average')
            throw new Error('clusterfck: unknown linkage "' + linkage + '"');
        var n = vectors.length;
        if (n === 0)
            return null;

        // Slot i holds the cluster whose lowest member is i. sums[i * n + j]
        // (i < j) is the sum of the distances between the members of slots i
        // and j, so merging only adds sums and the mean is exact for exact
        // inputs.
        var nodes = [];
        var sizes = [];
        var active = [];
        var i, j, k;
        var dimensions = vectors[0].length;
        var values = new Float64Array(n * dimensions);
        for (i = 0; i < n; ++i) {
            nodes.push({ value: vectors[i], index: i, size: 1 });
            sizes.push(1);
            active.push(i);
            for (k = 0; k < dimensions; ++k)
                values[i * dimensions + k] = vectors[i][k];
        }
        var sums = new Float64Array(n * n);
        for (i = 0; i < n; ++i)
            for (j = i + 1; j < n; ++j)
                sums[i * n + j] = rowDistance(values, dimensions, i, j);

        function pair(a, b) {
            return a < b ? a * n + b : b * n + a;
        }
        function mean(a, b) {
            return sums[pair(a, b)] / (sizes[a] * sizes[b]);
        }

        // Every slot's nearest other slot; the lowest index among equals.
        var nearest = new Int32Array(n);
        var nearestDist = new Float64Array(n);
        function findNearest(a) {
            var best = -1;
            var bestDist = Infinity;
            for (var t = 0; t < active.length; ++t) {
                var b = active[t];
                if (b === a)
                    continue;
                var d = mean(a, b);
                if (best < 0 || d < bestDist) {
                    best = b;
                    bestDist = d;
                }
            }
            nearest[a] = best;
            nearestDist[a] = bestDist;
        }
        for (i = 0; i < n; ++i)
            findNearest(i);

        while (active.length > 1) {
            // The first slot at the smallest distance is the lower one of the
            // lowest closest pair, and its nearest slot is the other one.
            var a = active[0];
            for (k = 1; k < active.length; ++k)
                if (nearestDist[active[k]] < nearestDist[a])
                    a = active[k];
            var b = nearest[a];
            var dist = nearestDist[a];

            nodes[a] = { left: nodes[a], right: nodes[b], dist: dist, size: sizes[a] + sizes[b] };
            active.splice(active.indexOf(b), 1);
            for (k = 0; k < active.length; ++k) {
                var c = active[k];
                if (c !== a)
                    sums[pair(a, c)] += sums[pair(b, c)];
            }
            sizes[a] += sizes[b];

            for (k = 0; k < active.length; ++k) {
                var s = active[k];
                if (s === a || nearest[s] === a || nearest[s] === b) {
                    findNearest(s);
                } else {
                    var d = mean(s, a);
                    if (d < nearestDist[s] || (d === nearestDist[s] && a < nearest[s])) {
                        nearest[s] = a;
                        nearestDist[s] = d;
                    }
                }
            }
        }
        return nodes[active[0]];
    }

    return { hcluster: hcluster };
})();
