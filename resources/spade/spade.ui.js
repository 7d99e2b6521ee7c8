// Drawing and interaction of the SPADE tree pages, shared by the master page
// (spade.js: force layout, dragging, positions report) and the slave page
// (spade_slave.js: nodes placed at the master's positions). Names reach the
// document only as text; element ids are made from indices.

// What the two pages do differently; each page's own script fills it in.
var spadePage = {
    isMaster: false,
    // New data or a new window size: lay the tree out (master) or redraw.
    layout: function () {},
    // Node groups were made: the master adds dragging.
    attachDrag: function (nodeGroups) {},
    // "Fix Tree" was switched; a pin was released.
    fixTreeChanged: function (on) {},
    pinReleased: function () {}
};

var xScale = d3.scaleLinear();
var yScale = d3.scaleLinear();
var geometry = viewGeometry(width, height);
var svg = null;

// ---- geometry -------------------------------------------------------------

// Screen position of a node, inside the window (0 before it has a place).
function screenX(node) {
    var x = xScale(node.x);
    return isFinite(x) ? clamp(0, x, width) : 0;
}

function screenY(node) {
    var y = yScale(node.y);
    return isFinite(y) ? clamp(0, y, height) : 0;
}

// Window size, layout square and the scales' ranges (the domains follow the nodes).
function updateGeometry() {
    width = window.innerWidth;
    height = window.innerHeight;
    geometry = viewGeometry(width, height);
    xScale.range([geometry.left, geometry.left + geometry.side]);
    yScale.range([geometry.top, geometry.top + geometry.side]);
    if (svg)
        svg.attr('width', width).attr('height', height);
    d3.select('#background').attr('width', width).attr('height', height);
}

// The scales' domains become the extent of the nodes' layout coordinates.
function fitScalesToNodes() {
    if (!graph)
        return;
    xScale.domain(layoutDomain(graph.nodes.map(function (node) { return node.x; })));
    yScale.domain(layoutDomain(graph.nodes.map(function (node) { return node.y; })));
}

// ---- building the view ------------------------------------------------------

function initView() {
    svg = d3.select('#mainView').append('svg').attr('id', 'canvas');
    svg.append('rect').attr('id', 'background')
        .on('mousedown', backgroundPressed)
        .on('contextmenu', contextMenuInside(function () { return menuItems(backgroundMenuEntries(), null); }));
    svg.append('g').attr('id', 'hulls');
    svg.append('path').attr('id', 'selectionHull');
    svg.append('g').attr('id', 'graph');
    d3.select('#graph').append('g').attr('id', 'links');
    d3.select('#graph').append('g').attr('id', 'rings');
    d3.select('#graph').append('g').attr('id', 'nodes');
    svg.append('g').attr('id', 'ringTip').append('text');
    svg.append('g').attr('id', 'sizeLegend').attr('transform', 'translate(20, 20)').on('click', toggleSizeLegend);
    svg.append('rect').attr('id', 'selectionRect').style('display', 'none');
    updateGeometry();
    drawSizeLegend();
    initDrawer();
    initLegend();
    initMarkerControls();
    initBubbleDialog();
    initKeys();
    d3.select(window).on('resize.spade', function () {
        updateGeometry();
        spadePage.layout();
    });
}

// ---- new data -----------------------------------------------------------------

function setData(text) {
    var data = JSON.parse(text);
    graph = {
        nodes: Array.isArray(data.nodes) ? data.nodes : [],
        names: Array.isArray(data.names) ? data.names : [],
        links: []
    };
    graph.links = validLinks(data.links, graph.nodes.length);
    totalEvents = d3.sum(graph.nodes, function (node) { return node.size; }) || 0;
    graph.nodes.forEach(function (node, index) {
        node.index = index;
        node.expression = Array.isArray(node.expression) ? node.expression : [];
        node.selected = false;
        node.previouslySelected = false;
        node.subTree = '';
        node.fixed = false;
        node.ring = false;
        node.fx = null;
        node.fy = null;
        node.radius = size2rad(node.size, totalEvents);
    });
    expressionBounds = markerBounds(graph.nodes, graph.names.length);
    expressionUserBounds = expressionBounds.map(function (bounds) { return bounds.slice(); });
    activeMarker = [0, 0];
    subTrees = [];
    subTreeSerials = [];
    fillMarkerSelectors();
    rebuildSliders();
    drawSizeLegend();
    drawGraph();
    spadePage.layout();
    log('Data set.');
}

