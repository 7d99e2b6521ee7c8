// The heat map: one column per cluster, one row per marker, each cell
// coloured by the cluster's median of that marker. This file holds the page
// state, the DOM-free rules (sorting, geometry, colour range, frames) and the
// drawing; heatmap.dendrogram.js the clustering order and the tree,
// heatmap.ui.js the controls and the host connection, heatmap.keys.js the
// keyboard.

var _data = null;
// Counts setData calls: the dendrogram is cached per data and active markers.
var _dataVersion = 0;
var _availableDataSets = [];
var _chosenDataSet = -1;
var _selection = [];
// The first selected cluster of a merge, selected again when the merged data arrive.
var _mergeRemembered = -1;
var _markerSelection = [];
var _markerRunningCount = [];
var _sorting = [];
var _sortMarker = -1;
var _sortHighToLow = true;
var _markerSelectionMode = false;
var _showDendrogram = false;
var _showDendrogramLabels = true;
var _showVariation = false;
// Minimum and maximum of the active markers' values over all clusters.
var _markerRange = [0.0, 5.0];
var _labelWidth = 0;
var _geometry = null;
// What the cells were last laid out for; null after a rebuild.
var _cellLayout = null;

var _transitionMs = 500;
var _legendRoom = 90;
var _headerRoom = 20;
var _clusterLabelBand = 90;
var _dendrogramBand = 120;
var _switchColumn = 30;
var _frameWidth = 3;
var _hiddenRow = -100000;

// ---------------------------------------------------------------------------
// DOM-free rules

function countSelected(selection) {
    var count = 0;
    for (var i = 0; i < selection.length; ++i)
        if (selection[i])
            ++count;
    return count;
}

// For marker i, the number of active markers before it.
function runningCounts(flags, markerCount) {
    var counts = [];
    var running = 0;
    for (var i = 0; i < markerCount; ++i) {
        counts.push(running);
        if (flags[i])
            ++running;
    }
    return counts;
}

function activeMarkerCount(flags, markerCount) {
    var count = 0;
    for (var i = 0; i < markerCount; ++i)
        if (flags[i])
            ++count;
    return count;
}

// Display position of every cluster from an order (cluster indices, first first).
function positionsFromOrder(order) {
    var positions = [];
    for (var p = 0; p < order.length; ++p)
        positions[order[p]] = p;
    return positions;
}

// Display positions of `count` clusters. `values` (one per cluster) is the
// sort marker's value, or null for cluster order. Values sort ascending (equal
// ones by cluster index); high to low assigns the positions from the end.
// When more than one cluster is selected, the selected ones come first in
// either direction, each group in its own order.
function sortPositions(count, values, selection, highToLow) {
    var order = [];
    for (var c = 0; c < count; ++c)
        order.push(c);
    if (values) {
        order.sort(function (a, b) { return (values[a] - values[b]) || (a - b); });
        if (highToLow)
            order.reverse();
    }
    if (countSelected(selection) > 1) {
        var selected = order.filter(function (cluster) { return !!selection[cluster]; });
        var others = order.filter(function (cluster) { return !selection[cluster]; });
        order = selected.concat(others);
    }
    return positionsFromOrder(order);
}

// Sizes of the drawing. options: innerWidth, innerHeight (the window's),
// labelWidth (widest marker name in pixels), markerSelectionMode, dendrogram,
// clusterCount, rowCount. Nothing divides by zero: no clusters or no rows
// give columns or rows of width or height 0.
function heatmapGeometry(options) {
    var width = Math.max(0, options.innerWidth - _legendRoom);
    var height = Math.max(0, options.innerHeight - _headerRoom);
    var labelColumn = options.labelWidth + 10;
    var switchColumn = options.markerSelectionMode ? _switchColumn : 0;
    var top = options.dendrogram ? _dendrogramBand : 0;
    var heatmapWidth = Math.max(0, width - labelColumn - switchColumn);
    var heatmapHeight = Math.max(0, height - _clusterLabelBand - top);
    return {
        width: width,
        height: height,
        labelColumn: labelColumn,
        switchColumn: switchColumn,
        left: labelColumn + switchColumn,
        top: top,
        heatmapWidth: heatmapWidth,
        heatmapHeight: heatmapHeight,
        columnWidth: options.clusterCount > 0 ? heatmapWidth / options.clusterCount : 0,
        rowHeight: options.rowCount > 0 ? heatmapHeight / options.rowCount : 0
    };
}

