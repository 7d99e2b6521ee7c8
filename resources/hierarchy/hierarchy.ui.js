// The sunburst of the exploration tree: one ring per depth below the view
// root; every node has an id bar and a marker bar at its inner edge and,
// when it has thumbnails, a sector with them stacked beyond the bars. The
// view root's bars lie at its outer edge.

var sunburstShape = (function () {
    var arc = d3.arc();

    function ring(a0, a1, r0, r1, corner) {
        return arc.cornerRadius(corner || 0)({ startAngle: a0, endAngle: a1, innerRadius: Math.max(0, r0),
                                               outerRadius: Math.max(0, r1) });
    }

    return {
        layout: function (w, h) {
            var l = Hierarchy.sunburstLayout(w, h);
            return { originX: l.cx, originY: l.cy, xSpan: circ, ySpan: l.radius };
        },
        // Angles a0..a1, radii r0..r1.
        geometry: function (a0, a1, r0, r1, centre) {
            var bars = centre ? Math.max(0, r1 - Hierarchy.BAR_DEPTH) : r0;
            var sector0 = centre ? 0 : Math.min(r1, r0 + Hierarchy.BAR_DEPTH);
            var middle = (a0 + a1) / 2;
            var distance = centre ? 0 : (sector0 + r1) / 2;
            var markerInner = bars + Hierarchy.ID_BAR_DEPTH;
            var markerOuter = bars + Hierarchy.BAR_DEPTH;
            return {
                visible: a1 > a0 && r1 > r0,
                sector: ring(a0, a1, sector0, r1),
                diameter: Hierarchy.thumbnailDiameter(a0, a1, sector0, r1, centre),
                thumbX: Math.sin(middle) * distance,
                thumbY: -Math.cos(middle) * distance,
                idBar: ring(a0, a1, bars, markerInner, 10),
                markerBar: function (k, count) {
                    var step = (a1 - a0) / count;
                    return ring(a0 + k * step, a0 + (k + 1) * step, markerInner, markerOuter);
                },
                segmentsFit: function (count) {
                    return Hierarchy.segmentsFit(a0, a1, (markerInner + markerOuter) / 2, count);
                }
            };
        },
        iconTransform: 'translate(50,50)',
        iconPath: function (x0, x1, depth, depths) {
            return ring(x0 * circ, x1 * circ, depth * 50 / depths, (depth + 1) * 50 / depths);
        }
    };
})();

var hierarchyView = createHierarchyView(sunburstShape, true);
