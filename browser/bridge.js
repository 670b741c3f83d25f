// The compatibility script that the page window's host injects into every document it shows (at
// document creation, main world), before any script of the page runs. It gives the pages what
// they were written for:
//   - VBArray, the object through which the program's array calls reach a page;
//   - window.navigate(url): an "app:" URL is a synchronous call to the program, which runs the
//     command (modal boxes and child page windows included) and answers with the page calls it
//     made meanwhile; they are run here, in order, before window.navigate returns. Any other URL
//     is an ordinary navigation;
//   - alert(), confirm() and prompt() as the same synchronous calls, so their boxes open from the
//     program's event loop.
// Only documents served by the program's `res` scheme get the token that the program requires
// with every call (the host puts it in place of the placeholder below); any other document gets
// nothing done.
//
// Page calls carry sequence numbers. One can reach the page both ways, with a bridge answer and
// through __kbrRun (the program's runJavaScript), and runs once.
(function () {
'use strict';
if (window.__kbrHost) return;
Object.defineProperty(window, '__kbrHost', { value: true });
var token = location.protocol === 'res:' ? '@TOKEN@' : '';

function VBArray(source) {
    if (!(this instanceof VBArray)) return new VBArray(source);
    var items = source instanceof VBArray ? source.toArray()
              : (source && typeof source.length === 'number') ? Array.prototype.slice.call(source) : [];
    Object.defineProperty(this, '_items', { value: items });
}
function checkDimension(d) {
    if (d !== undefined && d !== 1) throw new RangeError('Subscript out of range');
}
VBArray.prototype.toArray = function () { return this._items.slice(); };
VBArray.prototype.getItem = function (i) {
    if (typeof i !== 'number' || i < 0 || i >= this._items.length || i % 1 !== 0) throw new RangeError('Subscript out of range');
    return this._items[i];
};
VBArray.prototype.lbound = function (d) { checkDimension(d); return 0; };
VBArray.prototype.ubound = function (d) { checkDimension(d); return this._items.length - 1; };
VBArray.prototype.dimensions = function () { return 1; };
window.VBArray = VBArray;

// The program's page calls, each with its sequence number: `ranTo` is the last one run through
// __kbrRun (they come in order), `outcomes` holds the outcomes of those run from a bridge answer
// until the program reads them, so a call that reaches the page both ways runs once.
var calls = { ranTo: 0, outcomes: Object.create(null) };
function runCall(name, args, asArray) {
    var f = window[name];
    if (typeof f !== 'function') return { ran: false };
    try {
        var r = asArray ? f.call(window, new VBArray(args)) : f.apply(window, args);
        return { ran: true, result: typeof r === 'string' ? r : '' };
    } catch (e) {
        return { ran: false, error: String(e && e.message || e) };
    }
}
Object.defineProperty(window, '__kbrRun', { value: function (seq, name, args, asArray, collectOnly) {
    if (seq in calls.outcomes) {
        var o = calls.outcomes[seq];
        delete calls.outcomes[seq];
        return o;
    }
    if (collectOnly || seq <= calls.ranTo) return { ran: false };
    calls.ranTo = seq;
    return runCall(name, args, asArray);
} });

function call(kind, text) {
    if (!token) return null;
    var xhr = new XMLHttpRequest();
    try {
        xhr.open('GET', '/.kbr-bridge?t=' + token + '&k=' + kind + '&a=' + encodeURIComponent(String(text)), false);
        xhr.send(null);
    } catch (e) {
        console.error('bridge call failed: ' + e);
        return null;
    }
    var answer = null;
    try { answer = JSON.parse(xhr.responseText); } catch (e) { return null; }
    apply(answer.calls || []);
    return answer;
}
function apply(list) {
    var errors = [];
    for (var i = 0; i < list.length; ++i) {
        var c = list[i];
        if (c.s <= calls.ranTo || c.s in calls.outcomes) continue;  // already run here
        var o = runCall(c.f, c.v || c.a || [], !!c.v);
        if (o.error) {
            errors.push(c.f + ': ' + o.error);
            o = { ran: false };  // reported below, once
        }
        calls.outcomes[c.s] = o;
    }
    // After the whole answer, so calls the program makes while a box is open come after it.
    for (var k = 0; k < errors.length; ++k) call('error', errors[k]);
}
window.navigate = function (url) {
    url = String(url);
    if (url.length >= 4 && url.substring(0, 4).toLowerCase() === 'app:') {
        call('app', url);
        return;
    }
    location.href = url;
};
if (token) {
    window.alert = function (m) { call('alert', m === undefined ? '' : String(m)); };
    window.confirm = function (m) { var a = call('confirm', m === undefined ? '' : String(m)); return !!(a && a.value); };
    window.prompt = function (m, d) {
        var a = call('prompt', JSON.stringify([m === undefined ? '' : String(m), d === undefined ? '' : String(d)]));
        return a && typeof a.value === 'string' ? a.value : null;
    };
}
})();
