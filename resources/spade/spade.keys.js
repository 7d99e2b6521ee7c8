// Keys of the SPADE pages: Ctrl+A selects every node and Ctrl+D none (both
// reported); Escape closes the bubble name dialog.

function keyPressed() {
    var event = d3.event;
    if (bubbleDialogIsOpen()) {
        if (event.keyCode === 27)
            closeBubbleDialog();
        return;
    }
    if (!event.ctrlKey || event.altKey || event.shiftKey)
        return;
    if (event.keyCode === 65) {
        event.preventDefault();
        selectAll(true);
    } else if (event.keyCode === 68) {
        event.preventDefault();
        selectAll(false);
    }
}

function initKeys() {
    d3.select(window).on('keydown.spade', keyPressed);
}
