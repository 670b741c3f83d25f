// Tests of the page bridge script browser/bridge.js on its own, under Node, in a stand-in for a
// page window: its synchronous XMLHttpRequest is answered by a stand-in for the program that
// records each call and answers with the page calls the test gives it.
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const path = require('path');
const vm = require('vm');

const BRIDGE = fs.readFileSync(path.join(__dirname, '../../browser/bridge.js'), 'utf8');
const TOKEN = '0123456789abcdef0123456789abcdef';

// A fresh document with the bridge injected. `program(call)` answers each bridge call with an
// object ({calls: [...], value: ...}), a text, or by throwing (a refused request).
function loadPage(options)
{
    options = options || {};
    const ctx = {
        requests: [],
        nativeBoxes: [],
        errors: [],
        program: options.program || (() => ({ calls: [] })),
        location: { protocol: options.protocol || 'res:', href: 'res://pgpack.dll//Index.html' },
        console: { error: (text) => ctx.errors.push(String(text)), log() {} },
    };
    ctx.window = ctx;
    ctx.alert = (m) => ctx.nativeBoxes.push(['alert', m]);
    ctx.confirm = (m) => { ctx.nativeBoxes.push(['confirm', m]); return true; };
    ctx.prompt = (m) => { ctx.nativeBoxes.push(['prompt', m]); return 'native'; };
    ctx.XMLHttpRequest = function () {
        this.open = (method, url, async) => { this.method = method; this.url = url; this.async = async; };
        this.send = (body) => {
            const query = new URLSearchParams(this.url.slice(this.url.indexOf('?') + 1));
            const call = { method: this.method, async: this.async, body, path: this.url.slice(0, this.url.indexOf('?')),
                           token: query.get('t'), kind: query.get('k'), text: query.get('a'), raw: this.url };
            ctx.requests.push(call);
            const answer = ctx.program(call);
            this.responseText = typeof answer === 'string' ? answer : JSON.stringify(answer);
        };
    };
    vm.createContext(ctx);
    vm.runInContext(BRIDGE.replaceAll('@TOKEN@', TOKEN), ctx, { filename: 'bridge.js' });
    return ctx;
}

function run(ctx, code) { return vm.runInContext(code, ctx); }
// A value of the page's own world as plain data of this one, so it can be compared deeply.
function value(ctx, code)
{
    const v = run(ctx, code);
    return v === undefined ? undefined : JSON.parse(JSON.stringify(v));
}

test('VBArray holds a copy of its list and answers as the platform object does', () => {
    const p = loadPage();
    assert.deepStrictEqual(value(p, "new VBArray(['c', 'b', 'a']).toArray()"), ['c', 'b', 'a']);
    assert.deepStrictEqual(value(p, "var l = ['x']; var v = new VBArray(l); l.push('y'); v.toArray()"), ['x']);
    assert.deepStrictEqual(value(p, "var v = new VBArray(['x']); v.toArray().push('y'); v.toArray()"), ['x']);
    assert.deepStrictEqual(value(p, "VBArray(new VBArray(['a', 'b'])).toArray()"), ['a', 'b']);
    assert.deepStrictEqual(value(p, "new VBArray({length: 2, 0: 'p', 1: 'q'}).toArray()"), ['p', 'q']);
    assert.deepStrictEqual(value(p, 'new VBArray().toArray()'), []);
    assert.deepStrictEqual(value(p, 'new VBArray(42).toArray()'), []);
    assert.deepStrictEqual(value(p, "var v = new VBArray(['c', 'b', 'a']); [v.getItem(0), v.getItem(2), v.lbound(), " +
                                    'v.ubound(), v.lbound(1), v.ubound(1), v.dimensions()]'),
                           ['c', 'a', 0, 2, 0, 2, 1]);
    assert.strictEqual(run(p, 'new VBArray([]).ubound()'), -1);
    for (const bad of ['getItem(3)', 'getItem(-1)', 'getItem(0.5)', "getItem('0')", 'lbound(2)', 'ubound(0)'])
        assert.throws(() => run(p, "new VBArray(['a', 'b', 'c'])." + bad), /Subscript out of range/, bad);
});

