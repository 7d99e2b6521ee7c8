// The exploration tree's data and the page protocol, shared by the sunburst
// page and its icicle variant. The first part is DOM-free (node's tests load
// it); the second connects the host object and builds the drawer. A page's
// own script provides hierarchyView: draw(), recolor() and resize().

var Hierarchy = (function () {
    var ID_BAR_DEPTH = 8;
    var BAR_DEPTH = 28;

    function hasThumbnails(node) {
        return !!(node && node.image && node.image.length > 0 && node.image[0]);
    }

    // The indices of the active markers: the set flags when known, else every
    // index of the first expression list found in the tree.
    function activeMarkers(flags, root) {
        var active = [];
        if (flags && flags.length > 0) {
            for (var i = 0; i < flags.length; ++i)
                if (flags[i])
                    active.push(i);
            return active;
        }
        var first = null;
        walk(root, function (node) {
            if (first === null && node.expression && node.expression.length > 0)
                first = node.expression.length;
        });
        for (var m = 0; first !== null && m < first; ++m)
            active.push(m);
        return active;
    }

    // Depth first, parents before their children.
    function walk(node, visit) {
        if (!node)
            return;
        visit(node);
        (node.children || []).forEach(function (child) { walk(child, visit); });
    }

    function extend(range, value) {
        if (typeof value !== 'number' || !isFinite(value))
            return;
        range[0] = Math.min(range[0], value);
        range[1] = Math.max(range[1], value);
    }

    // Ids, leaf fractions, each node's largest-variation marker over the
    // active markers, and the ranges of expression and variation.
    function prepare(root, flags, names) {
        var active = activeMarkers(flags, root);
        var expressionRange = [Infinity, -Infinity];
        var variationRange = [Infinity, -Infinity];
        var count = 0;
        root.fraction = 1.0;
        walk(root, function (node) {
            node.id = 'UID' + count++;
            var children = node.children || [];
            children.forEach(function (child) { child.fraction = node.fraction / children.length; });
            var expression = node.expression || [];
            var variation = node.variation && node.variation.length > 0 ? node.variation : expression;
            node.maxMarker = -1;
            var largest = -Infinity;
            active.forEach(function (m) {
                if (m >= expression.length)
                    return;
                extend(expressionRange, expression[m]);
                if (node.variation && m < node.variation.length)
                    extend(variationRange, node.variation[m]);
                if (variation[m] >= largest) {
                    largest = variation[m];
                    node.maxMarker = m;
                }
            });
            node.maxExpression = node.maxMarker >= 0 ? expression[node.maxMarker] : 0;
            node.maxVariation = node.maxMarker >= 0 ? variation[node.maxMarker] : 0;
            node.maxName = markerName(names, node.maxMarker);
        });
        return {
            active: active,
            expressionRange: expressionRange[0] <= expressionRange[1] ? expressionRange : [0, 0],
            variationRange: variationRange[0] <= variationRange[1] ? variationRange : [0, 0]
        };
    }

    function markerName(names, marker) {
        if (marker < 0)
            return '';
        return names && marker < names.length ? String(names[marker]) : String(marker);
    }

    // Parses the exploration JSON; null for an empty or broken text.
    function parse(text) {
        if (!text)
            return null;
        try {
            var root = JSON.parse(text);
            return root && typeof root === 'object' && !Array.isArray(root) ? root : null;
        } catch (e) {
            return null;
        }
    }

    // The partition value of a leaf: its fraction ("Uniform Size") or its size.
    function leafValue(node, uniform) {
        if (node.children && node.children.length > 0)
            return 0;
        return uniform ? node.fraction : Math.max(0, node.size || 0);
    }

    function sunburstLayout(width, height) {
        return {
            cx: width / 2,
            cy: height / 2 + 20,
            radius: Math.max(0, Math.min(width, height - 50) / 2 - BAR_DEPTH - 10)
        };
    }

    // Side of the stacked thumbnails in the largest circle that fits a
    // sector (angles a0..a1, radii r0..r1), or 0.9 x the outer radius at the centre.
    function thumbnailDiameter(a0, a1, r0, r1, isCentre) {
        if (isCentre)
            return Math.max(0, 0.9 * r1);
        var arc = (a1 - a0) * (r0 + r1) / 2;
        return Math.max(0, 0.9 * Math.min(arc, r1 - r0));
    }

    // The larger thumbnails fade in as space grows (opacity is at most 1).
    function thumbnailOpacities(diameter) {
        var fade = function (from) { return Math.min(1, Math.max(0, (diameter - from) / from)); };
        return [fade(256), fade(128), 1];
    }

    // True when one segment per active marker is at least 2 pixels wide.
    function segmentsFit(a0, a1, radius, count) {
        return count > 0 && (a1 - a0) * radius / count >= 2;
    }

    // The context menu opens on nodes without children that are no leaves.
    function menuEligible(node) {
        return !(node.children && node.children.length > 0) && !node.isLeaf;
    }

    // The arrow shape of breadcrumb `index` of width w (height 30, tip 15).
    function breadcrumbPoints(w, index) {
        var points = ['0,0', w + ',0', (w + 15) + ',15', w + ',30', '0,30'];
        if (index > 0)
            points.push('15,15');
        return points.join(' ');
    }

    // The slider spans 0 to max(range maximum, 5); bounds are clamped into the range.
    function sliderMaximum(range) {
        return Math.max(range[1], 5.0);
    }

    function clampBounds(bounds, range) {
        var low = Math.min(Math.max(bounds[0], range[0]), range[1]);
        var high = Math.min(Math.max(bounds[1], range[0]), range[1]);
        return [Math.min(low, high), Math.max(low, high)];
    }

    return {
        ID_BAR_DEPTH: ID_BAR_DEPTH,
        BAR_DEPTH: BAR_DEPTH,
        hasThumbnails: hasThumbnails,
        activeMarkers: activeMarkers,
        walk: walk,
        prepare: prepare,
        markerName: markerName,
        parse: parse,
        leafValue: leafValue,
        sunburstLayout: sunburstLayout,
        thumbnailDiameter: thumbnailDiameter,
        thumbnailOpacities: thumbnailOpacities,
        segmentsFit: segmentsFit,
        menuEligible: menuEligible,
        breadcrumbPoints: breadcrumbPoints,
        sliderMaximum: sliderMaximum,
        clampBounds: clampBounds
    };
})();

