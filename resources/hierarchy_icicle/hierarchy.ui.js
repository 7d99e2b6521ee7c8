// The icicle of the exploration tree: one row of rectangles per depth below
// the view root; every node has its id bar and marker bar along its top and,
// when it has thumbnails, a sector with them below the bars.

var icicleShape = (function () {
    function rect(x0, x1, y0, y1) {
        var w = Math.max(0, x1 - x0);
        var h = Math.max(0, y1 - y0);
        return 'M' + x0 + ',' + y0 + 'h' + w + 'v' + h + 'h' + -w + 'Z';
    }

    return {
        layout: function (w, h) {
            var l = Icicle.icicleLayout(w, h);
            return { originX: l.left, originY: l.top, xSpan: l.width, ySpan: l.height };
        },
        // Columns x0..x1, rows y0..y1 (below the origin).
        geometry: function (x0, x1, y0, y1) {
            var markerTop = Math.min(y1, y0 + Hierarchy.ID_BAR_DEPTH);
            var sector0 = Math.min(y1, y0 + Hierarchy.BAR_DEPTH);
            return {
                visible: x1 > x0 && y1 > y0,
                sector: rect(x0, x1, sector0, y1),
                diameter: Icicle.thumbnailSide(x1 - x0, y1 - sector0),
                thumbX: (x0 + x1) / 2,
                thumbY: (sector0 + y1) / 2,
                idBar: rect(x0, x1, y0, markerTop),
                markerBar: function (k, count) {
                    var step = (x1 - x0) / count;
                    return rect(x0 + k * step, x0 + (k + 1) * step, markerTop, sector0);
                },
                segmentsFit: function (count) {
                    return count > 0 && (x1 - x0) / count >= 2;
                }
            };
        },
        iconTransform: 'translate(0,0)',
        iconPath: function (x0, x1, depth, depths) {
            return rect(x0 * 100, x1 * 100, depth * 100 / depths, (depth + 1) * 100 / depths);
        }
    };
})();

var hierarchyView = createHierarchyView(icicleShape, false);