// ---- drawing ---------------------------------------------------------------------

var halfDisc = [d3.arc()({ innerRadius: 0, outerRadius: 1, startAngle: Math.PI, endAngle: 2 * Math.PI }),
                d3.arc()({ innerRadius: 0, outerRadius: 1, startAngle: 0, endAngle: Math.PI })];

function drawGraph() {
    d3.select('#links').selectAll('line').remove();
    d3.select('#nodes').selectAll('g.node').remove();
    d3.select('#rings').selectAll('g.ring').remove();
    d3.select('#hulls').selectAll('*').remove();
    d3.select('#links').selectAll('line').data(graph.links).enter().append('line').attr('class', 'link');

    var nodes = d3.select('#nodes').selectAll('g.node').data(graph.nodes).enter().append('g')
        .attr('class', 'node')
        .on('mouseenter', nodeEntered)
        .on('mouseleave', nodeLeft)
        .on('mousedown.select', nodePressed)
        .on('dblclick', toggleRing)
        .on('contextmenu', contextMenuInside(function (node) {
            return menuItems(nodeMenuEntries(nodeMenuState(node)), node);
        }));
    nodes.append('circle').attr('class', 'nodeBack').attr('r', function (node) { return node.radius + 1.8; });
    halfDisc.forEach(function (path, half) {
        nodes.append('path').attr('class', half === 0 ? 'half left' : 'half right').attr('d', path)
            .attr('transform', function (node) { return 'scale(' + node.radius + ')'; });
    });
    nodes.append('text').attr('class', 'nodeSize').attr('dy', '0.35em').style('opacity', 0)
        .text(function (node) { return node.size; });
    spadePage.attachDrag(nodes);
    recolour();
    updateNodeClasses();
}

// Moves links, nodes, rings and hulls to the nodes' current positions.
function redraw() {
    if (!graph)
        return;
    d3.select('#links').selectAll('line')
        .attr('x1', function (link) { return screenX(graph.nodes[linkEnd(link.source)]); })
        .attr('y1', function (link) { return screenY(graph.nodes[linkEnd(link.source)]); })
        .attr('x2', function (link) { return screenX(graph.nodes[linkEnd(link.target)]); })
        .attr('y2', function (link) { return screenY(graph.nodes[linkEnd(link.target)]); });
    d3.select('#nodes').selectAll('g.node').attr('transform', translateToNode);
    d3.select('#rings').selectAll('g.ring').attr('transform', translateToNode);
    drawHulls();
}

// The force layout replaces a link's ends by their nodes.
function linkEnd(end) {
    return typeof end === 'object' ? end.index : end;
}

function translateToNode(node) {
    return 'translate(' + screenX(node) + ',' + screenY(node) + ')';
}

// Fills of both half-discs and of the open rings, from the active colour map.
function recolour() {
    if (!graph)
        return;
    for (var half = 0; half < 2; ++half)
        _dualMarkerUserBounds[half] = colourDomain(expressionUserBounds[activeMarker[half]] || [0, 0]);
    refreshColormaps();
    d3.select('#nodes').selectAll('g.node').each(function (node) {
        var group = d3.select(this);
        group.select('path.left').attr('fill', markerFill(node, 0));
        group.select('path.right').attr('fill', markerFill(node, 1));
    });
    d3.select('#rings').selectAll('path').attr('fill', sectorFill);
}

function markerFill(node, half) {
    var value = node.expression[activeMarker[half]];
    return isFinite(value) ? _dualColorScales[half](value) : '#DDD';
}

function sectorFill(sector) {
    var value = sector.node.expression[sector.marker];
    var scale = activeColormapWithCustomDomain(colourDomain(expressionUserBounds[sector.marker]));
    return isFinite(value) ? scale(value) : '#DDD';
}

function updateNodeClasses() {
    d3.select('#nodes').selectAll('g.node')
        .classed('selected', function (node) { return node.selected; })
        .classed('fixed', function (node) { return node.fixed; });
}

// ---- hulls and bubbles -----------------------------------------------------------

// Per bubble label its width as plain text.
var bubbleLabelWidth = d3.local();

function hullAround(nodes, padding) {
    return hullPath(nodes.map(function (node) {
        return { x: screenX(node), y: screenY(node), r: node.radius + padding };
    }));
}

