// The icicle variant's geometry, DOM-free: the tree as rows of rectangles
// below the breadcrumbs, one row per depth below the view root.

var Icicle = (function () {
    var TOP = 50;

    function icicleLayout(width, height) {
        return { left: 0, top: TOP, width: width, height: Math.max(0, height - TOP) };
    }

    // Row `row` of `rows` rows.
    function rowExtent(layout, row, rows) {
        var step = layout.height / rows;
        return { y0: layout.top + row * step, y1: layout.top + (row + 1) * step };
    }

    // Side of the stacked thumbnails in a sector w x h.
    function thumbnailSide(w, h) {
        return Math.max(0, 0.9 * Math.min(w, h));
    }

    return { TOP: TOP, icicleLayout: icicleLayout, rowExtent: rowExtent, thumbnailSide: thumbnailSide };
})();

if (typeof module !== 'undefined' && module.exports)
    module.exports = Icicle;