// Minimum and maximum over all clusters of the active markers' values; null
// without clusters or active markers.
function activeValueRange(nodes, flags, markerCount) {
    var low = Infinity;
    var high = -Infinity;
    nodes.forEach(function (node) {
        for (var m = 0; m < markerCount; ++m) {
            if (!flags[m])
                continue;
            var value = node.expression[m];
            if (value < low)
                low = value;
            if (value > high)
                high = value;
        }
    });
    return low <= high ? [low, high] : null;
}

// The slider's span: from 0 (or the lowest value, when below 0) to at least 5.
function sliderSpan(range) {
    return [Math.min(0, range[0]), Math.max(range[1], 5.0)];
}

// Width and height factor of a painted cell for a standard deviation:
// 1 at 0, falling linearly to 0.05 at 3 and beyond.
function variationFactor(stddev) {
    if (!isFinite(stddev))
        return 1;
    return clamp(0.05, 1 + stddev * (0.05 - 1) / 3.0, 1);
}

// The stretches of display positions that selection frames enclose, as
// [first, last] pairs: one stretch over all selected clusters, or, with the
// dendrogram and several selected, every run of neighbouring selected columns.
function selectionRuns(positions, selection, dendrogram) {
    var selected = [];
    for (var c = 0; c < positions.length; ++c)
        if (selection[c])
            selected.push(positions[c]);
    if (!selected.length)
        return [];
    selected.sort(function (a, b) { return a - b; });
    if (!dendrogram || selected.length === 1)
        return [[selected[0], selected[selected.length - 1]]];
    var runs = [[selected[0], selected[0]]];
    for (var i = 1; i < selected.length; ++i) {
        var run = runs[runs.length - 1];
        if (selected[i] === run[1] + 1)
            run[1] = selected[i];
        else
            runs.push([selected[i], selected[i]]);
    }
    return runs;
}

// ---------------------------------------------------------------------------
// State changes

function clusterCount() {
    return _data ? _data.nodes.length : 0;
}

function markerCount() {
    return _data ? _data.names.length : 0;
}

function isMarkerActive(m) {
    return !!_markerSelection[m];
}

function refreshRunningCounts() {
    _markerRunningCount = runningCounts(_markerSelection, markerCount());
}

function updateSorting() {
    var count = clusterCount();
    if (_showDendrogram) {
        var order = dendrogramOrder();
        _sorting = order ? positionsFromOrder(order) : sortPositions(count, null, _selection, false);
        return;
    }
    var values = null;
    if (_sortMarker >= 0 && _sortMarker < markerCount())
        values = _data.nodes.map(function (node) { return node.expression[_sortMarker]; });
    _sorting = sortPositions(count, values, _selection, _sortHighToLow);
}

// Recomputes the colour range from the active markers and clamps the bounds
// into it; without clusters or active markers the last range stays.
function updateMarkerRange() {
    var range = _data ? activeValueRange(_data.nodes, _markerSelection, markerCount()) : null;
    if (!range)
        return;
    _markerRange = range;
    _markerUserBounds = [clamp(range[0], _markerUserBounds[0], range[1]),
                         clamp(range[0], _markerUserBounds[1], range[1])];
    refreshColormaps();
}

function setData(text) {
    _data = JSON.parse(text);
    _dataVersion++;
    var count = clusterCount();
    var markers = markerCount();
    _labelWidth = 0;
    _data.names.forEach(function (name) {
        _labelWidth = Math.max(_labelWidth, String(name).width('12px arial'));
    });
    _selection = [];
    for (var c = 0; c < count; ++c)
        _selection.push(c === _mergeRemembered ? 1 : 0);
    _mergeRemembered = -1;
    if (markers > _markerSelection.length) {
        var fill = _markerSelection.length ? 0 : 1;
        while (_markerSelection.length < markers)
            _markerSelection.push(fill);
    }
    refreshRunningCounts();
    updateSorting();
    updateMarkerRange();
    rebuildSlider();
    rebuildDrawing();
    log('Data set.');
}

