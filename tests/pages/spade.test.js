// The DOM-free parts of the SPADE pages, run in node on the real page file
// with the bundle's d3.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const path = require('path');
const vm = require('vm');

const bundle = process.env.VESSARINE_BUNDLE_DIR;
const spade = path.join(__dirname, '..', '..', 'resources', 'spade');

function load() {
    const context = {};
    context.window = context;
    vm.createContext(context);
    for (const file of [path.join(bundle, 'jslibs', 'd3.v4.js'), path.join(spade, 'spade.globals.js')])
        vm.runInContext(fs.readFileSync(file, 'utf8'), context, { filename: file });
    return context;
}

const page = load();

test('geometry: layout square inside the margins, never negative', () => {
    assert.deepStrictEqual({ ...page.viewGeometry(800, 600) }, { side: 395, left: 202.5, top: 80 });
    assert.deepStrictEqual({ ...page.viewGeometry(400, 900) }, { side: 240, left: 80, top: 307.5 });
    assert.deepStrictEqual({ ...page.viewGeometry(100, 100) }, { side: 0, left: 80, top: 80 });
    assert.deepStrictEqual([...page.layoutDomain([3, -1, 2])], [-1, 3]);
    assert.deepStrictEqual([...page.layoutDomain([5])], [4, 6]);
    assert.deepStrictEqual([...page.layoutDomain([])], [-1, 1]);
    assert.deepStrictEqual([...page.layoutDomain([NaN, 1, undefined, 2])], [1, 2]);
});

test('size2rad: 5 to 25 pixels by the share of all events', () => {
    const cases = [[0, 100, 5], [0.8, 100, 5], [20, 100, 25], [50, 100, 25], [10.4, 100, Math.sqrt(325)],
                   [1, 0, 5], [NaN, 10, 5]];
    for (const [size, total, radius] of cases)
        assert.ok(Math.abs(page.size2rad(size, total) - radius) < 1e-9, `${size} of ${total}`);
});

test('hulls: 40 points per circle, convex, empty without circles', () => {
    assert.strictEqual(page.hullPath([]), '');
    const one = page.hullPath([{ x: 10, y: 20, r: 5 }]);
    const points = one.slice(1, -1).split('L').map((p) => p.split(',').map(Number));
    assert.ok(one.startsWith('M') && one.endsWith('Z'));
    assert.strictEqual(points.length, 40);
    points.forEach(([x, y]) => assert.ok(Math.abs(Math.hypot(x - 10, y - 20) - 5) < 1e-9));
    // Two circles: every point of both lies inside or on the hull.
    const hull = page.hullPath([{ x: 0, y: 0, r: 2 }, { x: 30, y: 0, r: 9 }]).slice(1, -1).split('L')
        .map((p) => p.split(',').map(Number));
    const xs = hull.map((p) => p[0]);
    assert.ok(Math.abs(Math.min(...xs) + 2) < 1e-9 && Math.abs(Math.max(...xs) - 39) < 1e-9);
    assert.ok(hull.length < 80);
});

test('size legend labels: shares, or rounded counts', () => {
    assert.deepStrictEqual([...page.sizeLegendLabels(1000, false)], ['< 1%', '3%', '7%', '12%', '> 20%']);
    assert.deepStrictEqual([...page.sizeLegendLabels(1234, true)], ['< 12', '37', '86', '148', '> 247']);
    assert.deepStrictEqual([...page.sizeLegendLabels(0, true)], ['< 0', '0', '0', '0', '> 0']);
});

test('links: only between two distinct existing nodes, copied', () => {
    const links = [{ source: 0, target: 1, value: 2 }, { source: 1, target: 1 }, { source: 2, target: 5 },
                   { source: -1, target: 0 }, { source: '1', target: 0 }, { source: 1.5, target: 0 },
                   { source: 2, target: 0, value: 3 }];
    const valid = page.validLinks(links, 3);
    assert.deepStrictEqual(JSON.parse(JSON.stringify(valid)),
                           [{ source: 0, target: 1, value: 2 }, { source: 2, target: 0, value: 3 }]);
    assert.notStrictEqual(valid[0], links[0]);
    assert.strictEqual(page.validLinks(undefined, 3).length, 0);
});