function bubbleMembers(bubble) {
    return graph.nodes.filter(function (node) { return node.subTree === bubble; });
}

function selectedNodes() {
    return graph ? graph.nodes.filter(function (node) { return node.selected; }) : [];
}

function drawHulls() {
    if (!graph)
        return;
    d3.select('#selectionHull').attr('d', hullAround(selectedNodes(), kSelectionHullPadding));
    var bubbles = d3.select('#hulls').selectAll('g.bubble').data(subTrees, function (bubble) { return bubble; });
    bubbles.exit().remove();
    var entered = bubbles.enter().append('g').attr('class', 'bubble');
    entered.append('path').attr('class', 'bubbleHull')
        .attr('id', function (bubble) { return 'bubbleHull' + subTreeSerials[subTrees.indexOf(bubble)]; });
    // Measured before the label goes onto the hull: along it only the part
    // that fits would count.
    entered.append('text').attr('class', 'bubbleLabel').attr('dy', -8)
        .text(function (bubble) { return bubble; })
        .each(function () { bubbleLabelWidth.set(this, this.getComputedTextLength()); })
        .text(null)
        .on('click', selectBubble)
        .on('contextmenu', contextMenuInside(function (bubble) { return menuItems(bubbleMenuEntries(bubble), null); }))
        .append('textPath')
        .attr('xlink:href', function (bubble) { return '#bubbleHull' + subTreeSerials[subTrees.indexOf(bubble)]; })
        .text(function (bubble) { return bubble; });
    entered.merge(bubbles).each(function (bubble) {
        var group = d3.select(this);
        var hull = group.select('path').attr('d', hullAround(bubbleMembers(bubble), kBubbleHullPadding));
        var label = group.select('text');
        var place = bubbleLabelPlacement(hull.node().getTotalLength(), bubbleLabelWidth.get(label.node()));
        label.select('textPath').attr('startOffset', place.offset)
            .attr('textLength', place.squeeze || null)
            .attr('lengthAdjust', place.squeeze ? 'spacingAndGlyphs' : null);
    });
}

function selectBubble(bubble) {
    if (d3.event.button !== 0)
        return;
    graph.nodes.forEach(function (node) { node.selected = node.subTree === bubble; });
    selectionChanged(true);
}

// Bubbles left without members go (their hull and label with them).
function dropEmptyBubbles() {
    for (var i = subTrees.length - 1; i >= 0; --i) {
        if (bubbleMembers(subTrees[i]).length === 0) {
            subTrees.splice(i, 1);
            subTreeSerials.splice(i, 1);
        }
    }
}

// Nodes changed bubbles: empty bubbles go, hulls are redrawn, the master
// reports the selection, and every bubble that changed tells its members.
function membershipChanged(changedBubbles) {
    dropEmptyBubbles();
    drawHulls();
    if (spadePage.isMaster)
        reportSelection();
    var told = [];
    changedBubbles.forEach(function (bubble) {
        if (!bubble || told.indexOf(bubble) >= 0)
            return;
        told.push(bubble);
        reportBubble(bubble);
    });
}

function reportBubble(bubble) {
    var members = bubbleMembers(bubble).map(function (node) { return node.index; });
    if (isQtAvailable)
        Qt.js_subtreeCreated(members, bubble);
}

function moveToBubble(nodes, bubble) {
    var changed = [bubble];
    nodes.forEach(function (node) {
        changed.push(node.subTree);
        node.subTree = bubble;
    });
    membershipChanged(changed);
}

// "Save Bubble": every selected node joins the bubble of that name (an
// existing one is drawn anew), the selection is cleared.
function createBubble(name) {
    var existing = subTrees.indexOf(name);
    if (existing >= 0) {
        subTrees.splice(existing, 1);
        subTreeSerials.splice(existing, 1);
        d3.select('#hulls').selectAll('g.bubble').filter(function (bubble) { return bubble === name; }).remove();
    }
    var changed = [];
    selectedNodes().forEach(function (node) {
        changed.push(node.subTree);
        node.subTree = name;
    });
    dropEmptyBubbles();
    subTrees.push(name);
    subTreeSerials.push(nextSubTreeSerial++);
    graph.nodes.forEach(function (node) { node.selected = false; });
    updateNodeClasses();
    drawHulls();
    if (spadePage.isMaster)
        reportSelection();
    changed.forEach(function (bubble, i) {
        if (bubble && bubble !== name && changed.indexOf(bubble) === i)
            reportBubble(bubble);
    });
    reportBubble(name);
}