test('navigate sends an app: URL to the program synchronously, with the token, any letter case', () => {
    const p = loadPage();
    assert.strictEqual(run(p, "window.navigate('app:1003@0:pass word&t=x%')"), undefined);
    run(p, "window.navigate('APP:1001@825@550')");
    run(p, "window.navigate('app')");  // too short for an app: URL: an ordinary navigation
    assert.deepStrictEqual(p.requests.map((r) => [r.method, r.async, r.body, r.path, r.token, r.kind, r.text]), [
        ['GET', false, null, '/.kbr-bridge', TOKEN, 'app', 'app:1003@0:pass word&t=x%'],
        ['GET', false, null, '/.kbr-bridge', TOKEN, 'app', 'APP:1001@825@550'],
    ]);
    assert.strictEqual(p.location.href, 'app');
    run(p, "navigate('setup.html')");
    assert.strictEqual(p.location.href, 'setup.html');
    assert.strictEqual(p.requests.length, 2);
});

test('the page calls of an answer run in order before navigate returns, in both call forms', () => {
    const p = loadPage({
        program: () => ({ calls: [{ s: 1, f: 'record', a: ['a', 'b'] },
                                  { s: 2, f: 'noSuchFunction', a: ['x'] },
                                  { s: 3, f: 'recordArray', v: ['c', 'b', 'a'] },
                                  { s: 4, f: 'record', a: [] }] }),
    });
    run(p, "var log = []; function record() { log.push(Array.prototype.slice.call(arguments)); }" +
           'function recordArray(v) { log.push({ items: v.toArray(), ubound: v.ubound() }); }');
    assert.deepStrictEqual(value(p, "window.navigate('app:1003@1:'); log"),
                           [['a', 'b'], { items: ['c', 'b', 'a'], ubound: 2 }, []]);
});

test('a raising page call is reported once after the whole answer, and the calls after it still run', () => {
    const p = loadPage({
        program: (call) => (call.kind === 'app'
            ? { calls: [{ s: 1, f: 'raises', a: [] }, { s: 2, f: 'record', a: ['after'] }] }
            : { calls: [] }),
    });
    run(p, "var log = []; function record(x) { log.push(x); } function raises() { throw new Error('bad value'); }");
    assert.deepStrictEqual(value(p, "window.navigate('app:1700@'); log"), ['after']);
    assert.deepStrictEqual(p.requests.map((r) => [r.kind, r.text]),
                           [['app', 'app:1700@'], ['error', 'raises: bad value']]);
    // Its outcome is read back as not run: the box has been shown already.
    assert.deepStrictEqual(value(p, "__kbrRun(1, 'raises', [], false, true)"), { ran: false });
    assert.deepStrictEqual(value(p, "__kbrRun(2, 'record', ['after'], false, true)"), { ran: true, result: '' });
});

test('a page call runs once, whichever way it reaches the page first', () => {
    let answer = { calls: [] };
    const p = loadPage({ program: () => answer });
    run(p, "var log = []; function record(x) { log.push(x); return 'r-' + x; }" +
           "function recordArray(v) { log.push(v.toArray()); }");
    const kbrRun = (args) => value(p, '__kbrRun(' + args + ')');
    // Sent with runJavaScript first (seq 1), then handed over again with an answer: runs once.
    assert.deepStrictEqual(kbrRun("1, 'record', ['one'], false, false"), { ran: true, result: 'r-one' });
    answer = { calls: [{ s: 1, f: 'record', a: ['one'] }, { s: 2, f: 'record', a: ['two'] }] };
    run(p, "navigate('app:1@')");
    assert.deepStrictEqual(value(p, 'log'), ['one', 'two']);
    // Handed over with the answer first (seq 2), then sent: its outcome is given back once, and it
    // is not run again.
    assert.deepStrictEqual(kbrRun("2, 'record', ['two'], false, false"), { ran: true, result: 'r-two' });
    assert.deepStrictEqual(kbrRun("2, 'record', ['two'], false, true"), { ran: false });
    // A call older than the latest one run (they come in order), or one only collected, is not run.
    assert.deepStrictEqual(kbrRun("1, 'record', ['old'], false, false"), { ran: false });
    assert.deepStrictEqual(kbrRun("5, 'record', ['collected'], false, true"), { ran: false });
    // The array form: one VBArray of the list as given.
    assert.deepStrictEqual(kbrRun("6, 'recordArray', ['b', 'a'], true, false"), { ran: true, result: '' });
    assert.deepStrictEqual(value(p, 'log'), ['one', 'two', ['b', 'a']]);
    // Results: a string is given back, anything else as empty; a missing function does not run.
    run(p, 'function number() { return 1; } function nothing() {}');
    assert.deepStrictEqual(kbrRun("7, 'number', [], false, false"), { ran: true, result: '' });
    assert.deepStrictEqual(kbrRun("8, 'nothing', [], false, false"), { ran: true, result: '' });
    assert.deepStrictEqual(kbrRun("9, 'missing', [], false, false"), { ran: false });
});

