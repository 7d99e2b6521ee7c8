// The bottom drawer, the colour legend with its map chooser, the context
// menus and the exports every analysis page offers. Pages provide the
// elements (#ui with #uihover and #drawer, #legend with #legendActive and
// #legendAll, #mainView) and call initDrawer() and initLegend() once their
// markup exists.

var _drawerShown = false;
var _legendShown = false;
// The map pressed last; a release chooses a map only after a press on it.
var _legendPressed = -1;
var _legendBarWidth = 24;
var _legendBarHeight = 168;
var _legendBarGap = 10;

function initDrawer() {
    var ui = d3.select('#ui');
    d3.select('#uihover')
        .on('mouseover', function () {
            if (!_drawerShown)
                ui.transition().duration(300).style('bottom', '-95px');
        })
        .on('mouseout', function () {
            if (!_drawerShown)
                ui.transition().duration(300).style('bottom', '-110px');
        });
    var bars = d3.select('#drawer').append('svg').attr('width', 40).attr('height', 14);
    bars.append('rect').attr('class', 'drawerBar').attr('id', 'drawerBarLeft')
        .attr('x', 2).attr('y', 6).attr('width', 18).attr('height', 3);
    bars.append('rect').attr('class', 'drawerBar').attr('id', 'drawerBarRight')
        .attr('x', 20).attr('y', 6).attr('width', 18).attr('height', 3);
    d3.select('#drawer').on('mousedown', toggleDrawer);
}

function toggleDrawer() {
    _drawerShown = !_drawerShown;
    d3.select('#ui').transition().duration(500).style('bottom', _drawerShown ? '0px' : '-110px');
    var angle = _drawerShown ? 15 : 0;
    d3.select('#drawerBarLeft').transition().duration(500).attr('transform', 'rotate(' + angle + ', 20, 7.5)');
    d3.select('#drawerBarRight').transition().duration(500).attr('transform', 'rotate(' + -angle + ', 20, 7.5)');
}

function legendFill(index) {
    var stepped = _discreteColormap && index !== _qualitativeColormap;
    return 'url(#' + _colormapNames[index] + (stepped ? '_discrete' : '') + ')';
}

function initLegend() {
    var active = d3.select('#legendActive').append('svg')
        .attr('width', _legendBarWidth).attr('height', _legendBarHeight);
    appendColormapGradients(active.append('defs'));
    active.append('rect').attr('class', 'legendBar')
        .attr('width', _legendBarWidth).attr('height', _legendBarHeight);

    var count = _colormapNames.length;
    var all = d3.select('#legendAll').append('svg')
        .attr('width', count * _legendBarWidth + (count - 1) * _legendBarGap).attr('height', _legendBarHeight);
    all.selectAll('rect').data(d3.range(count)).enter().append('rect')
        .attr('class', 'legendBar legendChoice')
        .attr('x', function (index) { return index * (_legendBarWidth + _legendBarGap); })
        .attr('width', _legendBarWidth).attr('height', _legendBarHeight)
        .on('mousedown', function (index) {
            _legendPressed = index;
            d3.event.stopPropagation();
        })
        .on('mouseup', function (index) {
            if (index === _legendPressed)
                leftClickColormap(index);
            _legendPressed = -1;
        });

    d3.select('#legend').on('mousedown', function () { showLegendSelector(!_legendShown); });
    updateLegendUi(false);
}

function showLegendSelector(show) {
    _legendShown = show;
    d3.select('#legend').transition().duration(500)
        .style('right', show ? '10px' : '-490px')
        .style('background-color', show ? 'rgba(255, 255, 255, 0.75)' : 'rgba(255, 255, 255, 0.25)');
}

// Fills the legend for the active map and the discrete flag; hides the map
// chooser when asked.
function updateLegendUi(hide) {
    d3.select('#legendActive').selectAll('rect').attr('fill', legendFill(_activeColormap));
    d3.select('#legendAll').selectAll('rect').attr('fill', function (index) { return legendFill(index); });
    if (hide && _legendShown)
        showLegendSelector(false);
}

// A context-menu listener for the entries (a list, or a function of the
// element's datum) that keeps the menu inside the window: a menu that would
// reach past an edge is moved back inside it.
// It is measured at the window's left end, where it has its natural width
// (the browser narrows a menu that opens near the right edge). A menu taller
// than the window fills its height and scrolls; a scroll bar that is always
// shown is added to the menu's width, so no entry wraps.
function contextMenuInside(entries) {
    var open = d3.contextMenu(entries);
    return function (datum, index) {
        open.call(this, datum, index);
        var menu = d3.select('.d3-context-menu');
        var node = menu.node();
        var left = parseFloat(node.style.left), top = parseFloat(node.style.top);
        menu.style('left', '0px').style('max-height', null).style('overflow-y', null);
        var frame = node.offsetHeight - node.clientHeight;
        if (node.offsetHeight > window.innerHeight)
            menu.style('max-height', (window.innerHeight - frame) + 'px').style('overflow-y', 'scroll');
        node.scrollTop = 0;
        var x = window.pageXOffset, y = window.pageYOffset;
        menu.style('left', Math.max(x, Math.min(left, x + window.innerWidth - node.offsetWidth)) + 'px')
            .style('top', Math.max(y, Math.min(top, y + window.innerHeight - node.offsetHeight)) + 'px');
    };
}

// Save dialogs run modally inside a menu entry's call: the menu goes first.
function hideContextMenu() {
    d3.select('.d3-context-menu').style('display', 'none');
}

// The markup serialiser writes an xlink attribute set without its prefix
// (as d3 sets "xlink:href") as "NS1:href" and declares no NS1; given the
// prefix "xlink", it writes "xlink:href", which the saved image declares.
function prefixXlinkAttributes(root) {
    var xlink = 'http://www.w3.org/1999/xlink';
    Array.prototype.forEach.call(root.querySelectorAll('*'), function (element) {
        Array.prototype.slice.call(element.attributes).forEach(function (attribute) {
            if (attribute.namespaceURI !== xlink || attribute.prefix === 'xlink')
                return;
            var name = attribute.localName, value = attribute.value;
            element.removeAttributeNS(xlink, name);
            element.setAttributeNS(xlink, 'xlink:' + name, value);
        });
    });
}

function printSVG() {
    if (!isQtAvailable)
        return;
    var mainView = document.getElementById('mainView');
    prefixXlinkAttributes(mainView);
    Qt.js_saveSVG(mainView.innerHTML);
}

function printJSON() {
    if (isQtAvailable)
        Qt.js_saveJSON();
}