// ---- selection ---------------------------------------------------------------------

function reportSelection() {
    if (isQtAvailable)
        Qt.selectionUpdated(selectedNodes().map(function (node) { return node.index; }));
}

function selectionChanged(report) {
    updateNodeClasses();
    drawHulls();
    if (report)
        reportSelection();
}

function selectAll(select) {
    if (!graph)
        return;
    graph.nodes.forEach(function (node) { node.selected = select; });
    selectionChanged(true);
}

function nodePressed(node) {
    if (d3.event.button !== 0)
        return;
    d3.event.stopPropagation();
    if (d3.event.shiftKey) {
        node.selected = !node.selected;
    } else if (!node.selected) {
        graph.nodes.forEach(function (other) { other.selected = false; });
        node.selected = true;
    }
    selectionChanged(true);
}

// Rectangle selection: a node is selected when it was selected at the start
// (with Shift held) XOR it lies in the rectangle; reported on every change.
function backgroundPressed() {
    if (d3.event.button !== 0 || !graph)
        return;
    d3.event.preventDefault();
    var canvas = svg.node();
    var origin = d3.mouse(canvas);
    var shift = d3.event.shiftKey;
    graph.nodes.forEach(function (node) { node.previouslySelected = shift && node.selected; });
    svg.classed('paused', true);
    var rect = d3.select('#selectionRect').style('display', null)
        .attr('x', origin[0]).attr('y', origin[1]).attr('width', 0).attr('height', 0);
    d3.select(window)
        .on('mousemove.rectangle', function () {
            var point = d3.mouse(canvas);
            var x0 = Math.min(origin[0], point[0]);
            var y0 = Math.min(origin[1], point[1]);
            var x1 = Math.max(origin[0], point[0]);
            var y1 = Math.max(origin[1], point[1]);
            rect.attr('x', x0).attr('y', y0).attr('width', x1 - x0).attr('height', y1 - y0);
            var changed = false;
            graph.nodes.forEach(function (node) {
                var x = screenX(node);
                var y = screenY(node);
                var inside = x >= x0 && x < x1 && y >= y0 && y < y1;
                var selected = node.previouslySelected !== inside;
                if (selected !== node.selected) {
                    node.selected = selected;
                    changed = true;
                }
            });
            if (changed)
                selectionChanged(true);
        })
        .on('mouseup.rectangle', function () {
            rect.style('display', 'none');
            svg.classed('paused', false);
            d3.select(window).on('.rectangle', null);
        });
}

// ---- hover -------------------------------------------------------------------------

function nodeEntered(node) {
    var group = d3.select(this).raise();
    group.select('circle').transition('hover').duration(500).attr('r', 29.8);
    group.selectAll('path.half').transition('hover').duration(500).attr('transform', 'scale(28)');
    group.select('text').transition('hover').duration(750).style('opacity', 1);
    if (isQtAvailable)
        Qt.jsHighlightUpdated(node.index);
}

function nodeLeft(node) {
    var group = d3.select(this);
    group.select('circle').transition('hover').duration(750).attr('r', node.radius + 1.8);
    group.selectAll('path.half').transition('hover').duration(750).attr('transform', 'scale(' + node.radius + ')');
    group.select('text').transition('hover').duration(500).style('opacity', 0);
    if (isQtAvailable)
        Qt.jsHighlightUpdated(-1);
}

// ---- pins --------------------------------------------------------------------------

function pin(node) {
    node.fx = node.x;
    node.fy = node.y;
    node.fixed = true;
}

// A released node keeps its place while "Fix Tree" is on.
function release(node) {
    node.fixed = false;
    if (!fixTree) {
        node.fx = null;
        node.fy = null;
    }
}

function setFixTree(on) {
    fixTree = on;
    spadePage.fixTreeChanged(on);
}

// ---- context menus -----------------------------------------------------------------