if (typeof module !== 'undefined' && module.exports)
    module.exports = Hierarchy;

// ---- The page protocol (DOM) ----

var _hierarchy = {
    root: null,          // the parsed tree, prepared
    info: null,          // what Hierarchy.prepare found
    names: [],           // marker short names
    flags: [],           // 0/1 per marker from the program
    available: [],       // names in the chooser
    useVariation: true,  // "Variaton"
    uniform: true,       // "Uniform Size"
    bounds: [0, 1]       // colour bounds
};

function currentRange() {
    if (!_hierarchy.info)
        return [0, 0];
    return _hierarchy.useVariation ? _hierarchy.info.variationRange : _hierarchy.info.expressionRange;
}

// The value a node's marker is coloured by.
function markerValue(node, marker) {
    var expression = node.expression || [];
    if (_hierarchy.useVariation && node.variation && marker < node.variation.length)
        return node.variation[marker];
    return expression[marker];
}

function setData(text) {
    _hierarchy.root = Hierarchy.parse(text);
    prepareData(true);
}

function prepareData(resetBounds) {
    if (!_hierarchy.root) {
        _hierarchy.info = null;
        hierarchyView.draw();
        return;
    }
    _hierarchy.info = Hierarchy.prepare(_hierarchy.root, _hierarchy.flags, _hierarchy.names);
    rebuildRangeSlider(resetBounds);
    hierarchyView.draw();
}

function addAvailableData(name) {
    name = String(name);
    if (_hierarchy.available.indexOf(name) >= 0)
        return;
    _hierarchy.available.push(name);
    d3.select('#dataChooser').append('option').attr('value', name).text(name);
}

function setMarkerSelection(list) {
    _hierarchy.flags = [];
    for (var i = 0; i < list.length; ++i)
        _hierarchy.flags.push(list[i] ? 1 : 0);
    if (_hierarchy.root)
        prepareData(false);
}

function setMarkerNames(text) {
    var parsed = Hierarchy.parse(text);
    _hierarchy.names = parsed && Array.isArray(parsed.names) ? parsed.names.map(String) : [];
    if (_hierarchy.root)
        prepareData(false);
}

function rebuildRangeSlider(resetBounds) {
    var range = currentRange();
    _hierarchy.bounds = resetBounds ? range.slice() : Hierarchy.clampBounds(_hierarchy.bounds, range);
    var slider = document.getElementById('rangeSlider');
    if (slider.noUiSlider)
        slider.noUiSlider.destroy();
    noUiSlider.create(slider, {
        start: _hierarchy.bounds,
        connect: true,
        range: { min: 0, max: Hierarchy.sliderMaximum(range) },
        pips: { mode: 'positions', values: [0, 25, 50, 75, 100], density: 5, format: wNumb({ decimals: 2 }) }
    });
    slider.noUiSlider.on('slide', function (values) {
        _hierarchy.bounds = [Number(values[0]), Number(values[1])];
        applyBounds();
        hierarchyView.recolor();
    });
    applyBounds();
}

