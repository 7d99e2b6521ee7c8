// The slave SPADE page: no layout of its own; the nodes stand where the
// master page last reported them. Drawing and interaction: spade.ui.js.

// Nodes are shown once they have a place.
spadePage.layout = function () {
    if (!graph)
        return;
    var placed = graph.nodes.every(function (node) { return isFinite(node.x) && isFinite(node.y); });
    d3.select('#graph').style('visibility', placed ? null : 'hidden');
    if (placed)
        redraw();
};

// A positions report of the master page; one of another length is ignored.
function setPositions(text) {
    if (!graph)
        return;
    var positions = parsePositions(text, graph.nodes.length);
    if (!positions)
        return;
    xScale.domain(layoutDomain(positions.map(function (p) { return p.px; })));
    yScale.domain(layoutDomain(positions.map(function (p) { return p.py; })));
    graph.nodes.forEach(function (node, index) {
        node.index = index;
        node.x = positions[index].px;
        node.y = positions[index].py;
    });
    spadePage.layout();
}

initView();
try {
    Qt.qt_setData.connect(setData);
    Qt.qt_setPositions.connect(setPositions);
} catch (error) {
    isQtAvailable = false;
    log('could not connect qt');
}
if (!isQtAvailable)
    initTesting(true);
