// The heat map's controls: the host connection, the data chooser, the drawer
// with its switches and range slider, the context menu, the rename dialog and
// the test buttons shown without the program.

var _renameCluster = -1;

// ---------------------------------------------------------------------------
// Calls to the program, each only with the host object

function reportSelection() {
    if (isQtAvailable)
        Qt.js_selectionUpdated(_selection.slice());
}

function reportHighlight(cluster) {
    if (isQtAvailable)
        Qt.js_highlightUpdated(cluster);
}

function connectToQt() {
    try {
        Qt.qt_setData.connect(setData);
        Qt.qt_setSelection.connect(setSelection);
        Qt.qt_setHighlight.connect(setHighlight);
        Qt.qt_addAvailableData.connect(addAvailableData);
        Qt.qt_setMarkerSelection.connect(initMarkerSelection);
    } catch (error) {
        isQtAvailable = false;
        log('could not connect qt');
    }
}

// ---------------------------------------------------------------------------
// Data chooser: a disabled placeholder, then the names in arrival order.

function rebuildChooser() {
    var chooser = d3.select('#dataChooser');
    var options = chooser.selectAll('option.dataSet').data(_availableDataSets);
    options.enter().append('option').attr('class', 'dataSet')
        .merge(options)
        .attr('value', function (name, index) { return index; })
        .text(function (name) { return name; });
    options.exit().remove();
    chooser.property('selectedIndex', _chosenDataSet + 1);
}

function chooseDataSet() {
    var index = d3.select('#dataChooser').property('selectedIndex') - 1;
    if (index < 0 || index >= _availableDataSets.length)
        return;
    _chosenDataSet = index;
    if (isQtAvailable)
        Qt.js_selectData(_availableDataSets[index]);
}

// ---------------------------------------------------------------------------
// Drawer: switches and the colour range slider

function syncSwitch(id, on) {
    var input = document.getElementById(id);
    if (!input)
        return;
    input.checked = on;
    var label = input.parentNode;
    if (label && label.MaterialSwitch)
        label.MaterialSwitch[on ? 'on' : 'off']();
}

function initSwitches() {
    d3.select('#switchVariation').on('change', function () { setVariation(this.checked); });
    d3.select('#switchDendrogram').on('change', function () { setDendrogram(this.checked); });
    d3.select('#switchLabels').on('change', function () { setDendrogramLabels(this.checked); });
    syncSwitch('switchLabels', _showDendrogramLabels);
}

// Builds the range slider anew over the current range and bounds.
function rebuildSlider() {
    var element = document.getElementById('rangeSlider');
    if (element.noUiSlider)
        element.noUiSlider.destroy();
    var span = sliderSpan(_markerRange);
    noUiSlider.create(element, {
        start: _markerUserBounds.slice(),
        connect: true,
        behaviour: 'tap-drag',
        range: { min: span[0], max: span[1] },
        pips: { mode: 'positions', values: [0, 25, 50, 75, 100], density: 5, format: wNumb({ decimals: 2 }) }
    });
    element.noUiSlider.on('slide', function (values) {
        _markerUserBounds = [Number(values[0]), Number(values[1])];
        refreshColormaps();
        recolor();
    });
    updateLegendLabels();
}

// A map chosen in the legend recolours the cells.
function leftClickColormap(index) {
    setColormap(index, true);
    recolor();
}

// ---------------------------------------------------------------------------
// Context menu

function contextMenuItems() {
    var items = [];
    if (isQtAvailable && countSelected(_selection) > 1) {
        items.push({ title: 'Merge Selected Clusters', action: mergeSelectedClusters }, { divider: true });
    }
    items.push({ title: 'Toggle Marker Selection', action: function () { setMarkerSelectionMode(!_markerSelectionMode); } },
               { title: 'Toggle Variation', action: function () { setVariation(!_showVariation); } },
               { title: 'Toggle Dendrogram', action: function () { setDendrogram(!_showDendrogram); } },
               { title: 'Toggle Dendrogram Labels', action: function () { setDendrogramLabels(!_showDendrogramLabels); } });
    if (isQtAvailable) {
        items.push({ divider: true },
                   { title: 'Save Clusters as FCS...', action: hidingMenu(function () { Qt.js_saveClusters(); }) },
                   { title: 'Save Cell Origins as CSV ...', action: hidingMenu(function () { Qt.js_saveStatistics(); }) },
                   { divider: true },
                   { title: 'Save Heatmap as Image ...', action: hidingMenu(printSVG) },
                   { title: 'Save Heatmap as CSV ...', action: hidingMenu(function () { Qt.js_saveCSV(); }) });
    }
    return items;
}

// A save entry's action, run once the menu is hidden.
function hidingMenu(action) {
    return function () {
        hideContextMenu();
        action();
    };
}

function mergeSelectedClusters() {
    _mergeRemembered = _selection.indexOf(1);
    hideContextMenu();
    Qt.js_mergeClusters(_selection.slice());
}

// ---------------------------------------------------------------------------
// Rename dialog

function isRenameDialogOpen() {
    return _renameCluster >= 0;
}

function openRenameDialog(cluster) {
    _renameCluster = cluster;
    var field = document.getElementById('renameField');
    field.value = _data.nodes[cluster].name;
    d3.select('#renameOverlay').style('display', 'block');
    updateRenameButton();
    field.focus();
    field.select();
}

function closeRenameDialog() {
    _renameCluster = -1;
    d3.select('#renameOverlay').style('display', 'none');
}

function updateRenameButton() {
    d3.select('#renameSave').property('disabled', !document.getElementById('renameField').value.length);
}

function saveRename() {
    var name = document.getElementById('renameField').value;
    if (!name.length || _renameCluster < 0)
        return;
    var cluster = _renameCluster;
    closeRenameDialog();
    if (isQtAvailable)
        Qt.js_setSubsetName(cluster, name);
}

function initRenameDialog() {
    d3.select('#renameField')
        .on('input', updateRenameButton)
        .on('keydown', function () {
            if (d3.event.keyCode === 13)
                saveRename();
        });
    d3.select('#renameSave').on('click', saveRename);
    d3.select('#renameCancel').on('click', closeRenameDialog);
}

// ---------------------------------------------------------------------------
// Start

function initTestButtons() {
    if (isQtAvailable)
        return;
    d3.select('#testButtons').style('display', 'inline').selectAll('button')
        .data(_debug_data_.filter(function (text) { return JSON.parse(text).nodes !== undefined; }))
        .enter().append('button')
        .text(function (text, index) { return 'Test Data ' + (index + 1); })
        .on('click', function (text) { setData(text); });
}

function initPage() {
    connectToQt();
    d3.select('#dataChooser').on('change', chooseDataSet);
    d3.select('#heatmapSvg').on('contextmenu', contextMenuInside(contextMenuItems));
    initSwitches();
    initRenameDialog();
    initKeys();
    initDrawer();
    initLegend();
    initTestButtons();
    rebuildSlider();
    d3.select(window).on('resize', function () { layout(0); });
    layout(0);
}
