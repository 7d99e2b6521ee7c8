// Keys: left and right move a single selected cluster to the neighbouring
// column, up selects the last column and down the first.

var _keyLeft = 37;
var _keyUp = 38;
var _keyRight = 39;
var _keyDown = 40;

// The cluster a key selects, or -1 for none: `positions` are the display
// positions, `selection` the 0/1 flags.
function clusterForKey(key, positions, selection) {
    var count = positions.length;
    var selectedCount = countSelected(selection);
    if (!count || selectedCount > 1)
        return -1;
    var order = [];
    for (var c = 0; c < count; ++c)
        order[positions[c]] = c;
    if (key === _keyUp)
        return order[count - 1];
    if (key === _keyDown)
        return order[0];
    if (selectedCount === 0 || (key !== _keyLeft && key !== _keyRight))
        return -1;
    var current = positions[selection.indexOf(1)];
    var next = current + (key === _keyLeft ? -1 : 1);
    return next >= 0 && next < count ? order[next] : -1;
}

function onKeyDown() {
    var event = d3.event;
    var target = event.target;
    if (!_data || isRenameDialogOpen() || (target && /^(INPUT|SELECT|TEXTAREA)$/.test(target.tagName)))
        return;
    var key = event.keyCode;
    if (key !== _keyLeft && key !== _keyRight && key !== _keyUp && key !== _keyDown)
        return;
    event.preventDefault();
    var cluster = clusterForKey(key, _sorting, _selection);
    if (cluster < 0)
        return;
    for (var c = 0; c < _selection.length; ++c)
        _selection[c] = c === cluster ? 1 : 0;
    reportSelection();
    layout(key === _keyUp || key === _keyDown ? 750 : 200);
}

function initKeys() {
    d3.select('body').on('keydown', onKeyDown);
}
