// The pages' colour maps: thirteen sequential maps and one qualitative one,
// each with a discrete variant of ten colours, the active map, and the
// colour scales built from it.

var _colormapNames = ['spectral', 'RdYlBu', 'PiYG', 'PuOr', 'Magma', 'Plasma', 'Viridis', 'RdPu', 'YlGnBu',
                      'GnBu', 'BuPu', 'YlOrRd', 'Reds', 'Qual'];
var _qualitativeColormap = 13;
// The first four maps run from high to low values.
var _reversedColormaps = 4;
var _colormaps = [d3.interpolateSpectral, d3.interpolateRdYlBu, d3.interpolatePiYG, d3.interpolatePuOr,
                  d3.interpolateMagma, d3.interpolatePlasma, d3.interpolateViridis, d3.interpolateRdPu,
                  d3.interpolateYlGnBu, d3.interpolateGnBu, d3.interpolateBuPu, d3.interpolateYlOrRd,
                  d3.interpolateReds, null];
var _colormapsDiscrete = _colormaps.map(function (interpolate, index) {
    if (index === _qualitativeColormap)
        return d3.schemeSet3.slice(0, 10);
    var colors = d3.range(10).map(function (j) { return interpolate(j / 9); });
    return index < _reversedColormaps ? colors.reverse() : colors;
});

var _activeColormap = 6;
var _discreteColormap = false;

// Bounds of the page's colour scale, set by the page's range slider.
var _markerUserBounds = [-1.0, 99999999999.0];
// Pages that colour by two markers keep the bounds of each shown marker here.
var _dualMarkerUserBounds = [[-1.0, 99999999999.0], [-1.0, 99999999999.0]];

function isStepped() {
    return _discreteColormap || _activeColormap === _qualitativeColormap;
}

// A colour scale of the active map over the domain [low, high].
function activeColormapWithCustomDomain(domain) {
    if (isStepped())
        return d3.scaleQuantize().domain(domain).range(_colormapsDiscrete[_activeColormap]);
    var ordered = _activeColormap < _reversedColormaps ? [domain[1], domain[0]] : domain;
    return d3.scaleSequential(_colormaps[_activeColormap]).domain(ordered);
}

var _colorScale = activeColormapWithCustomDomain(_markerUserBounds);
var _dualColorScales = _dualMarkerUserBounds.map(activeColormapWithCustomDomain);

function refreshColormaps() {
    _colorScale = activeColormapWithCustomDomain(_markerUserBounds);
    _dualColorScales = _dualMarkerUserBounds.map(activeColormapWithCustomDomain);
}

// Makes map idx active (an index outside the list is ignored), refreshes the
// legend (hiding the map chooser when asked) and rebuilds the scales.
function setColormap(idx, hide) {
    if (idx >= 0 && idx < _colormapNames.length)
        _activeColormap = idx;
    if (typeof updateLegendUi === 'function')
        updateLegendUi(hide);
    refreshColormaps();
}

function setDiscreteColormap(discrete) {
    _discreteColormap = !!discrete;
    setColormap(_activeColormap, false);
}

// Colour of map idx at the share t (0 low, 1 high) of the domain.
function colormapColor(idx, t) {
    if (idx === _qualitativeColormap)
        return _colormapsDiscrete[idx][Math.min(9, Math.floor(t * 10))];
    return _colormaps[idx](idx < _reversedColormaps ? 1 - t : t);
}

// Appends to an SVG defs selection one vertical gradient per map (low at the
// bottom): the smooth one under the map's name and a stepped one, ten colours
// each held over a tenth, under the name plus "_discrete".
function appendColormapGradients(defs) {
    _colormapNames.forEach(function (name, index) {
        var smooth = index === _qualitativeColormap ? steppedStops(index) : d3.range(10).map(function (j) {
            return { offset: j / 9, color: colormapColor(index, j / 9) };
        });
        appendGradient(defs, name, smooth);
        appendGradient(defs, name + '_discrete', steppedStops(index));
    });
}

function steppedStops(index) {
    var stops = [];
    _colormapsDiscrete[index].forEach(function (color, j) {
        stops.push({ offset: j / 10, color: color }, { offset: (j + 1) / 10, color: color });
    });
    return stops;
}

function appendGradient(defs, id, stops) {
    var gradient = defs.append('linearGradient').attr('id', id)
        .attr('x1', '0%').attr('y1', '100%').attr('x2', '0%').attr('y2', '0%');
    stops.forEach(function (stop) {
        gradient.append('stop').attr('offset', (stop.offset * 100) + '%').attr('stop-color', stop.color);
    });
}
