// The heat-map page's DOM-free rules and our clustering, loaded from the real
// page files with the build's d3.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const path = require('path');
const vm = require('vm');

const bundle = process.env.VESSARINE_BUNDLE_DIR;
const resources = path.join(__dirname, '..', '..', 'resources');

function loadPage() {
    const context = { console: console };
    context.window = context;
    vm.createContext(context);
    const files = [path.join(bundle, 'jslibs', 'd3.v4.js'), path.join(bundle, 'jslibs', 'd3-scale-chromatic.js'),
                   path.join(resources, 'jslibs', 'clusterfck-0.1.js'),
                   ...['colormaps.js', 'globals.js', 'tools.js'].map((f) => path.join(resources, 'jstools', f)),
                   ...['heatmap.js', 'heatmap.dendrogram.js', 'heatmap.keys.js'].map((f) => path.join(resources, 'heatmap', f))];
    for (const file of files)
        vm.runInContext(fs.readFileSync(file, 'utf8'), context, { filename: file });
    return context;
}

const page = loadPage();

// Arrays made inside the page's context, as plain arrays of this one.
function plain(value) {
    return JSON.parse(JSON.stringify(value));
}

// Display order (cluster indices, first first) from display positions.
function orderOf(positions) {
    const order = [];
    positions.forEach((position, cluster) => { order[position] = cluster; });
    return order;
}

test('sorting: no marker, low to high and high to low, with 0, 1 and 3 selected', () => {
    const values = [3, 1, 3, 5, 0.5, 2];
    const none = [0, 0, 0, 0, 0, 0];
    const one = [0, 0, 0, 1, 0, 0];
    const three = [1, 0, 0, 1, 0, 1];
    const cases = [
        // [values, selection, highToLow, expected order]
        [null, none, true, [0, 1, 2, 3, 4, 5]],
        [null, one, true, [0, 1, 2, 3, 4, 5]],
        [null, three, true, [0, 3, 5, 1, 2, 4]],
        [null, three, false, [0, 3, 5, 1, 2, 4]],
        // Ascending, equal values by cluster index; high to low is its reverse.
        [values, none, false, [4, 1, 5, 0, 2, 3]],
        [values, none, true, [3, 2, 0, 5, 1, 4]],
        [values, one, false, [4, 1, 5, 0, 2, 3]],
        [values, one, true, [3, 2, 0, 5, 1, 4]],
        // Selected clusters first in either direction, each group sorted.
        [values, three, false, [5, 0, 3, 4, 1, 2]],
        [values, three, true, [3, 0, 5, 2, 1, 4]],
    ];
    for (const [vals, selection, highToLow, expected] of cases)
        assert.deepStrictEqual(orderOf(page.sortPositions(6, vals, selection, highToLow)), expected,
                               JSON.stringify([vals, selection, highToLow]));
    assert.deepStrictEqual(plain(page.sortPositions(0, [], [], true)), []);
    assert.deepStrictEqual(plain(page.sortPositions(1, [7], [1], true)), [0]);
});

// Average linkage by definition: every step merges the pair of clusters
// with the smallest mean distance over all member pairs; equal means go to
// the pair with the lowest lowest-members.
function bruteForceMerges(vectors) {
    const distance = (a, b) => Math.sqrt(a.reduce((sum, value, i) => sum + (value - b[i]) ** 2, 0));
    let clusters = vectors.map((vector, index) => [index]);
    const merges = [];
    while (clusters.length > 1) {
        let best = null;
        for (let a = 0; a < clusters.length; ++a)
            for (let b = a + 1; b < clusters.length; ++b) {
                let sum = 0;
                for (const i of clusters[a])
                    for (const j of clusters[b])
                        sum += distance(vectors[i], vectors[j]);
                const mean = sum / (clusters[a].length * clusters[b].length);
                if (!best || mean < best.dist)
                    best = { a: a, b: b, dist: mean };
            }
        const left = clusters[best.a];
        const right = clusters[best.b];
        merges.push({ key: left.join() + '|' + right.join(), dist: best.dist });
        clusters[best.a] = left.concat(right).sort((x, y) => x - y);
        clusters.splice(best.b, 1);
    }
    return merges;
}

