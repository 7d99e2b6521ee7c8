// Page state of the SPADE tree pages and the parts of drawing and
// interaction that need no document (geometry, node sizes, hulls, legend
// labels, links, menus): node loads this file with d3 for its tests.

var graph = null;               // the parsed clusters JSON
var totalEvents = 0;            // sum of all node sizes
var activeMarker = [0, 0];      // markers of the left and right half-discs
var expressionBounds = [];      // per marker [min, max] over the nodes
var expressionUserBounds = [];  // per marker the bounds the sliders set
var subTrees = [];              // bubble names in creation order
var subTreeSerials = [];        // per bubble a number for its path's id
var nextSubTreeSerial = 0;
var fixTree = false;            // the "Fix Tree" switch
var sizeLegendShowsCounts = false;

var kSideMargin = 80;
var kTopMargin = 80;
var kBottomMargin = 125;
var kHullPointsPerNode = 40;
var kSelectionHullPadding = 1;
var kBubbleHullPadding = 8;
var kSizeLegendPercentages = [1, 3, 7, 12, 20];
var kSizeLegendRadii = [6, 11, 16, 21, 26];
var kNoBubbleName = 'Phenotree';

// The layout square of a window of that size: its side and its top left
// corner. Margins of 80 pixels left, right and top and 125 at the bottom; the
// square is centred along the longer side of what is left. A window smaller
// than the margins gives a square of side 0.
function viewGeometry(width, height) {
    var w = Math.max(0, width - 2 * kSideMargin);
    var h = Math.max(0, height - kTopMargin - kBottomMargin);
    var side = Math.min(w, h);
    return { side: side, left: kSideMargin + (w - side) / 2, top: kTopMargin + (h - side) / 2 };
}

// Domain of a layout scale over the values: their minimum and maximum,
// widened to one unit around a single value so every node lands inside.
function layoutDomain(values) {
    var extent = d3.extent(values.filter(isFinite));
    if (extent[0] === undefined)
        return [-1, 1];
    if (extent[0] === extent[1])
        return [extent[0] - 1, extent[1] + 1];
    return extent;
}

// Node radius in pixels (5 to 25) for the node's share of all events.
function size2rad(size, total) {
    var share = total > 0 ? size / total : 0;
    if (!isFinite(share))
        share = 0;
    var area = d3.scaleLinear().domain([0.008, 0.2]).range([25, 625]).clamp(true);
    return Math.sqrt(area(share));
}

// The hull around circles ({x, y, r}, r already padded): 40 points on each
// circle, their convex hull written "M" + points joined by "L" + "Z"; empty
// for no circles. The path runs clockwise on screen, so text along it stands
// upright over the top and its "up" points out of the hull.
function hullPath(circles) {
    var points = [];
    circles.forEach(function (c) {
        for (var k = 0; k < kHullPointsPerNode; ++k) {
            var angle = 2 * Math.PI * k / kHullPointsPerNode;
            points.push([c.x + c.r * Math.cos(angle), c.y + c.r * Math.sin(angle)]);
        }
    });
    var hull = points.length >= 3 ? d3.polygonHull(points) : null;
    return hull ? 'M' + hull.reverse().join('L') + 'Z' : '';
}

// Where a bubble's label lies along its hull: from 75 % of the outline, or
// earlier so that it ends with the outline when the rest is too short for
// the text; a text longer than the whole outline starts at its beginning and
// is squeezed to its length. Gives the start offset and the length to
// squeeze to (0: none), in pixels.
function bubbleLabelPlacement(outlineLength, textLength) {
    if (textLength > outlineLength)
        return { offset: 0, squeeze: outlineLength };
    return { offset: Math.min(0.75 * outlineLength, outlineLength - textLength), squeeze: 0 };
}

// Labels of the size legend's five circles: shares of all events, or the
// event counts they stand for, rounded.
function sizeLegendLabels(total, showCounts) {
    var last = kSizeLegendPercentages.length - 1;
    return kSizeLegendPercentages.map(function (percent, i) {
        var value = showCounts ? String(Math.round(0.01 * percent * total)) : percent + '%';
        return (i === 0 ? '< ' : i === last ? '> ' : '') + value;
    });
}

// Copies of the links that join two distinct existing nodes (a link to a
// merged-away or missing node would stop the layout).
function validLinks(links, nodeCount) {
    var valid = [];
    (links || []).forEach(function (link) {
        var s = link.source;
        var t = link.target;
        if (Number.isInteger(s) && Number.isInteger(t) && s >= 0 && t >= 0 && s < nodeCount && t < nodeCount
            && s !== t)
            valid.push({ source: s, target: t, value: link.value });
    });
    return valid;
}