function setSelection(list) {
    var before = countSelected(_selection);
    _selection = [];
    for (var c = 0; c < clusterCount(); ++c)
        _selection.push(list[c] ? 1 : 0);
    if (before > 1 || countSelected(_selection) > 1)
        updateSorting();
    layout(_transitionMs);
}

// The page shows no highlight of its own.
function setHighlight() {
}

function initMarkerSelection(list) {
    if (_data)
        return;
    _markerSelection = list.map(function (flag) { return flag ? 1 : 0; });
}

function addAvailableData(name) {
    name = String(name);
    if (_availableDataSets.indexOf(name) >= 0)
        return;
    _availableDataSets.push(name);
    rebuildChooser();
}

// A press on a cell: alone it clears every other cluster and flips the
// pressed one; with Shift it flips only the pressed one.
function pressCluster(cluster, additive) {
    var wasSelected = !!_selection[cluster];
    if (!additive)
        for (var c = 0; c < _selection.length; ++c)
            _selection[c] = 0;
    _selection[cluster] = wasSelected ? 0 : 1;
    reportSelection();
    updateSorting();
    layout(_transitionMs);
}

function sortByMarker(marker) {
    if (marker === _sortMarker)
        _sortHighToLow = !_sortHighToLow;
    else
        _sortMarker = marker;
    updateSorting();
    layout(_transitionMs);
}

function toggleMarker(marker) {
    _markerSelection[marker] = _markerSelection[marker] ? 0 : 1;
    refreshRunningCounts();
    updateMarkerRange();
    rebuildSlider();
    if (_showDendrogram)
        updateSorting();
    layout(_transitionMs);
    recolor();
}

function setMarkerSelectionMode(on) {
    _markerSelectionMode = on;
    layout(_transitionMs);
}

function setVariation(on) {
    _showVariation = on;
    syncSwitch('switchVariation', on);
    layout(_transitionMs);
}

function setDendrogram(on) {
    _showDendrogram = on;
    syncSwitch('switchDendrogram', on);
    updateSorting();
    layout(_transitionMs);
}

function setDendrogramLabels(on) {
    _showDendrogramLabels = on;
    syncSwitch('switchLabels', on);
    layout(_transitionMs);
}

// ---------------------------------------------------------------------------
// Drawing

function rowCount() {
    return _markerSelectionMode ? markerCount() : activeMarkerCount(_markerSelection, markerCount());
}

// The row a marker stands in; inactive markers are parked far above.
function markerRow(m) {
    if (_markerSelectionMode)
        return m;
    return isMarkerActive(m) ? _markerRunningCount[m] : _hiddenRow;
}

function markerRowY(m) {
    return markerRow(m) * _geometry.rowHeight;
}

function isRowShown(m) {
    return _markerSelectionMode || isMarkerActive(m);
}

function computeGeometry() {
    _geometry = heatmapGeometry({
        innerWidth: window.innerWidth,
        innerHeight: window.innerHeight,
        labelWidth: _labelWidth,
        markerSelectionMode: _markerSelectionMode,
        dendrogram: _showDendrogram,
        clusterCount: clusterCount(),
        rowCount: rowCount()
    });
}

function cellColor(value) {
    var low = _markerUserBounds[0];
    var high = _markerUserBounds[1];
    if (high > low)
        return _colorScale(value);
    // Equal bounds: below or at them the map's low end, above its high end.
    return activeColormapWithCustomDomain([0, 1])(value > low ? 1 : 0);
}

function clusterValue(cell) {
    return _data.nodes[cell.c].expression[cell.m];
}