function applyBounds() {
    _markerUserBounds = _hierarchy.bounds.slice();
    refreshColormaps();
    d3.select('#legendLow').text(_hierarchy.bounds[0].toFixed(2));
    d3.select('#legendHigh').text(_hierarchy.bounds[1].toFixed(2));
}

function leftClickColormap(index) {
    setColormap(index, true);
    hierarchyView.recolor();
}

function raiseView(name, marker) {
    if (isQtAvailable)
        Qt.js_raiseView(String(name), marker);
    else
        log('raise ' + name + ' ' + marker);
}

function drillIntoCluster(node, parentName) {
    d3.select('.d3-context-menu').style('display', 'none');
    if (isQtAvailable)
        Qt.js_drillIntoCluster(String(node.name), String(node.cName), Number(node.cId), String(parentName),
                               node.maxMarker);
    else
        log('drill ' + node.name);
}

// The context menu of a node; withHtml adds "Save Hierarchy as html ...".
function hierarchyMenu(withHtml) {
    var menu = [
        { title: 'Zoom into Cluster', action: function (element, d) {
            drillIntoCluster(d.data, d.parent ? d.parent.data.name : '');
        } },
        { divider: true },
        { title: 'Save Hierarchy as Image ...', action: function () { printSVG(); } }
    ];
    if (withHtml)
        menu.push({ title: 'Save Hierarchy as html ...', action: function () { printJSON(); } });
    var open = contextMenuInside(menu);
    return function (d, i) {
        if (!Hierarchy.menuEligible(d.data)) {
            d3.event.preventDefault();
            return;
        }
        open.call(this, d, i);
    };
}

function initHierarchyDrawer() {
    d3.select('#dataChooser').on('change', function () {
        var name = this.value;
        if (name && isQtAvailable)
            Qt.js_selectData(name);
    });
    d3.select('#variationSwitch').on('change', function () {
        _hierarchy.useVariation = this.checked;
        if (_hierarchy.root)
            prepareData(true);
    });
    d3.select('#uniformSwitch').on('change', function () {
        _hierarchy.uniform = this.checked;
        hierarchyView.draw();
    });
}

function connectHost() {
    try {
        Qt.qt_setData.connect(setData);
        Qt.qt_addAvailableData.connect(addAvailableData);
        Qt.qt_setMarkerSelection.connect(setMarkerSelection);
        Qt.qt_setMarkerNames.connect(setMarkerNames);
    } catch (e) {
        isQtAvailable = false;
    }
}

function startHierarchyPage() {
    setColormap(9, false);
    initDrawer();
    initLegend();
    initHierarchyDrawer();
    hierarchyView.init();
    connectHost();
    window.addEventListener('resize', function () { hierarchyView.resize(); });
    if (!isQtAvailable && typeof _debug_data_ !== 'undefined' && _debug_data_.length > 4) {
        // In a plain browser the page shows the built-in sample tree.
        setMarkerNames(_debug_data_marker_names);
        addAvailableData('Sample Exploration');
        setData(_debug_data_[4]);
    }
}

