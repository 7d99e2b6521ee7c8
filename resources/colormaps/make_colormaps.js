#!/usr/bin/env node
// Writes every colour-map image of the bundle from the same d3 scripts the
// pages load, so the scatterplot, its picker and the pages show one colour
// for one value.
//
//   node make_colormaps.js <d3.v4.js> <d3-scale-chromatic.js> <output folder>
//
// Per map: "<name>.png" (200 x 1, texel i = map(i / 199)) for the renderer,
// "<name>_vert.png" (24 x 168, low values at the bottom) for the picker, and
// for the picker's fifteen maps "<name>_vert_disc.png": the eleven colours
// the renderer's discrete mode shows, as equal bands.
'use strict';

const fs = require('fs');
const path = require('path');
const vm = require('vm');
const { deflateSync } = require('zlib');

const STRIP_WIDTH = 200;
const VERTICAL_WIDTH = 24;
const VERTICAL_HEIGHT = 168;
const DISCRETE_LEVELS = 11;

// ---- PNG writing (8-bit RGB, no interlace) --------------------------------

const crcTable = (() => {
    const table = new Uint32Array(256);
    for (let n = 0; n < 256; ++n) {
        let c = n;
        for (let k = 0; k < 8; ++k)
            c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
        table[n] = c >>> 0;
    }
    return table;
})();

function crc32(bytes) {
    let c = 0xffffffff;
    for (const b of bytes)
        c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
    return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
    const length = Buffer.alloc(4);
    length.writeUInt32BE(data.length);
    const body = Buffer.concat([Buffer.from(type, 'ascii'), data]);
    const crc = Buffer.alloc(4);
    crc.writeUInt32BE(crc32(body));
    return Buffer.concat([length, body, crc]);
}

/** A PNG file of width x height RGB triplets, rows top first. */
function encodePng(width, height, rgb) {
    const header = Buffer.alloc(13);
    header.writeUInt32BE(width, 0);
    header.writeUInt32BE(height, 4);
    header[8] = 8; // bits per channel
    header[9] = 2; // colour type RGB
    const rows = Buffer.alloc(height * (1 + width * 3));
    for (let y = 0; y < height; ++y) {
        const start = y * (1 + width * 3);
        rows[start] = 0; // filter: none
        Buffer.from(rgb.subarray(y * width * 3, (y + 1) * width * 3)).copy(rows, start + 1);
    }
    return Buffer.concat([
        Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
        chunk('IHDR', header),
        chunk('IDAT', deflateSync(rows, { level: 9 })),
        chunk('IEND', Buffer.alloc(0)),
    ]);
}

// ---- The maps ---------------------------------------------------------------

/** Loads the page scripts as a browser would: each adds itself to `d3`. */
function loadD3(scriptPaths) {
    const context = vm.createContext({});
    for (const scriptPath of scriptPaths)
        vm.runInContext(fs.readFileSync(scriptPath, 'utf8'), context, { filename: scriptPath });
    return context.d3;
}

function clampByte(value) {
    return Math.max(0, Math.min(255, Math.round(value)));
}

/** The 11 bands of Q_BlGrRd: blue to grey to red, linear in RGB. */
function blueGreyRedBands() {
    const blue = [33, 102, 172];
    const grey = [186, 186, 186];
    const red = [178, 24, 43];
    const bands = [];
    for (let k = 0; k < DISCRETE_LEVELS; ++k) {
        const [from, to, w] = k <= 5 ? [blue, grey, k / 5] : [grey, red, (k - 5) / 5];
        bands.push(from.map((c, i) => Math.round(c + (to[i] - c) * w)));
    }
    return bands;
}

/**
 * Every map as { name, colorAt(t) for continuous maps | bands }, where t runs
 * from 0 (low values) to 1 (high values).
 */