function leavesOf(node) {
    return node.left === undefined ? [node.index] : leavesOf(node.left).concat(leavesOf(node.right));
}

function treeMerges(root) {
    const merges = new Map();
    const walk = (node) => {
        if (node.left === undefined)
            return;
        const sorted = (n) => leavesOf(n).sort((x, y) => x - y).join();
        merges.set(sorted(node.left) + '|' + sorted(node.right), node);
        walk(node.left);
        walk(node.right);
    };
    walk(root);
    return merges;
}

function randomVectors(seed, count, dimensions) {
    let state = seed;
    const next = () => {
        state = (state * 1103515245 + 12345) % 2147483648;
        return state / 2147483648;
    };
    return Array.from({ length: count }, () => Array.from({ length: dimensions }, () => next() * 10));
}

test('clustering equals a brute-force average linkage, merge by merge', () => {
    const sets = [];
    for (let seed = 1; seed <= 12; ++seed)
        sets.push(randomVectors(seed, 3 + seed * 2, 1 + (seed % 5)));
    // Integer points on a line: exact distances, so equal means tie exactly.
    sets.push([[0], [1], [2], [3], [5], [6], [10], [11], [0], [20]]);
    sets.push([[4], [4], [4], [4]]);
    sets.push([[0], [2], [1], [3]]);
    for (const vectors of sets) {
        const expected = bruteForceMerges(vectors);
        const root = page.clusterfck.hcluster(vectors, 'euclidean');
        const merges = treeMerges(root);
        assert.strictEqual(merges.size, expected.length);
        for (const merge of expected) {
            const node = merges.get(merge.key);
            assert.ok(node, 'merge ' + merge.key + ' of ' + JSON.stringify(vectors));
            assert.ok(Math.abs(node.dist - merge.dist) <= 1e-9, merge.key + ': ' + node.dist + ' vs ' + merge.dist);
            assert.strictEqual(node.size, merge.key.split(/[|,]/).length);
        }
        assert.strictEqual(root.size, vectors.length);
    }
});

test('clustering: no vectors, one vector, unknown distances', () => {
    assert.strictEqual(page.clusterfck.hcluster([], 'euclidean'), null);
    const leaf = page.clusterfck.hcluster([[1, 2]], 'euclidean');
    assert.strictEqual(leaf.index, 0);
    assert.strictEqual(leaf.left, undefined);
    assert.deepStrictEqual(plain(page.leafOrder(leaf)), [0]);
    assert.deepStrictEqual(plain(page.leafOrder(null)), []);
    assert.throws(() => page.clusterfck.hcluster([[1], [2]], 'manhattan'));
});

test('leaf order visits right before left; leaves stand over their columns', () => {
    const leaf = (index) => ({ index: index, size: 1 });
    // ((0, 1) at 1, (2, (3, 4) at 0.5) at 2) at 3
    const tree = {
        left: { left: leaf(0), right: leaf(1), dist: 1, size: 2 },
        right: { left: leaf(2), right: { left: leaf(3), right: leaf(4), dist: 0.5, size: 2 }, dist: 2, size: 3 },
        dist: 3, size: 5
    };
    const order = plain(page.leafOrder(tree));
    assert.deepStrictEqual(order, [4, 3, 2, 1, 0]);

    const columnWidth = 12.5;
    const hierarchy = page.dendrogramLayout(tree, 5 * columnWidth);
    const positions = page.positionsFromOrder(order);
    for (const node of hierarchy.leaves()) {
        assert.ok(Math.abs(node.x - (positions[node.data.index] + 0.5) * columnWidth) < 1e-9);
        assert.strictEqual(node.y, 120);
    }
    // Root distance 3 rounds up to the scale's top at y 20.
    assert.strictEqual(hierarchy.y, 20);
    const labels = plain(page.dendrogramLabels(hierarchy));
    assert.deepStrictEqual(labels.map((label) => label.text).sort(), ['0.50', '1.00', '2.00', '3.00']);
    const rootLabel = labels.find((label) => label.text === '3.00');
    assert.strictEqual(rootLabel.x, hierarchy.x);
    assert.strictEqual(rootLabel.y, 18);
    // The root's first child is its right subtree: shifted left.
    const first = labels.find((label) => label.text === '2.00');
    assert.strictEqual(first.x, hierarchy.children[0].x - 20);

    // "No distance" counts as 0 and carries no label.
    const flat = { left: leaf(0), right: leaf(1), dist: 99999999.9, size: 2 };
    const flatLayout = page.dendrogramLayout(flat, 20);
    assert.strictEqual(flatLayout.y, 120);
    assert.deepStrictEqual(plain(page.dendrogramLabels(flatLayout)), []);
});

