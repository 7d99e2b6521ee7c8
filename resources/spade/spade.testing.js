// Without the program (an ordinary browser) the page offers buttons that
// load the sample data sets of debug_data.js, and on the slave page their
// sample positions.

function initTesting(withPositions) {
    var panel = d3.select('body').append('div').attr('id', 'testing');
    _debug_data_.forEach(function (text, index) {
        var data;
        try {
            data = JSON.parse(text);
        } catch (error) {
            return;
        }
        if (Array.isArray(data.nodes))
            panel.append('button').text('Data ' + (index + 1)).on('click', function () { setData(text); });
    });
    if (withPositions)
        panel.append('button').text('Positions').on('click', function () { setPositions(_debug_data_positions); });
}