test('alert, confirm and prompt are calls to the program, which answers them', () => {
    const answers = { alert: {}, confirm: { value: true }, prompt: { value: 'typed' } };
    const p = loadPage({ program: (call) => Object.assign({ calls: [] }, answers[call.kind]) });
    assert.strictEqual(run(p, "alert('Password Incorrect!')"), undefined);
    assert.strictEqual(run(p, "confirm('Sure?')"), true);
    answers.confirm = { value: false };
    assert.strictEqual(run(p, 'confirm()'), false);
    assert.strictEqual(run(p, "prompt('Name', 'x')"), 'typed');
    answers.prompt = { value: null };  // cancelled
    assert.strictEqual(run(p, "prompt('Name')"), null);
    assert.deepStrictEqual(p.requests.map((r) => [r.kind, r.text]), [
        ['alert', 'Password Incorrect!'], ['confirm', 'Sure?'], ['confirm', ''],
        ['prompt', '["Name","x"]'], ['prompt', '["Name",""]'],
    ]);
    assert.deepStrictEqual(p.nativeBoxes, []);
});

test('a refused or broken call changes nothing and is reported on the console', () => {
    const p = loadPage({ program: () => { throw new Error('NetworkError'); } });
    run(p, 'var log = []; function record(x) { log.push(x); }');
    assert.strictEqual(run(p, "navigate('app:1000@')"), undefined);
    assert.strictEqual(run(p, "confirm('Sure?')"), false);
    assert.strictEqual(run(p, "prompt('Name')"), null);
    assert.strictEqual(p.errors.length, 3);
    assert.match(p.errors[0], /bridge call failed/);
    p.program = () => 'not json [{"s":1,"f":"record","a":["x"]}]';
    run(p, "navigate('app:1000@')");
    assert.deepStrictEqual(value(p, 'log'), []);
});

test('documents not served by the program get no token and send nothing', () => {
    for (const protocol of ['data:', 'file:', 'http:', 'about:']) {
        const p = loadPage({ protocol });
        run(p, "navigate('app:1000@')");
        assert.deepStrictEqual(p.requests, [], protocol);
        // Their boxes are the engine's own.
        run(p, "alert('a'); confirm('c'); prompt('p')");
        assert.deepStrictEqual(p.nativeBoxes, [['alert', 'a'], ['confirm', 'c'], ['prompt', 'p']], protocol);
        // VBArray and navigate are there all the same.
        assert.strictEqual(run(p, "typeof VBArray + typeof navigate + typeof __kbrRun"), 'functionfunctionfunction');
    }
});

test('injected twice, the script sets itself up once', () => {
    const p = loadPage();
    run(p, 'var first = window.navigate; var firstVB = window.VBArray;');
    vm.runInContext(BRIDGE.replaceAll('@TOKEN@', 'another'), p);
    assert.strictEqual(run(p, 'window.navigate === first && window.VBArray === firstVB'), true);
    run(p, "navigate('app:1@')");
    assert.strictEqual(p.requests[0].token, TOKEN);
    assert.throws(() => run(p, "'use strict'; window.__kbrRun = null;"), { name: 'TypeError' });
    assert.throws(() => run(p, "'use strict'; window.__kbrHost = false;"), { name: 'TypeError' });
});
