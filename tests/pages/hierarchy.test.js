// The DOM-free data script of the hierarchy pages (sunburst and icicle) and
// the sample exploration tree of the generated data, run in node.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const path = require('path');
const vm = require('vm');

const resources = path.join(__dirname, '..', '..', 'resources');
const Hierarchy = require(path.join(resources, 'hierarchy', 'hierarchy.js'));
const Icicle = require(path.join(resources, 'hierarchy_icicle', 'hierarchy.js'));

function node(name, expression, variation, children, extra) {
    return Object.assign({ name: name, image: ['', '', ''], size: 1, isLeaf: false, cId: '0', cName: '', hue: 0,
                           expression: expression || [], variation: variation || [] },
                         children ? { children: children } : {}, extra || {});
}

test('ids run depth first and leaf fractions sum to 1', () => {
    const root = node('r', [], [], [node('a', [], [], [node('a1'), node('a2'), node('a3')]), node('b')]);
    Hierarchy.prepare(root, [], []);
    const order = [];
    Hierarchy.walk(root, (n) => order.push(n.name + '=' + n.id));
    assert.deepStrictEqual(order, ['r=UID0', 'a=UID1', 'a1=UID2', 'a2=UID3', 'a3=UID4', 'b=UID5']);
    let sum = 0;
    Hierarchy.walk(root, (n) => { if (!n.children) sum += Hierarchy.leafValue(n, true); });
    assert.ok(Math.abs(sum - 1) < 1e-12);
    assert.strictEqual(root.children[0].children[0].fraction, 1 / 6);
    assert.strictEqual(Hierarchy.leafValue(root.children[1], false), 1);
    assert.strictEqual(Hierarchy.leafValue(root, true), 0);
});

test('largest variation over the active markers, ties to the later, ranges', () => {
    const root = node('r', [1, 2, 3, 4], [0.5, 3, 3, 9], [node('e', [7, 1, 5], []), node('none')]);
    let info = Hierarchy.prepare(root, [1, 1, 1, 0], ['A', 'B', 'C', 'D']);
    assert.deepStrictEqual(info.active, [0, 1, 2]);
    assert.strictEqual(root.maxMarker, 2);
    assert.strictEqual(root.maxName, 'C');
    assert.strictEqual(root.maxExpression, 3);
    assert.strictEqual(root.maxVariation, 3);
    assert.strictEqual(root.children[0].maxMarker, 0); // expression stands in
    assert.strictEqual(root.children[1].maxMarker, -1);
    assert.deepStrictEqual(info.expressionRange, [1, 7]);
    assert.deepStrictEqual(info.variationRange, [0.5, 3]);
    info = Hierarchy.prepare(root, [], []);
    assert.deepStrictEqual(info.active, [0, 1, 2, 3]);
    assert.strictEqual(root.maxMarker, 3);
    assert.strictEqual(root.maxName, '3');
    assert.deepStrictEqual(Hierarchy.prepare(node('x'), [], []).expressionRange, [0, 0]);
});

test('geometry: radius, thumbnails, segments, menu, crumbs, slider', () => {
    assert.deepStrictEqual(Hierarchy.sunburstLayout(800, 650), { cx: 400, cy: 345, radius: 262 });
    assert.strictEqual(Hierarchy.sunburstLayout(100, 80).radius, 0);
    assert.strictEqual(Hierarchy.thumbnailDiameter(0, Math.PI, 0, 100, true), 90);
    assert.ok(Math.abs(Hierarchy.thumbnailDiameter(0, 0.1, 100, 300, false) - 18) < 1e-9);
    assert.strictEqual(Hierarchy.thumbnailDiameter(0, 2, 100, 300, false), 0.9 * 200);
    assert.deepStrictEqual(Hierarchy.thumbnailOpacities(512), [1, 1, 1]);
    assert.deepStrictEqual(Hierarchy.thumbnailOpacities(192), [0, 0.5, 1]);
    assert.ok(Hierarchy.segmentsFit(0, 1, 100, 50));
    assert.ok(!Hierarchy.segmentsFit(0, 1, 100, 51));
    assert.ok(!Hierarchy.segmentsFit(0, 1, 100, 0));
    assert.ok(Hierarchy.menuEligible(node('leafless')));
    assert.ok(!Hierarchy.menuEligible(node('leaf', [], [], null, { isLeaf: true })));
    assert.ok(!Hierarchy.menuEligible(node('parent', [], [], [node('c')])));
    assert.strictEqual(Hierarchy.breadcrumbPoints(50, 0), '0,0 50,0 65,15 50,30 0,30');
    assert.strictEqual(Hierarchy.breadcrumbPoints(50, 1), '0,0 50,0 65,15 50,30 0,30 15,15');
    assert.strictEqual(Hierarchy.sliderMaximum([0, 2]), 5);
    assert.strictEqual(Hierarchy.sliderMaximum([0, 12]), 12);
    assert.deepStrictEqual(Hierarchy.clampBounds([-3, 40], [1, 9]), [1, 9]);
    assert.strictEqual(Hierarchy.parse(''), null);
    assert.strictEqual(Hierarchy.parse('{broken'), null);
    assert.strictEqual(Hierarchy.parse('[1]'), null);
    assert.ok(Hierarchy.hasThumbnails(node('t', [], [], null, { image: ['iVBOR', '', ''] })));
    assert.ok(!Hierarchy.hasThumbnails(node('n')));
});

