// Globals every analysis page shares. isQtAvailable turns false when the page
// runs without the program (no host object "Qt").
var isQtAvailable = true;
var circ = 2 * Math.PI;
var width = 500;
var height = 500;
