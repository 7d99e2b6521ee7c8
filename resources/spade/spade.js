// The master SPADE page: lays the tree out with a force simulation, lets the
// user drag the selected nodes and reports the node positions after every
// layout step. Drawing and interaction: spade.ui.js.

var simulation = null;

spadePage.isMaster = true;

// New data starts a new layout; a new window size restarts the running one.
spadePage.layout = function () {
    if (!graph)
        return;
    if (simulation && simulation.nodes() === graph.nodes) {
        simulation.alpha(1).restart();
        return;
    }
    if (simulation)
        simulation.stop();
    simulation = d3.forceSimulation(graph.nodes)
        .force('link', d3.forceLink(graph.links))
        .force('collide', d3.forceCollide(function (node) { return node.radius; }))
        .force('charge', d3.forceManyBody())
        .alphaDecay(0.01)
        .on('tick', layoutTicked);
};

// The tree always fills the layout square. The report comes last: the
// program may answer it with new data.
function layoutTicked() {
    fitScalesToNodes();
    redraw();
    if (isQtAvailable)
        Qt.nodePositionsUpdated(positionsText(graph.nodes));
}

// Layout units per pixel of pointer movement.
function layoutDelta(scale, pixels) {
    return scale.invert(pixels) - scale.invert(0);
}

spadePage.attachDrag = function (nodeGroups) {
    nodeGroups.call(d3.drag()
        .on('start', function () { simulation.alphaTarget(0.25).restart(); })
        .on('drag', function () {
            var dx = layoutDelta(xScale, d3.event.dx);
            var dy = layoutDelta(yScale, d3.event.dy);
            selectedNodes().forEach(function (node) {
                node.fx = (node.fx === null || node.fx === undefined ? node.x : node.fx) + dx;
                node.fy = (node.fy === null || node.fy === undefined ? node.y : node.fy) + dy;
                node.fixed = true;
            });
            updateNodeClasses();
        })
        .on('end', function () { simulation.alphaTarget(0).alpha(0.5).restart(); }));
};

spadePage.fixTreeChanged = function (on) {
    if (!graph || !simulation)
        return;
    if (on) {
        graph.nodes.forEach(function (node) {
            node.fx = node.x;
            node.fy = node.y;
        });
        simulation.stop();
    } else {
        graph.nodes.forEach(function (node) {
            if (!node.fixed) {
                node.fx = null;
                node.fy = null;
            }
        });
        simulation.alpha(0.5).restart();
    }
};

spadePage.pinReleased = function () {
    if (simulation && !fixTree)
        simulation.alpha(0.5).restart();
};

initView();
try {
    Qt.qt_setData.connect(setData);
} catch (error) {
    isQtAvailable = false;
    log('could not connect qt');
}
if (!isQtAvailable)
    initTesting(false);