var menuActions = {
    selectNode: function (node) {
        node.selected = true;
        selectionChanged(true);
    },
    deselectNode: function (node) {
        node.selected = false;
        selectionChanged(true);
    },
    fixNode: function (node) {
        pin(node);
        updateNodeClasses();
    },
    unfixNode: function (node) {
        release(node);
        updateNodeClasses();
        spadePage.pinReleased();
    },
    fixSelection: function () {
        selectedNodes().forEach(pin);
        updateNodeClasses();
    },
    unfixSelection: function (node) {
        release(node);
        selectedNodes().forEach(release);
        updateNodeClasses();
        spadePage.pinReleased();
    },
    createBubble: function () { openBubbleDialog(); },
    addNodeToBubble: function (node, entry) { moveToBubble([node], entry.bubble); },
    addSelectionToBubble: function (node, entry) { moveToBubble(selectedNodes(), entry.bubble); },
    removeNodeFromBubble: function (node) { moveToBubble([node], ''); },
    // Each selected node leaves the bubble it is in.
    removeSelectionFromBubbles: function () { moveToBubble(selectedNodes(), ''); },
    saveImage: function () { printSVG(); },
    exportBubble: function (node, entry) { exportBubble(entry.bubble, 0); },
    exportBubbleSeparately: function (node, entry) { exportBubble(entry.bubble, 1); }
};

function exportBubble(bubble, separate) {
    hideContextMenu();
    if (isQtAvailable)
        Qt.exportSubtree(bubble, separate);
}

function nodeMenuState(node) {
    var selected = selectedNodes();
    return {
        nodeSelected: node.selected,
        anySelected: selected.length > 0,
        nodeFixed: node.fixed,
        selectedCount: selected.length,
        selectedFixedCount: selected.filter(function (other) { return other.fixed; }).length,
        bubbles: subTrees.slice(),
        nodeBubble: node.subTree || '',
        selectionBubble: commonBubble(selected),
        selectionInBubble: selected.some(function (other) { return !!other.subTree; })
    };
}

// Entries for the context menu library, which writes titles as HTML.
function menuItems(entries, node) {
    return entries.map(function (entry) {
        if (entry.divider)
            return { divider: true };
        return {
            title: escapeHtml(entry.title),
            action: function () { menuActions[entry.action](node, entry); }
        };
    });
}

// ---- detail rings ------------------------------------------------------------------

function toggleRing(node) {
    node.ring = !node.ring;
    drawRings();
}

function drawRings() {
    var count = graph.names.length;
    var sector = d3.arc().innerRadius(33).outerRadius(54)
        .startAngle(function (s) { return 2 * Math.PI * s.marker / count; })
        .endAngle(function (s) { return 2 * Math.PI * (s.marker + 1) / count; });
    var rings = d3.select('#rings').selectAll('g.ring')
        .data(graph.nodes.filter(function (node) { return node.ring; }), function (node) { return node.index; });
    rings.exit().remove();
    rings.enter().append('g').attr('class', 'ring')
        .selectAll('path').data(function (node) {
            return graph.names.map(function (name, marker) { return { node: node, marker: marker }; });
        }).enter().append('path')
        .attr('d', sector)
        .on('mouseover', showRingTip)
        .on('mouseout', hideRingTip);
    redraw();
    recolour();
}

// The sector's marker name and value beside the ring, turned with the sector.
function showRingTip(s) {
    var angle = (s.marker + 0.5) * 360 / graph.names.length - 90;
    var flipped = angle > 90;
    var value = s.node.expression[s.marker];
    d3.select('#ringTip').style('display', null)
        .attr('transform', translateToNode(s.node) + ' rotate(' + (flipped ? angle - 180 : angle) + ')')
        .select('text')
        .attr('x', flipped ? -58 : 58).attr('dy', '0.35em')
        .attr('text-anchor', flipped ? 'end' : 'start')
        .text(graph.names[s.marker] + ' (' + (isFinite(value) ? value.toFixed(2) : value) + ')');
}

function hideRingTip() {
    d3.select('#ringTip').style('display', 'none');
}

// ---- size legend -------------------------------------------------------------------