test('bounds, colour domains, positions and escaping', () => {
    const nodes = [{ expression: [1, 5] }, { expression: [3, NaN] }, { expression: [-2, 5] }];
    assert.deepStrictEqual(JSON.parse(JSON.stringify(page.markerBounds(nodes, 3))), [[-2, 3], [5, 5], [0, 0]]);
    assert.deepStrictEqual([...page.colourDomain([1, 4])], [1, 4]);
    assert.deepStrictEqual([...page.colourDomain([5, 5])], [5, 6]);
    const text = page.positionsText([{ x: 1.5, y: -2 }, { x: 0, y: 3 }]);
    assert.strictEqual(text, '[{"px":1.5,"py":-2},{"px":0,"py":3}]');
    assert.strictEqual(page.parsePositions(text, 2).length, 2);
    assert.strictEqual(page.parsePositions(text, 3), null);
    assert.strictEqual(page.parsePositions('', 0), null);
    assert.strictEqual(page.parsePositions('{"px":1}', 1), null);
    assert.strictEqual(page.escapeHtml('<img src=x onerror="a">&\''), '&lt;img src=x onerror=&quot;a&quot;&gt;&amp;&#39;');
    assert.strictEqual(page.commonBubble([]), '');
    assert.strictEqual(page.commonBubble([{ subTree: 'a' }, { subTree: 'a' }]), 'a');
    assert.strictEqual(page.commonBubble([{ subTree: 'a' }, { subTree: '' }]), '');
    assert.strictEqual(page.commonBubble([{}, { subTree: '' }]), '');
});

test('node menu for every selection and bubble state', () => {
    const base = { nodeSelected: false, anySelected: false, nodeFixed: false, selectedCount: 0, selectedFixedCount: 0,
                   bubbles: [], nodeBubble: '', selectionBubble: '', selectionInBubble: false };
    const titles = (state) => [...page.nodeMenuEntries({ ...base, ...state })].map((e) => (e.divider ? "--" : e.title));
    const cases = [
        [{}, ['Fix Node', '--', 'Save Image ...']],
        [{ nodeFixed: true }, ['Unfix Node', '--', 'Save Image ...']],
        // Another node selected: no bubble entries for this one.
        [{ anySelected: true, selectedCount: 2, bubbles: ['B'] },
         ['Add Node to Selection', '--', 'Fix Node', '--', 'Save Image ...']],
        [{ nodeSelected: true, anySelected: true, selectedCount: 2 },
         ['Remove Node from Selection', '--', 'Fix Node', 'Fix Selection', '--', 'Create Bubble ...', '--',
          'Save Image ...']],
        [{ nodeSelected: true, anySelected: true, nodeFixed: true, selectedCount: 2, selectedFixedCount: 2 },
         ['Remove Node from Selection', '--', 'Unfix Node', 'Unfix Selection', '--', 'Create Bubble ...', '--',
          'Save Image ...']],
        [{ nodeSelected: true, anySelected: true, selectedCount: 3, selectedFixedCount: 1 },
         ['Remove Node from Selection', '--', 'Fix Node', 'Fix Selection', 'Unfix Selection', '--',
          'Create Bubble ...', '--', 'Save Image ...']],
        // Nothing selected, bubbles exist.
        [{ bubbles: ['A', 'B'] }, ['Fix Node', '--', 'Add Node to A', 'Add Node to B', '--', 'Save Image ...']],
        [{ bubbles: ['A', 'B'], nodeBubble: 'A' },
         ['Fix Node', '--', 'Add Node to B', 'Remove Node from A', '--', 'Save Image ...']],
        // Selection in one bubble, in several, partly in none.
        [{ nodeSelected: true, anySelected: true, selectedCount: 2, bubbles: ['A', 'B'], selectionBubble: 'A',
           selectionInBubble: true },
         ['Remove Node from Selection', '--', 'Fix Node', 'Fix Selection', '--', 'Create Bubble ...',
          'Add Selection to B', 'Remove Selection from A', '--', 'Save Image ...']],
        [{ nodeSelected: true, anySelected: true, selectedCount: 2, bubbles: ['A', 'B'], selectionInBubble: true },
         ['Remove Node from Selection', '--', 'Fix Node', 'Fix Selection', '--', 'Create Bubble ...',
          'Add Selection to A', 'Add Selection to B', 'Remove Selection from Phenotree', '--', 'Save Image ...']],
        [{ nodeSelected: true, anySelected: true, selectedCount: 1, bubbles: ['A'] },
         ['Remove Node from Selection', '--', 'Fix Node', 'Fix Selection', '--', 'Create Bubble ...',
          'Add Selection to A', '--', 'Save Image ...']]];
    for (const [state, expected] of cases)
        assert.deepStrictEqual(titles(state), expected, JSON.stringify(state));

    // Entries carry their action and bubble; names stay as typed.
    const entries = page.nodeMenuEntries({ ...base, bubbles: ['<b>&'], nodeBubble: '' });
    assert.deepStrictEqual({ ...entries[2] }, { title: 'Add Node to <b>&', action: 'addNodeToBubble', bubble: '<b>&' });
    assert.deepStrictEqual([...page.bubbleMenuEntries('x')].map((e) => e.title || '--'),
                           ['Save Bubble ...', 'Save Bubble to Separate Files ...', '--', 'Save Image ...']);
    assert.deepStrictEqual([...page.backgroundMenuEntries()].map((e) => e.title), ['Save Image ...']);
});