function mapDefinitions(d3) {
    const toRgb = (interpolator, reversed) => (t) => {
        const c = d3.rgb(interpolator(reversed ? 1 - t : t));
        return [clampByte(c.r), clampByte(c.g), clampByte(c.b)];
    };
    // The pages run these four from the interpolator's end to its start.
    const reversed = new Set(['Spectral', 'RdYlBu', 'PiYG', 'PuOr']);
    const maps = [];
    for (const name of ['Viridis', 'Magma', 'Plasma'])
        maps.push({ name, colorAt: toRgb(d3['interpolate' + name], false) });
    for (const name of ['BrBG', 'BuPu', 'GnBu', 'PiYG', 'PuOr', 'RdBu', 'RdPu', 'RdYlBu', 'RdYlGn', 'Reds',
                        'Spectral', 'YlGn', 'YlGnBu', 'YlOrBr', 'YlOrRd'])
        maps.push({ name, colorAt: toRgb(d3['interpolate' + name], reversed.has(name)) });
    maps.push({
        name: 'qualitative',
        bands: d3.schemeSet3.slice(0, DISCRETE_LEVELS).map((s) => {
            const c = d3.rgb(s);
            return [c.r, c.g, c.b];
        }),
    });
    maps.push({ name: 'Q_BlGrRd', bands: blueGreyRedBands() });
    for (const map of maps)
        if (!map.bands && typeof map.colorAt !== 'function')
            throw new Error('no colour map ' + map.name);
    return maps;
}

/** The colour of `map` at pixel `i` of `count`, counted from the low end. */
function colorOfPixel(map, i, count) {
    if (map.bands)
        return map.bands[Math.floor((DISCRETE_LEVELS * i) / count)];
    return map.colorAt(i / (count - 1));
}

function stripImage(map) {
    const rgb = new Uint8Array(STRIP_WIDTH * 3);
    for (let i = 0; i < STRIP_WIDTH; ++i)
        rgb.set(colorOfPixel(map, i, STRIP_WIDTH), i * 3);
    return rgb;
}

/** The strip sampled at t as a linear, clamped 1-D texture samples it. */
function sampleStrip(strip, t) {
    const u = Math.min(Math.max(t * STRIP_WIDTH - 0.5, 0), STRIP_WIDTH - 1);
    const i0 = Math.floor(u);
    const i1 = Math.min(i0 + 1, STRIP_WIDTH - 1);
    const w = u - i0;
    return [0, 1, 2].map((c) => clampByte(strip[i0 * 3 + c] * (1 - w) + strip[i1 * 3 + c] * w));
}

/** A 24 x 168 image whose row colours come from colorFromBottom(row). */
function verticalImage(colorFromBottom) {
    const rgb = new Uint8Array(VERTICAL_WIDTH * VERTICAL_HEIGHT * 3);
    for (let y = 0; y < VERTICAL_HEIGHT; ++y) {
        const color = colorFromBottom(VERTICAL_HEIGHT - 1 - y);
        for (let x = 0; x < VERTICAL_WIDTH; ++x)
            rgb.set(color, (y * VERTICAL_WIDTH + x) * 3);
    }
    return rgb;
}

// The picker's maps, which also get a discrete vertical image.
const PICKER_MAPS = ['Spectral', 'RdYlBu', 'PiYG', 'PuOr', 'Magma', 'Plasma', 'Viridis', 'RdPu', 'YlGnBu', 'GnBu',
                     'BuPu', 'YlOrRd', 'Reds', 'qualitative', 'Q_BlGrRd'];

function main(argv) {
    if (argv.length !== 3) {
        process.stderr.write('usage: make_colormaps.js <d3.v4.js> <d3-scale-chromatic.js> <output folder>\n');
        return 2;
    }
    const [d3Path, chromaticPath, outputFolder] = argv;
    const d3 = loadD3([d3Path, chromaticPath]);
    fs.mkdirSync(outputFolder, { recursive: true });
    const write = (name, width, height, rgb) =>
        fs.writeFileSync(path.join(outputFolder, name + '.png'), encodePng(width, height, rgb));
    for (const map of mapDefinitions(d3)) {
        const strip = stripImage(map);
        write(map.name, STRIP_WIDTH, 1, strip);
        write(map.name + '_vert', VERTICAL_WIDTH, VERTICAL_HEIGHT,
              verticalImage((i) => colorOfPixel(map, i, VERTICAL_HEIGHT)));
        if (PICKER_MAPS.includes(map.name)) {
            const levels = [];
            for (let j = 0; j < DISCRETE_LEVELS; ++j)
                levels.push(sampleStrip(strip, j / (DISCRETE_LEVELS - 1)));
            write(map.name + '_vert_disc', VERTICAL_WIDTH, VERTICAL_HEIGHT,
                  verticalImage((i) => levels[Math.floor((DISCRETE_LEVELS * i) / VERTICAL_HEIGHT)]));
        }
    }
    return 0;
}

if (require.main === module)
    process.exitCode = main(process.argv.slice(2));

module.exports = { encodePng, crc32, sampleStrip, blueGreyRedBands, colorOfPixel };