function drawSizeLegend() {
    var labels = sizeLegendLabels(totalEvents, sizeLegendShowsCounts);
    var legend = d3.select('#sizeLegend');
    var entries = legend.selectAll('g.sizeEntry').data(kSizeLegendRadii);
    var entered = entries.enter().append('g').attr('class', 'sizeEntry');
    var top = 0;
    entered.merge(entries).attr('transform', function (radius) {
        var y = top + radius;
        top += 2 * radius + 6;
        return 'translate(26,' + y + ')';
    });
    entered.append('rect').attr('class', 'sizeTarget');
    entered.append('circle').attr('r', function (radius) { return radius; });
    entered.append('text').attr('x', 32).attr('dy', '0.35em');
    var all = legend.selectAll('g.sizeEntry');
    all.select('text').text(function (radius, i) { return labels[i]; });
    // A click anywhere on an entry, inside its circle too, switches the labels.
    all.each(function (radius) {
        var entry = d3.select(this);
        entry.select('rect.sizeTarget').attr('x', -radius).attr('y', -radius).attr('height', 2 * radius)
            .attr('width', radius + 32 + entry.select('text').node().getComputedTextLength());
    });
}

function toggleSizeLegend() {
    sizeLegendShowsCounts = !sizeLegendShowsCounts;
    drawSizeLegend();
}

// ---- drawer: marker selectors and sliders ------------------------------------------

var markerSelectors = [];
var markerSliders = [];

function initMarkerControls() {
    markerSelectors = [d3.select('#leftMarkerSelect'), d3.select('#rightMarkerSelect')];
    markerSliders = [document.getElementById('leftSlider'), document.getElementById('rightSlider')];
    markerSelectors.forEach(function (selector, half) {
        selector.on('change', function () {
            activeMarker[half] = Number(this.value);
            rebuildSliders();
            recolour();
        });
    });
    d3.select('#fixTreeSwitch').on('change', function () { setFixTree(this.checked); });
    d3.select('#discreteSwitch').on('change', function () {
        setDiscreteColormap(this.checked);
        recolour();
    });
}

function fillMarkerSelectors() {
    markerSelectors.forEach(function (selector) {
        var options = selector.selectAll('option').data(graph.names);
        options.exit().remove();
        options.enter().append('option').merge(options)
            .attr('value', function (name, index) { return index; })
            .text(function (name) { return name; });
        selector.property('value', 0);
    });
}

function rebuildSliders() {
    markerSliders.forEach(function (element, half) {
        if (element.noUiSlider)
            element.noUiSlider.destroy();
        var marker = activeMarker[half];
        var bounds = expressionUserBounds[marker];
        if (!bounds)
            return;
        var data = expressionBounds[marker];
        noUiSlider.create(element, {
            start: bounds.slice(),
            behaviour: 'tap-drag',
            connect: true,
            range: { min: Math.min(0, data[0]), max: Math.max(5.0, data[1]) },
            pips: { mode: 'positions', values: [0, 25, 50, 75, 100], density: 5, format: wNumb({ decimals: 2 }) }
        });
        element.noUiSlider.on('slide', function (values) {
            expressionUserBounds[marker] = [Number(values[0]), Number(values[1])];
            // Both halves on one marker: the other slider follows.
            var other = 1 - half;
            if (activeMarker[other] === marker && markerSliders[other].noUiSlider)
                markerSliders[other].noUiSlider.set(expressionUserBounds[marker].slice());
            recolour();
        });
    });
}

function leftClickColormap(index) {
    setColormap(index, true);
    recolour();
}

// ---- bubble name dialog ------------------------------------------------------------

function initBubbleDialog() {
    var field = d3.select('#bubbleName');
    field.on('input', updateSaveButton)
        .on('keydown', function () {
            if (d3.event.keyCode === 13 && this.value !== '')
                saveBubble();
        });
    d3.select('#saveBubble').on('click', saveBubble);
    d3.select('#cancelBubble').on('click', closeBubbleDialog);
}

function updateSaveButton() {
    d3.select('#saveBubble').property('disabled', document.getElementById('bubbleName').value === '');
}

function openBubbleDialog() {
    d3.select('#bubbleDialog').style('display', null);
    updateSaveButton();
    document.getElementById('bubbleName').focus();
}

function bubbleDialogIsOpen() {
    return d3.select('#bubbleDialog').style('display') !== 'none';
}

function closeBubbleDialog() {
    var field = document.getElementById('bubbleName');
    field.value = '';
    // The text field's floating label follows its value.
    if (field.parentNode.MaterialTextfield)
        field.parentNode.MaterialTextfield.checkDirty();
    d3.select('#bubbleDialog').style('display', 'none');
}

function saveBubble() {
    var name = document.getElementById('bubbleName').value;
    if (name === '')
        return;
    closeBubbleDialog();
    createBubble(name);
}