function clusterStddev(cell) {
    var stddev = _data.nodes[cell.c].stddev;
    return stddev ? stddev[cell.m] : 0;
}

// Throws away the drawing and builds it for the current data.
function rebuildDrawing() {
    var svg = d3.select('#heatmapSvg');
    svg.select('#columns').selectAll('*').remove();
    svg.select('#markerLabels').selectAll('*').remove();
    svg.select('#markerSwitches').selectAll('*').remove();
    svg.select('#frames').selectAll('*').remove();
    if (!_data) {
        layout(0);
        return;
    }
    var markers = d3.range(markerCount());
    var columns = svg.select('#columns').selectAll('g.column').data(d3.range(clusterCount())).enter()
        .append('g').attr('class', 'column').attr('id', function (c) { return 'cluster' + c; });

    var cells = columns.append('g').attr('class', 'cells')
        .on('mousedown', function (c) {
            if (d3.event.button === 0)
                pressCluster(c, d3.event.shiftKey);
        })
        .on('mouseover', function (c) { reportHighlight(c); })
        .on('mouseout', function () { reportHighlight(-1); });
    cells.append('rect').attr('class', 'columnBackground');
    cells.selectAll('rect.cell').data(function (c) {
        return markers.map(function (m) { return { c: c, m: m }; });
    }).enter().append('rect').attr('class', 'cell');

    var labels = columns.append('g').attr('class', 'clusterLabel')
        .on('click', function (c) { openRenameDialog(c); });
    labels.append('rect').attr('class', 'clusterLabelBackground');
    labels.append('text').attr('class', 'clusterLabelText').attr('text-anchor', 'end').attr('dy', '.35em')
        .text(function (c) { return _data.nodes[c].name; });

    svg.select('#markerLabels').selectAll('text').data(markers).enter().append('text')
        .attr('class', 'markerLabel').attr('id', function (m) { return 'marker' + m; })
        .attr('text-anchor', 'end').attr('dy', '.35em')
        .text(function (m) { return _data.names[m]; })
        .on('click', function (m) {
            if (!_markerSelectionMode && !_showDendrogram && isMarkerActive(m))
                sortByMarker(m);
        });

    var switches = svg.select('#markerSwitches').selectAll('g').data(markers).enter().append('g')
        .attr('class', 'markerSwitch').attr('id', function (m) { return 'markerSwitch' + m; })
        .on('mousedown', function (m) {
            if (d3.event.button === 0)
                toggleMarker(m);
        });
    switches.append('circle').attr('r', 7.5);
    switches.append('rect').attr('class', 'barHorizontal').attr('x', -3.5).attr('y', -1.25)
        .attr('width', 7).attr('height', 2.5);
    switches.append('rect').attr('class', 'barVertical').attr('x', -1.25).attr('y', -3.5)
        .attr('width', 2.5).attr('height', 7);

    _cellLayout = null;
    layout(0);
    recolor();
}

function transitionOf(selection, duration) {
    return duration > 0 ? selection.transition().duration(duration) : selection;
}

