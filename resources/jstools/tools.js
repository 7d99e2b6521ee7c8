// Logging, error reporting and small helpers shared by the analysis pages.

function log(text) {
    if (isQtAvailable && typeof Qt !== 'undefined')
        Qt.js_debug(String(text));
    else
        console.log(String(text));
}

window.onerror = function (message, url, line) {
    log('Error: ' + message + '\nURL: ' + url + '\nLine: ' + line);
};

function clamp(min, val, max) {
    return Math.min(Math.max(val, min), max);
}

// The text as a CSS identifier that selects exactly it ('#' + cssSanitize(id)),
// escaped by the CSSOM rules for serialising an identifier.
function cssSanitize(str) {
    var text = String(str);
    var out = '';
    for (var i = 0; i < text.length; ++i) {
        var code = text.charCodeAt(i);
        var c = text.charAt(i);
        var isDigit = code >= 0x30 && code <= 0x39;
        if (code === 0)
            out += '\uFFFD';
        else if ((code >= 0x01 && code <= 0x1F) || code === 0x7F
                 || (i === 0 && isDigit) || (i === 1 && isDigit && text.charCodeAt(0) === 0x2D))
            out += '\\' + code.toString(16) + ' ';
        else if (i === 0 && c === '-' && text.length === 1)
            out += '\\-';
        else if (code >= 0x80 || c === '-' || c === '_' || isDigit
                 || (code >= 0x41 && code <= 0x5A) || (code >= 0x61 && code <= 0x7A))
            out += c;
        else
            out += '\\' + c;
    }
    return out;
}

// Pixel width of the text in the font (default "12px arial"), measured in a
// hidden element that holds the text as text.
String.prototype.width = function (font) {
    var element = document.createElement('div');
    element.textContent = String(this);
    element.style.position = 'absolute';
    element.style.float = 'left';
    element.style.whiteSpace = 'nowrap';
    element.style.visibility = 'hidden';
    element.style.font = font || '12px arial';
    document.body.appendChild(element);
    var result = element.getBoundingClientRect().width;
    document.body.removeChild(element);
    return result;
};