// The view of the tree, drawn by a shape: the sunburst's rings or the
// icicle's rows. The shape maps a node's partition extent (x0..x1, depth) in
// the current scales to its sector, bars and thumbnails.
function createHierarchyView(shape, withHtml) {
    var svg = null;
    var chart = null;
    var crumbs = null;
    var icon = null;
    var layout = { cx: 0, cy: 0, radius: 0 };
    var tree = null;
    var viewRoot = null;
    var x = d3.scaleLinear().clamp(true);
    var y = d3.scaleLinear().clamp(true);
    var menu = null;
    var tooltip = null;

    function init() {
        svg = d3.select('#mainView').append('svg').attr('id', 'hierarchySvg');
        chart = svg.append('g').attr('class', 'sunburst');
        crumbs = svg.append('g').attr('class', 'breadcrumbs');
        icon = svg.append('g').attr('class', 'navIcon').attr('transform', 'translate(10,10)');
        tooltip = d3.select('body').append('div').attr('id', 'hierarchyTooltip').style('display', 'none');
        menu = hierarchyMenu(withHtml);
        resize();
    }

    function resize() {
        width = window.innerWidth;
        height = window.innerHeight;
        svg.attr('width', width).attr('height', height);
        layout = shape.layout(width, height);
        chart.attr('transform', 'translate(' + layout.originX + ',' + layout.originY + ')');
        x.range([0, layout.xSpan]);
        y.range([0, layout.ySpan]);
        position();
    }

    function draw() {
        chart.selectAll('*').remove();
        tree = null;
        viewRoot = null;
        if (_hierarchy.root) {
            tree = d3.hierarchy(_hierarchy.root)
                .sum(function (node) { return Hierarchy.leafValue(node, _hierarchy.uniform); });
            d3.partition()(tree);
            viewRoot = tree;
            build();
        }
        setDomains(viewRoot);
        position();
        drawBreadcrumbs();
        drawIcon();
    }

    function setDomains(d) {
        if (!d)
            return;
        x.domain([d.x0, d.x1]);
        y.domain([d.depth, d.depth + d.height + 1]);
    }

    function build() {
        var active = _hierarchy.info.active;
        var nodes = chart.selectAll('g.node').data(tree.descendants()).enter().append('g')
            .attr('class', 'node').attr('id', function (d) { return d.data.id; });
        nodes.filter(function (d) { return Hierarchy.hasThumbnails(d.data); }).each(function (d) {
            var node = d3.select(this);
            node.append('clipPath').attr('id', 'clip' + d.data.id).append('path');
            node.append('path').attr('class', 'sector').on('click', sectorClicked);
            var thumbs = node.append('g').attr('class', 'thumbs').attr('clip-path', 'url(#clip' + d.data.id + ')')
                .on('click', sectorClicked);
            d.data.image.slice(0, 3).forEach(function (image, i) {
                if (image)
                    thumbs.append('image').attr('class', 'thumb' + i)
                        .attr('xlink:href', 'data:image/png;base64,' + image);
            });
        });
        nodes.append('path').attr('class', 'idBar')
            .style('fill', function (d) { return d3.hsv(d.data.hue, 0.5, 1.0) + ''; })
            .on('contextmenu', menu);
        var bars = nodes.append('g').attr('class', 'markerBar').on('contextmenu', menu);
        bars.append('path').attr('class', 'wholeBar')
            .on('click', function (d) { segmentClicked(d, d.data.maxMarker); })
            .on('mouseover', showMaxTooltip).on('mousemove', moveTooltip).on('mouseout', hideTooltip);
        bars.each(function (d) {
            if (!d.data.expression || d.data.expression.length === 0)
                return;
            d3.select(this).selectAll('path.segment').data(active).enter().append('path').attr('class', 'segment')
                .on('click', function (m) { segmentClicked(d, m); })
                .on('mouseover', function (m) { showSegmentTooltip(d, m); })
                .on('mousemove', moveTooltip).on('mouseout', hideTooltip);
        });
        recolor();
    }

    // Every shape follows the current scales (called every frame of a zoom).
    function position() {
        if (!tree)
            return;
        var count = _hierarchy.info.active.length;
        chart.selectAll('g.node').each(function (d) {
            var g = shape.geometry(x(d.x0), x(d.x1), y(d.depth), y(d.depth + 1), d === viewRoot);
            var node = d3.select(this).style('display', g.visible ? null : 'none');
            if (!g.visible)
                return;
            node.select('clipPath path').attr('d', g.sector);
            node.select('path.sector').attr('d', g.sector);
            var opacities = Hierarchy.thumbnailOpacities(g.diameter);
            for (var i = 0; i < 3; ++i)
                node.select('image.thumb' + i).attr('x', g.thumbX - g.diameter / 2).attr('y', g.thumbY - g.diameter / 2)
                    .attr('width', g.diameter).attr('height', g.diameter).style('opacity', opacities[i]);
            node.select('path.idBar').attr('d', g.idBar);
            var fits = g.segmentsFit(count);
            var segments = node.selectAll('path.segment');
            node.select('path.wholeBar').attr('d', g.markerBar(0, 1))
                .style('display', fits && !segments.empty() ? 'none' : null);
            segments.style('display', fits ? null : 'none').attr('d', function (m, k) { return g.markerBar(k, count); });
        });
    }

    function recolor() {
        if (!tree)
            return;
        chart.selectAll('path.wholeBar').style('fill', function (d) {
            if (d.data.maxMarker < 0)
                return '#9E9E9E';
            return _colorScale(markerValue(d.data, d.data.maxMarker));
        });
        chart.selectAll('g.markerBar').each(function (d) {
            d3.select(this).selectAll('path.segment')
                .style('fill', function (m) { return _colorScale(markerValue(d.data, m)); });
        });
    }

    function sectorClicked(d) {
        var event = d3.event;
        if (event.ctrlKey) {
            raiseView(d.data.name, -1);
        } else if (event.shiftKey) {
            zoomTo(d);
        } else {
            raiseView(d.data.name, -1);
            zoomTo(d);
        }
    }

    function segmentClicked(d, marker) {
        if (d3.event.altKey && d.parent)
            raiseView(d.parent.data.name, marker);
        else if (Hierarchy.hasThumbnails(d.data))
            raiseView(d.data.name, marker);
    }

    function zoomTo(d) {
        if (!tree || !d)
            return;
        viewRoot = d;
        var xd = d3.interpolate(x.domain(), [d.x0, d.x1]);
        var yd = d3.interpolate(y.domain(), [d.depth, d.depth + d.height + 1]);
        chart.transition('zoom').duration(1000).tween('scale', function () {
            return function (t) {
                x.domain(xd(t));
                y.domain(yd(t));
                position();
            };
        });
        drawBreadcrumbs();
        drawIcon();
    }

    function drawBreadcrumbs() {
        crumbs.selectAll('*').remove();
        if (!viewRoot)
            return;
        var path = viewRoot.ancestors().reverse();
        var left = 120;
        path.forEach(function (d, index) {
            var label = String(d.data.name);
            var w = Math.ceil(label.width('12px arial')) + 30;
            var crumb = crumbs.append('g').attr('class', 'crumb')
                .attr('transform', 'translate(' + left + ',10)').on('click', function () { zoomTo(d); });
            crumb.append('polygon').attr('points', Hierarchy.breadcrumbPoints(w, index));
            crumb.append('text').attr('x', (w + (index > 0 ? 15 : 0)) / 2).attr('y', 15).attr('dy', '0.35em')
                .attr('text-anchor', 'middle').text(label);
            left += w + 18;
        });
    }

    // The whole tree at 100 pixels; the path to the view root is filled blue.
    function drawIcon() {
        icon.selectAll('*').remove();
        if (!tree)
            return;
        var onPath = viewRoot.ancestors();
        icon.append('g').attr('transform', shape.iconTransform).selectAll('path').data(tree.descendants())
            .enter().append('path').attr('class', 'iconSegment')
            .attr('d', function (d) { return shape.iconPath(d.x0, d.x1, d.depth, tree.height + 1); })
            .style('fill', function (d) { return onPath.indexOf(d) >= 0 ? 'rgb(60,150,250)' : '#F5F5F5'; })
            .on('click', function (d) {
                if (Hierarchy.hasThumbnails(d.data))
                    zoomTo(d);
            })
            .on('contextmenu', menu);
    }

    function showSegmentTooltip(d, marker) {
        tooltip.selectAll('*').remove();
        tooltip.append('div').attr('class', 'tooltipTitle').text(Hierarchy.markerName(_hierarchy.names, marker));
        var expression = (d.data.expression || [])[marker];
        var variation = (d.data.variation || [])[marker];
        tooltip.append('div').text('Expression: ' + Number(expression || 0).toFixed(3));
        tooltip.append('div').text('Std-Dev: ' + Number(variation || 0).toFixed(3));
        tooltip.style('display', 'block');
        moveTooltip();
    }

    function showMaxTooltip(d) {
        tooltip.selectAll('*').remove();
        if (d.data.maxMarker < 0)
            return;
        tooltip.append('div').attr('class', 'tooltipTitle').text('Max Variation: ' + d.data.maxName);
        var grid = tooltip.append('div').attr('class', 'tooltipHeatmap');
        _hierarchy.info.active.forEach(function (m) {
            var row = grid.append('div').attr('class', 'tooltipRow');
            row.append('span').attr('class', 'tooltipSquare')
                .style('background-color', _colorScale(markerValue(d.data, m)));
            row.append('span').text(Hierarchy.markerName(_hierarchy.names, m));
        });
        tooltip.style('display', 'block');
        moveTooltip();
    }

    function moveTooltip() {
        var event = d3.event;
        if (event && event.pageX !== undefined)
            tooltip.style('left', (event.pageX + 12) + 'px').style('top', (event.pageY + 12) + 'px');
    }

    function hideTooltip() {
        tooltip.style('display', 'none');
    }

    return { init: init, draw: draw, recolor: recolor, resize: resize, zoomTo: zoomTo,
             viewRoot: function () { return viewRoot; } };
}
