// The dendrogram: a hierarchical clustering of the clusters over their active
// markers' values orders the columns and is drawn above them.

// Distances this large stand for "no distance": drawn at 0, without a label.
var _noDistance = 99999999.9;
var _dendrogramTree = null;
var _dendrogramKey = null;

// ---------------------------------------------------------------------------
// DOM-free rules

// Per cluster, its values of the active markers, in marker order.
function clusterVectors(nodes, flags, markerCount) {
    return nodes.map(function (node) {
        var vector = [];
        for (var m = 0; m < markerCount; ++m)
            if (flags[m])
                vector.push(node.expression[m]);
        return vector;
    });
}

// Cluster indices of the tree's leaves in the order of a depth-first walk
// that visits the right subtree before the left one.
function leafOrder(root) {
    var order = [];
    var stack = root ? [root] : [];
    while (stack.length) {
        var node = stack.pop();
        if (node.left === undefined) {
            order.push(node.index);
        } else {
            stack.push(node.left);
            stack.push(node.right);
        }
    }
    return order;
}

function effectiveDistance(dist) {
    return dist >= _noDistance ? 0 : dist;
}

// The tree laid out over `width` pixels: d3's cluster layout with every leaf
// one column wide, so leaf k stands over the centre of display position k
// when the leaves are in leafOrder. A node's y is its merge distance, from
// 120 (distance 0, the leaves) up to 20 (the rounded-up root distance).
function dendrogramLayout(root, width) {
    var hierarchy = d3.hierarchy(root, function (node) {
        return node.left === undefined ? null : [node.right, node.left];
    });
    d3.cluster().separation(function () { return 1; }).size([width, 100])(hierarchy);
    var top = Math.round(effectiveDistance(root.dist || 0) + 0.49);
    var y = d3.scaleLinear().domain([0, top]).range([_dendrogramBand, 20]);
    hierarchy.each(function (node) {
        node.y = y(node.children ? effectiveDistance(node.data.dist) : 0);
    });
    return hierarchy;
}

// The merge nodes that carry a distance label, with the label's place: 2
// pixels above the node, 20 pixels left for a parent's first child and right
// for its second; the root's label stays over it.
function dendrogramLabels(hierarchy) {
    var labels = [];
    hierarchy.each(function (node) {
        if (!node.children || node.data.dist >= _noDistance)
            return;
        var shift = 0;
        if (node.parent)
            shift = node.parent.children[0] === node ? -20 : 20;
        labels.push({ x: node.x + shift, y: node.y - 2, text: node.data.dist.toFixed(2) });
    });
    return labels;
}

// ---------------------------------------------------------------------------
// Page state

// The clustering of the shown data over the active markers, made once per
// data and marker selection; null for fewer than two clusters.
function dendrogramTree() {
    if (!_data || clusterCount() < 2)
        return null;
    var key = _dataVersion + ':' + _markerSelection.join();
    if (key !== _dendrogramKey) {
        _dendrogramKey = key;
        _dendrogramTree = clusterfck.hcluster(clusterVectors(_data.nodes, _markerSelection, markerCount()),
                                              'euclidean');
    }
    return _dendrogramTree;
}

function dendrogramOrder() {
    var root = dendrogramTree();
    return root ? leafOrder(root) : null;
}

function elbow(link) {
    return 'M' + link.source.x + ',' + link.source.y + 'H' + link.target.x + 'V' + link.target.y;
}

function drawDendrogram(duration) {
    var group = d3.select('#dendrogram');
    var root = _showDendrogram ? dendrogramTree() : null;
    group.attr('visibility', root ? 'visible' : 'hidden');
    if (!root) {
        group.selectAll('*').remove();
        return;
    }
    group.attr('transform', 'translate(' + _geometry.left + ',0)');
    var hierarchy = dendrogramLayout(root, _geometry.heatmapWidth);

    var links = group.selectAll('path.dendrogramLink').data(hierarchy.links());
    links.exit().remove();
    links.enter().append('path').attr('class', 'dendrogramLink').attr('d', elbow);
    transitionOf(links, duration).attr('d', elbow);

    var labels = group.selectAll('text.dendrogramLabel')
        .data(_showDendrogramLabels ? dendrogramLabels(hierarchy) : []);
    labels.exit().remove();
    labels.enter().append('text').attr('class', 'dendrogramLabel').attr('text-anchor', 'middle')
        .merge(labels)
        .attr('x', function (label) { return label.x; })
        .attr('y', function (label) { return label.y; })
        .text(function (label) { return label.text; });
}
