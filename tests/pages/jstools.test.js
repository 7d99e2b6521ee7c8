// The DOM-free parts of the shared page layer (colour maps, helpers) and the
// generated sample data, run in node against the bundle's libraries.
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const path = require('path');
const vm = require('vm');

const bundle = process.env.VESSARINE_BUNDLE_DIR;
const jstools = path.join(__dirname, '..', '..', 'resources', 'jstools');

function load(files) {
    const lines = [];
    const context = { console: { log: (text) => lines.push(text) } };
    context.window = context;
    vm.createContext(context);
    for (const file of files)
        vm.runInContext(fs.readFileSync(file, 'utf8'), context, { filename: file });
    context.lines = lines;
    return context;
}

function layer() {
    return load([path.join(bundle, 'jslibs', 'd3.v4.js'), path.join(bundle, 'jslibs', 'd3-scale-chromatic.js'),
                 path.join(jstools, 'colormaps.js'), path.join(jstools, 'globals.js'), path.join(jstools, 'tools.js')]);
}

test('colour maps: fourteen maps, discrete variants, scales', () => {
    const page = layer();
    const d3 = page.d3;
    assert.strictEqual(page._colormapNames.length, 14);
    assert.strictEqual(page._colormapsDiscrete.length, 14);
    page._colormaps.slice(0, 13).forEach((map) => assert.strictEqual(typeof map, 'function'));
    page._colormapsDiscrete.forEach((colors) => assert.strictEqual(colors.length, 10));
    // The first four discrete lists run high to low, the others low to high.
    assert.strictEqual(page._colormapsDiscrete[0][0], d3.interpolateSpectral(1));
    assert.strictEqual(page._colormapsDiscrete[6][0], d3.interpolateViridis(0));
    assert.strictEqual(page._colormapsDiscrete[6][9], d3.interpolateViridis(1));
    assert.strictEqual(page._colormapsDiscrete[13].join(), d3.schemeSet3.slice(0, 10).join());
    assert.strictEqual(page._activeColormap, 6);

    let scale = page.activeColormapWithCustomDomain([0, 10]);
    assert.strictEqual(scale(0), d3.interpolateViridis(0));
    assert.strictEqual(scale(10), d3.interpolateViridis(1));
    page.setColormap(0, false);
    scale = page.activeColormapWithCustomDomain([0, 10]);
    assert.strictEqual(scale(0), d3.interpolateSpectral(1));
    page.setDiscreteColormap(true);
    scale = page.activeColormapWithCustomDomain([0, 10]);
    assert.strictEqual(scale(0), page._colormapsDiscrete[0][0]);
    assert.strictEqual(scale(10), page._colormapsDiscrete[0][9]);
    // The qualitative map is stepped in either mode; unknown maps are ignored.
    page.setDiscreteColormap(false);
    page.setColormap(13, false);
    page.setColormap(14, false);
    assert.strictEqual(page._activeColormap, 13);
    assert.strictEqual(page._colorScale(-1), d3.schemeSet3[0]);
    page._dualMarkerUserBounds[1] = [0, 1];
    page.refreshColormaps();
    assert.strictEqual(page._dualColorScales[1](0.95), d3.schemeSet3[9]);
});

test('helpers: clamp, identifiers, error lines', () => {
    const page = layer();
    assert.strictEqual(page.clamp(0, 5, 3), 3);
    assert.strictEqual(page.clamp(0, -1, 3), 0);
    const cases = [['CD45 RA', 'CD45\\ RA'], ['1', '\\31 '], ['1a', '\\31 a'], ['-', '\\-'], ['-2x', '-\\32 x'],
                   ['CD4/CD8', 'CD4\\/CD8'], ['a"b\\c', 'a\\"b\\\\c'], ['tab\tx', 'tab\\9 x'], ['_ü-9', '_ü-9'],
                   ['a\u0000', 'a\uFFFD']];
    for (const [text, escaped] of cases)
        assert.strictEqual(page.cssSanitize(text), escaped, text);
    page.window.onerror('boom', 'qrc:/spade/spade.js', 12);
    assert.deepStrictEqual(page.lines, ['Error: boom\nURL: qrc:/spade/spade.js\nLine: 12']);
});

test('sample data: four clusters sets and their layout parse', () => {
    const page = load([path.join(bundle, 'jstools', 'debug_data.js')]);
    assert.strictEqual(page._debug_data_.length, 5);
    const sets = page._debug_data_.slice(0, 4).map((text) => JSON.parse(text));
    for (const set of sets) {
        assert.ok(set.nodes.length > 0);
        assert.strictEqual(set.names.length, 8);
        set.nodes.forEach((node) => assert.strictEqual(node.expression.length, 8));
    }
    const positions = JSON.parse(page._debug_data_positions);
    assert.strictEqual(positions.length, sets[0].nodes.length);
    assert.ok(positions.every((p) => typeof p.px === 'number' && typeof p.py === 'number'));
    // The merged tree's links follow the merge.
    assert.strictEqual(sets[2].nodes.length, 7);
    assert.strictEqual(sets[2].links.length, 6);
    assert.ok(sets[2].links.every((link) => link.source < 7 && link.target < 7 && link.source !== link.target));
    const names = sets[3].nodes.map((node) => node.name);
    assert.ok(names.includes('</script><script>Qt.js_debug(\'injected\')</script>'));
    assert.ok(names.includes('line\u2028separator'));
    assert.ok(names.includes('CD45 RA') && names.includes('1'));
});