test('geometry, colour range, variation and frames without divisions by zero', () => {
    const base = { innerWidth: 890, innerHeight: 520, labelWidth: 40, markerSelectionMode: false,
                   dendrogram: false, clusterCount: 8, rowCount: 5 };
    let g = page.heatmapGeometry(base);
    assert.strictEqual(g.width, 800);
    assert.strictEqual(g.left, 50);
    assert.strictEqual(g.columnWidth, 750 / 8);
    assert.strictEqual(g.rowHeight, (500 - 90) / 5);
    g = page.heatmapGeometry(Object.assign({}, base, { markerSelectionMode: true, dendrogram: true }));
    assert.strictEqual(g.left, 80);
    assert.strictEqual(g.top, 120);
    assert.strictEqual(g.heatmapHeight, 500 - 90 - 120);
    g = page.heatmapGeometry(Object.assign({}, base, { clusterCount: 0, rowCount: 0, innerWidth: 10, innerHeight: 5 }));
    assert.deepStrictEqual([g.columnWidth, g.rowHeight, g.heatmapWidth, g.heatmapHeight], [0, 0, 0, 0]);

    const nodes = [{ expression: [1, -2, 9] }, { expression: [4, 0.5, 30] }];
    assert.deepStrictEqual(plain(page.activeValueRange(nodes, [1, 1, 0], 3)), [-2, 4]);
    assert.strictEqual(page.activeValueRange(nodes, [0, 0, 0], 3), null);
    assert.strictEqual(page.activeValueRange([], [1, 1, 1], 3), null);
    assert.deepStrictEqual(plain(page.sliderSpan([-2, 4])), [-2, 5]);
    assert.deepStrictEqual(plain(page.sliderSpan([1, 8])), [0, 8]);
    assert.deepStrictEqual(plain(page.runningCounts([1, 0, 1, 1], 4)), [0, 1, 1, 2]);

    assert.strictEqual(page.variationFactor(0), 1);
    assert.ok(Math.abs(page.variationFactor(1.5) - 0.525) < 1e-12);
    assert.strictEqual(page.variationFactor(10), 0.05);

    // Positions: cluster c stands at positions[c].
    const positions = [0, 3, 1, 4, 2];
    assert.deepStrictEqual(plain(page.selectionRuns(positions, [0, 1, 0, 1, 1], false)), [[2, 4]]);
    assert.deepStrictEqual(plain(page.selectionRuns(positions, [1, 1, 0, 1, 0], true)), [[0, 0], [3, 4]]);
    assert.deepStrictEqual(plain(page.selectionRuns(positions, [0, 0, 0, 0, 0], true)), []);
});

test('keys: neighbours in display order, first and last column', () => {
    const positions = [2, 0, 1];
    assert.strictEqual(page.clusterForKey(page._keyLeft, positions, [1, 0, 0]), 2);
    assert.strictEqual(page.clusterForKey(page._keyRight, positions, [1, 0, 0]), -1);
    assert.strictEqual(page.clusterForKey(page._keyRight, positions, [0, 1, 0]), 2);
    assert.strictEqual(page.clusterForKey(page._keyLeft, positions, [0, 0, 0]), -1);
    assert.strictEqual(page.clusterForKey(page._keyUp, positions, [0, 0, 0]), 0);
    assert.strictEqual(page.clusterForKey(page._keyDown, positions, [1, 0, 0]), 1);
    assert.strictEqual(page.clusterForKey(page._keyDown, positions, [1, 1, 0]), -1);
    assert.strictEqual(page.clusterForKey(page._keyUp, [], []), -1);
});