// Per marker the minimum and maximum of the nodes' values.
function markerBounds(nodes, markerCount) {
    var bounds = [];
    for (var m = 0; m < markerCount; ++m) {
        var extent = d3.extent(nodes, function (node) {
            var value = node.expression[m];
            return isFinite(value) ? value : undefined;
        });
        bounds.push(extent[0] === undefined ? [0, 0] : extent);
    }
    return bounds;
}

// A colour scale's domain for bounds: a degenerate range gets one unit, so
// its single value takes the low end's colour.
function colourDomain(bounds) {
    return bounds[1] > bounds[0] ? bounds.slice() : [bounds[0], bounds[0] + 1];
}

// The positions report: per node its layout coordinates as "px" and "py".
function positionsText(nodes) {
    return JSON.stringify(nodes.map(function (node) { return { px: node.x, py: node.y }; }));
}

// The positions of a report for a tree of nodeCount nodes; null when the
// text is no array of that length.
function parsePositions(text, nodeCount) {
    var positions;
    try {
        positions = JSON.parse(text);
    } catch (error) {
        return null;
    }
    if (!Array.isArray(positions) || positions.length !== nodeCount)
        return null;
    return positions;
}

// The bubble all selected nodes share, '' when they lie in different
// bubbles or some in none.
function commonBubble(selected) {
    if (selected.length === 0)
        return '';
    var first = selected[0].subTree || '';
    return selected.every(function (node) { return (node.subTree || '') === first; }) ? first : '';
}

// The entries of a node's context menu, in order: {title, action, bubble}
// or {divider: true}. State of the moment it opens:
//   nodeSelected, anySelected, nodeFixed, selectedCount, selectedFixedCount,
//   bubbles (names), nodeBubble ('' none), selectionBubble (commonBubble of
//   the selection), selectionInBubble (some selected node is in a bubble).
function nodeMenuEntries(state) {
    var entries = [];
    var divider = { divider: true };
    if (state.anySelected) {
        entries.push(state.nodeSelected ? { title: 'Remove Node from Selection', action: 'deselectNode' }
                                        : { title: 'Add Node to Selection', action: 'selectNode' });
        entries.push(divider);
    }
    entries.push(state.nodeFixed ? { title: 'Unfix Node', action: 'unfixNode' }
                                 : { title: 'Fix Node', action: 'fixNode' });
    if (state.nodeSelected) {
        if (state.selectedFixedCount < state.selectedCount)
            entries.push({ title: 'Fix Selection', action: 'fixSelection' });
        if (state.selectedFixedCount > 0)
            entries.push({ title: 'Unfix Selection', action: 'unfixSelection' });
    }
    var hasBubbles = state.bubbles.length > 0;
    if (state.nodeSelected || (hasBubbles && !state.anySelected)) {
        entries.push(divider);
        if (state.nodeSelected)
            entries.push({ title: 'Create Bubble ...', action: 'createBubble' });
        state.bubbles.forEach(function (bubble) {
            if (!state.anySelected && bubble !== state.nodeBubble)
                entries.push({ title: 'Add Node to ' + bubble, action: 'addNodeToBubble', bubble: bubble });
        });
        state.bubbles.forEach(function (bubble) {
            if (state.nodeSelected && bubble !== state.selectionBubble)
                entries.push({ title: 'Add Selection to ' + bubble, action: 'addSelectionToBubble', bubble: bubble });
        });
        if (!state.anySelected && state.nodeBubble)
            entries.push({ title: 'Remove Node from ' + state.nodeBubble, action: 'removeNodeFromBubble',
                           bubble: state.nodeBubble });
        if (state.nodeSelected && state.selectionInBubble)
            entries.push({ title: 'Remove Selection from ' + (state.selectionBubble || kNoBubbleName),
                           action: 'removeSelectionFromBubbles' });
    }
    entries.push(divider);
    entries.push({ title: 'Save Image ...', action: 'saveImage' });
    return entries;
}

function backgroundMenuEntries() {
    return [{ title: 'Save Image ...', action: 'saveImage' }];
}

function bubbleMenuEntries(bubble) {
    return [{ title: 'Save Bubble ...', action: 'exportBubble', bubble: bubble },
            { title: 'Save Bubble to Separate Files ...', action: 'exportBubbleSeparately', bubble: bubble },
            { divider: true },
            { title: 'Save Image ...', action: 'saveImage' }];
}

// The text as HTML that shows it as text (the context menu writes titles as HTML).
function escapeHtml(text) {
    return String(text).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;')
        .replace(/"/g, '&quot;').replace(/'/g, '&#39;');
}