test('icicle geometry: rows tile the area below the top bar; thumbnails fit their sector', () => {
    const layout = Icicle.icicleLayout(800, 600);
    assert.strictEqual(layout.left, 0);
    assert.strictEqual(layout.width, 800);
    assert.ok(layout.top > 0 && layout.top < 600);
    assert.strictEqual(layout.top + layout.height, 600);
    for (const count of [1, 3, 7]) {
        const rows = [];
        for (let row = 0; row < count; ++row)
            rows.push(Icicle.rowExtent(layout, row, count));
        assert.strictEqual(rows[0].y0, layout.top);
        assert.ok(Math.abs(rows[count - 1].y1 - 600) < 1e-9);
        for (let row = 0; row < count; ++row) {
            assert.ok(Math.abs(rows[row].y1 - rows[row].y0 - layout.height / count) < 1e-9);
            if (row > 0)
                assert.strictEqual(rows[row].y0, rows[row - 1].y1);
        }
    }
    // A window no taller than the top bar leaves empty rows, never negative ones.
    const flat = Icicle.icicleLayout(800, 20);
    assert.strictEqual(flat.height, 0);
    const empty = Icicle.rowExtent(flat, 1, 3);
    assert.strictEqual(empty.y0, empty.y1);
    for (const [w, h] of [[100, 200], [200, 100], [37, 37]]) {
        const side = Icicle.thumbnailSide(w, h);
        assert.ok(side > 0.5 * Math.min(w, h) && side < Math.min(w, h), w + ' x ' + h);
    }
    assert.strictEqual(Icicle.thumbnailSide(0, 200), 0);
    assert.strictEqual(Icicle.thumbnailSide(-5, 200), 0);
});

test('sample exploration tree of the generated data', { skip: !process.env.VESSARINE_BUNDLE_DIR }, () => {
    const context = {};
    vm.createContext(context);
    const file = path.join(process.env.VESSARINE_BUNDLE_DIR, 'jstools', 'debug_data.js');
    vm.runInContext(fs.readFileSync(file, 'utf8'), context);
    const root = JSON.parse(context._debug_data_[4]);
    const names = JSON.parse(context._debug_data_marker_names).names;
    const info = Hierarchy.prepare(root, [], names);
    assert.strictEqual(info.active.length, names.length);
    assert.ok(Hierarchy.hasThumbnails(root));
    assert.strictEqual(root.children.length, 6);
    const zoom = root.children[0].children[0];
    assert.strictEqual(zoom.name, 'Zoom Level');
    assert.ok(Hierarchy.hasThumbnails(zoom));
    assert.ok(zoom.children.every((leaf) => leaf.isLeaf && leaf.cName === 'Hostile Names'));
    assert.ok(zoom.children.some((leaf) => leaf.name === 'Hostile Names</script><script>Qt.js_debug(\'injected\')</script>'));
    let sum = 0;
    Hierarchy.walk(root, (n) => { if (!n.children) sum += n.fraction; });
    assert.ok(Math.abs(sum - 1) < 1e-9);
});