// Places everything for the current state, animated over `duration` ms.
function layout(duration) {
    computeGeometry();
    var g = _geometry;
    var svg = d3.select('#heatmapSvg').attr('width', g.width).attr('height', g.height);
    d3.select('#heatmap').attr('transform', 'translate(' + g.left + ',' + g.top + ')');
    if (!_data) {
        drawDendrogram(0);
        drawFrames(0);
        return;
    }
    var columnWidth = g.columnWidth;
    var rowHeight = g.rowHeight;

    transitionOf(svg.selectAll('g.column'), duration)
        .attr('transform', function (c) { return 'translate(' + (_sorting[c] * columnWidth) + ',0)'; });
    // Cells are laid out in units of one column and one row, which their
    // group scales: new sizes and orders move only the 2 * C groups. The
    // cells move only when rows or the variation display change.
    transitionOf(svg.selectAll('g.cells'), duration)
        .attr('transform', 'scale(' + columnWidth + ',' + rowHeight + ')');
    var cellLayout = [_showVariation, _markerSelectionMode, _markerSelection.join()].join();
    if (cellLayout !== _cellLayout) {
        _cellLayout = cellLayout;
        svg.selectAll('rect.columnBackground').attr('width', 1).attr('height', rowCount());
        var cells = svg.selectAll('rect.cell')
            .attr('visibility', function (cell) { return isRowShown(cell.m) ? 'visible' : 'hidden'; });
        transitionOf(cells, duration)
            .attr('x', function (cell) { return cellInset(cell); })
            .attr('width', function (cell) { return 1 - 2 * cellInset(cell); })
            .attr('y', function (cell) { return markerRow(cell.m) + cellInset(cell); })
            .attr('height', function (cell) { return 1 - 2 * cellInset(cell); });
    }

    var fontSize = clamp(1, columnWidth - 1, 12);
    svg.selectAll('g.clusterLabel')
        .attr('transform', 'translate(' + (columnWidth / 2) + ',' + (g.heatmapHeight + 10) + ') rotate(-90)');
    svg.selectAll('rect.clusterLabelBackground').attr('x', -(_clusterLabelBand - 10)).attr('y', -columnWidth / 2)
        .attr('width', _clusterLabelBand).attr('height', columnWidth);
    svg.selectAll('text.clusterLabelText').style('font-size', fontSize + 'px');

    transitionOf(svg.selectAll('text.markerLabel'), duration)
        .attr('x', g.labelColumn - 5)
        .attr('y', function (m) { return g.top + markerRowY(m) + rowHeight / 2; });
    svg.selectAll('text.markerLabel')
        .attr('visibility', function (m) { return isRowShown(m) ? 'visible' : 'hidden'; })
        .classed('sortMarker', function (m) { return m === _sortMarker && !_showDendrogram; });

    svg.select('#markerSwitches').attr('visibility', _markerSelectionMode ? 'visible' : 'hidden');
    svg.selectAll('g.markerSwitch')
        .attr('transform', function (m) {
            return 'translate(' + (g.labelColumn + _switchColumn / 2.5) + ',' + (g.top + markerRowY(m) + rowHeight / 2) + ')';
        })
        .classed('active', function (m) { return isMarkerActive(m); });

    drawDendrogram(duration);
    drawFrames(duration);
    updateLegendLabels();
}

// How far a painted cell shrinks from each side, as a share of its size,
// with the variation display on.
function cellInset(cell) {
    if (!_showVariation)
        return 0;
    return (1 - variationFactor(clusterStddev(cell))) / 2;
}

function recolor() {
    d3.selectAll('rect.cell').attr('fill', function (cell) { return cellColor(clusterValue(cell)); });
    updateLegendLabels();
}

function drawFrames(duration) {
    var frames = d3.select('#frames');
    var runs = _data ? selectionRuns(_sorting, _selection, _showDendrogram) : [];
    var columnWidth = _geometry.columnWidth;
    var height = _geometry.heatmapHeight;
    var reach = _frameWidth / 2;
    var lines = [];
    runs.forEach(function (run) {
        var x0 = run[0] * columnWidth;
        var x1 = (run[1] + 1) * columnWidth;
        lines.push([x0 - reach, 0, x1 + reach, 0], [x0 - reach, height, x1 + reach, height],
                   [x0, -reach, x0, height + reach], [x1, -reach, x1, height + reach]);
    });
    var selection = frames.selectAll('line').data(lines);
    selection.exit().remove();
    placeLine(selection.enter().append('line').attr('class', 'frame'));
    placeLine(transitionOf(selection, duration));
}

function placeLine(line) {
    line.attr('x1', function (l) { return l[0]; }).attr('y1', function (l) { return l[1]; })
        .attr('x2', function (l) { return l[2]; }).attr('y2', function (l) { return l[3]; });
}

// The colour bounds beside the legend; nothing before data arrive.
function updateLegendLabels() {
    d3.select('#legendMax').text(_data ? _markerUserBounds[1].toFixed(2) : '');
    d3.select('#legendMin').text(_data ? _markerUserBounds[0].toFixed(2) : '');
}
