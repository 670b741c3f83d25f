// Tests of the bridge script ecb.js on its own, under Node with a stand-in for the page window:
// window.navigate records the app: URLs and answers 1008 and 1007 as the program does.
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const path = require('path');
const vm = require('vm');

const ECB = fs.readFileSync(path.join(__dirname, '../../pages/ecb.js'), 'utf8');

// A fresh page: ecb.js loaded into its own global object.
function loadEcb(options)
{
    options = options || {};
    const ctx = {
        commands: [],
        alerts: [],
        confirmAnswer: options.confirmAnswer || '1',
        location: { hash: options.hash || '', href: '' },
        document: {
            body: { style: {} },
            elements: {},
            getElementsByName(name) { return this.elements[name] || []; },
            getElementById() { return null; },
        },
    };
    // Timers run only when a test says so (fireTimers), so no test waits on the clock.
    ctx.timers = new Map();
    let nextTimer = 1;
    ctx.setTimeout = (fn, ms) => { ctx.timers.set(nextTimer, { fn, ms }); return nextTimer++; };
    ctx.clearTimeout = (id) => { ctx.timers.delete(id); };
    ctx.window = ctx;
    ctx.self = ctx;
    ctx.alert = (text) => ctx.alerts.push(String(text));
    ctx.navigate = (url) => {
        ctx.commands.push(String(url));
        if (String(url).startsWith('app:1008'))
            ctx.CallbackConfirm(ctx.confirmAnswer);
        if (String(url).startsWith('app:1007'))
            ctx.CallbackAppVer('1.0.0.0');
    };
    // The program's array call: the list arrives reversed, read back with VBArray.toArray().
    ctx.VBArray = function (list) { this.list = list; };
    ctx.VBArray.prototype.toArray = function () { return this.list.slice(); };
    vm.createContext(ctx);
    vm.runInContext(ECB, ctx, { filename: 'ecb.js' });
    ctx.callWithArray = (name, list) => ctx[name](new ctx.VBArray(list.slice().reverse()));
    return ctx;
}

function run(ctx, code) { return vm.runInContext(code, ctx); }

// Lets every pending timer expire; returns their delays.
function fireTimers(ctx)
{
    const due = [...ctx.timers.values()];
    ctx.timers.clear();
    due.forEach((t) => t.fn());
    return due.map((t) => t.ms);
}

test('initial values of the settings model', () => {
    const p = loadEcb();
    const expected = {
        fware_ver: '0.0.0', mypswd: 'quib', iReboot: 0, DHCP_IPADDR: '0.0.0.0', coax_MAC: '', newwindow: '',
        dhcp: 0, SwConfig: 0, channel: 0, channelPlan: 1, channelMask: 0, productMask: 0,
        viewable: '40527163948205716', diplexer_mode: 0, moca_pswd: '',
    };
    for (const [name, value] of Object.entries(expected))
        assert.strictEqual(run(p, name), value, name);
    assert.strictEqual(run(p, 'typeof local_pswd'), 'undefined');
});

test('command functions send their app: URLs', () => {
    const cases = [
        ['MFCDoResize(825, 550)', 'app:1001@825@550'],
        ['MFCDoCancel()', 'app:1000@'],
        ["MFCDoNavigate('link_status.html')", 'app:1002@link_status.html'],
        ["ShowHelp('help_setup.html')", 'app:1002@help_setup.html'],
        ["MFCLogin('abc')", 'app:1003@0:abc'],
        ['MFCGetConfig()', 'app:1003@1:'],
        ["local_pswd = 'pw12'; MFCSetAdminPswd('ignored')", 'app:1003@2:pw12'],
        ['channelMask = 1048576; MFCSetChannelMask()', 'app:1003@3:1048576'],
        ['SwConfig = 4095; MFCSetSwConfig()', 'app:1003@4:4095'],
        ["moca_pswd = '123456789012'; MFCSetMocaPswd()", 'app:1003@5:123456789012'],
        ['diplexer_mode = 1; MFCSetDiplexerMode()', 'app:1003@6:1'],
        ['MFCSetAllConfig()', 'app:1003@7:'],
        ["MFCUpgradeImage('/tmp/osimage.bin')", 'app:1003@8:/tmp/osimage.bin'],
        ['MFCGetDiag()', 'app:1003@9:'],
        ['MFCRebootDevice()', 'app:1003@10:'],
        ['scanMask = 357908480; MFCSetScanMask()', 'app:1003@11:357908480'],
        ['MFCGetProdID()', 'app:1003@12:'],
        ['MFCGetImageVer()', 'app:1003@13:'],
        ["MFCReadImageVersion('a.bin')", 'app:1003@14:a.bin'],
        ['MFCGetFwVer()', 'app:1003@15:'],
        ["MFCMsgBox('Setup', 'Operation Successful!')", 'app:1004@Setup,Operation%20Successful!'],
        ['MFCClearCmdQueue()', 'app:1005@'],
        ["MFCSetHtmlCallback('CallbackLocal')", 'app:1006@CallbackLocal'],
        ["MFCSetHtmlCallback('')", 'app:1006@'],
        ['MFCGetAppVer()', 'app:1007@'],
    ];
    for (const [code, url] of cases) {
        const p = loadEcb();
        run(p, code);
        assert.deepStrictEqual(p.commands, [url], code);
    }
});

test('MFCConfirm returns the answer that CallbackConfirm delivered during the call', () => {
    for (const [answer, result] of [['1', true], ['0', false]]) {
        const p = loadEcb({ confirmAnswer: answer });
        assert.strictEqual(run(p, "MFCConfirm('Setup', 'Are you sure?')"), result);
        assert.deepStrictEqual(p.commands, ['app:1008@Setup,Are%20you%20sure?']);
    }
    // Outside the program nobody answers: the question counts as No.
    const p = loadEcb();
    p.navigate = undefined;
    assert.strictEqual(run(p, "MFCConfirm('Setup', 'Continue?')"), false);
});

test('a comma in a message box caption cannot move the split between caption and text', () => {
    const p = loadEcb();
    run(p, "MFCMsgBox('A, B', 'x, y')");
    assert.deepStrictEqual(p.commands, ['app:1004@A%20%20B,x,%20y']);
});

test('MFCGetAppVer stores the program version', () => {
    const p = loadEcb();
    run(p, 'MFCGetAppVer()');
    assert.strictEqual(run(p, 'app_ver'), '1.0.0.0');
});

test('storeConfig stores each parameter by its id', () => {
    const cases = [
        [['100', '1.2.3.4'], 'fware_ver', '1.2.3.4'],
        [['1', '1'], 'diplexer_mode', '1'],
        [['2', 'secret'], 'local_pswd', 'secret'],
        [['3', '4097'], 'SwConfig', '4097'],
        [['4', '357908480'], 'channelMask', '357908480'],
        [['5', '40527163948205716'], 'moca_pswd', '40527163948205716'],
        [['6', '-1'], 'scanMask', '-1'],
    ];
    for (const [list, variable, value] of cases) {
        const p = loadEcb();
        p.callWithArray('storeConfig', list);
        assert.strictEqual(run(p, variable), value, list.join(','));
    }
});

test('storeConfig ignores TxPower, unknown ids and version-less calls', () => {
    const snapshot = (p) => run(p, 'JSON.stringify([fware_ver, diplexer_mode, local_pswd, SwConfig, channelMask, moca_pswd, scanMask])');
    const cases = [
        ['0', '5'],            // a two-element TxPower form
        ['0', '3', '7'],       // TxPower with F = 3: must not become SwConfig
        ['0', '4660', '7'],    // TxPower with F matching no id
        ['0', '4', '9'],       // TxPower with F = 4: must not become channelMask
        ['42', 'x'],
        [],
    ];
    for (const list of cases) {
        const p = loadEcb();
        const before = snapshot(p);
        p.callWithArray('storeConfig', list);
        assert.strictEqual(snapshot(p), before, JSON.stringify(list));
    }
});

test('storeConfig sees the version case as b[0] = version, b[1] = "100"', () => {
    const p = loadEcb();
    run(p, "storeConfig(new VBArray(['1.2.3.4', '100']))");
    assert.strictEqual(run(p, 'fware_ver'), '1.2.3.4');
});

test('channel arithmetic', () => {
    const cases = [
        // plan, expression, result
        [1, 'UnMhz(0)', -1],
        [1, 'Mhz(-1)', 25],
        [1, 'chanNum(UnMhz(0))', 0],
        [1, 'Mhz(UnMhz(0))', 25],
        [1, 'UnMhz(1150000000)', 14],
        [1, 'chanNum(UnMhz(1150000000))', 15],
        [1, 'Mhz(UnMhz(1150000000))', 1150],
        [1, "chanNum(UnMhz('1150000000'))", 15],
        [0, 'UnMhz(1150000000)', 7],
        [0, 'chanNum(UnMhz(1150000000))', 7],
        [0, 'Mhz(UnMhz(1150000000))', 1150],
        [1, 'UnMhz(799999999)', -1],
        [1, 'UnMhz(800000000)', 0],
        [1, 'UnMhz(810000000)', 0.4],
    ];
    for (const [plan, expr, result] of cases) {
        const p = loadEcb();
        run(p, 'channelPlan = ' + plan);
        assert.strictEqual(run(p, expr), result, 'plan ' + plan + ': ' + expr);
    }
});

test('convertIPAddress', () => {
    const cases = [
        [' 192 . 168 .0.20 ', [192, 168, 0, 20]],
        ['192.168.0.20', [192, 168, 0, 20]],
        ['0.0.0.0', [0, 0, 0, 0]],
        ['255.255.255.255', [255, 255, 255, 255]],
        ['192.168.0.256', 0],
        ['192.168.0', 0],
        ['192.168.0.20.1', 0],
        ['192.168.0.x', 0],
        ['', 0],
        ['1.2.3.-4', 0],
    ];
    for (const [text, result] of cases) {
        const p = loadEcb();
        const value = run(p, 'convertIPAddress(' + JSON.stringify(text) + ')');
        assert.deepStrictEqual(Array.isArray(value) ? Array.from(value) : value, result, text);
    }
});

test('login password check alerts', () => {
    const cases = [
        ['', false, ['Value is required']],
        ['ab_cd', false, ['The 2st char _ is invalid !']],
        ['a b', false, ['The 1st char   is invalid !']],
        ['abc.', false, ['The 3st char . is invalid !']],
        ['Ab3dE9', true, []],
    ];
    for (const [text, ok, alerts] of cases) {
        const p = loadEcb();
        assert.strictEqual(run(p, 'checkAdminPswd(' + JSON.stringify(text) + ')'), ok, text);
        assert.deepStrictEqual(p.alerts, alerts, text);
    }
});

test('isTest compares the local password with the reference password', () => {
    const p = loadEcb();
    run(p, "local_pswd = 'quib'");
    assert.strictEqual(run(p, 'isTest()'), true);
    run(p, "local_pswd = 'admin'");
    assert.strictEqual(run(p, 'isTest()'), false);
});

test('passwordFailed empties the password field and alerts; passwordAccepted goes to setup', () => {
    const p = loadEcb();
    const field = { value: 'wrong' };
    p.document.elements.AdminPswd = [field];
    run(p, 'passwordFailed()');
    assert.strictEqual(field.value, '');
    assert.deepStrictEqual(p.alerts, ['Password Incorrect!']);
    run(p, 'passwordAccepted()');
    assert.strictEqual(p.location.href, 'setup.html');
    assert.deepStrictEqual(p.commands, []);
});

test('MFCRestoreDefaults writes the factory settings and keeps the other SwConfig bits', () => {
    const p = loadEcb();
    run(p, "SwConfig = '8191'; local_pswd = 'mine'; channelMask = 4; moca_pswd = '111111111111'; diplexer_mode = 1");
    run(p, 'MFCRestoreDefaults()');
    assert.deepStrictEqual(p.commands, [
        'app:1003@2:admin',
        'app:1003@3:357908480',
        'app:1003@11:357908480',
        'app:1003@4:4095',
        'app:1003@5:40527163948205716',
        'app:1003@6:0',
        'app:1003@7:',
    ]);
});

test('SetHourglass disables the named controls and ConditionalNavigate waits for it', () => {
    const p = loadEcb();
    const button = { disabled: false };
    p.document.elements.controlDisable = [button];
    run(p, "SetHourglass(1, 'controlDisable')");
    assert.strictEqual(button.disabled, true);
    assert.strictEqual(p.document.body.style.cursor, 'wait');
    run(p, "ConditionalNavigate('setup1.html')");
    assert.strictEqual(p.location.href, '');
    assert.strictEqual(p.alerts.length, 1);
    run(p, "SetHourglass(0, 'controlDisable')");
    assert.strictEqual(button.disabled, false);
    run(p, "ConditionalNavigate('setup1.html')");
    assert.strictEqual(p.location.href, 'setup1.html');
    assert.deepStrictEqual(p.commands, []);
});

test('the reboot page can hand iReboot to the setup page in the address', () => {
    assert.strictEqual(run(loadEcb({ hash: '#reboot' }), 'iReboot'), 1);
    assert.strictEqual(run(loadEcb({ hash: '' }), 'iReboot'), 0);
});

test('escapeHtml keeps texts from the Bridge out of the markup', () => {
    const p = loadEcb();
    assert.strictEqual(run(p, 'escapeHtml("<img src=x onerror=\'a()\'>&")'),
                       '&lt;img src=x onerror=&#39;a()&#39;&gt;&amp;');
});

test('PopUpWindow opens one shared window and returns false', () => {
    const p = loadEcb();
    const opened = [];
    p.open = (url, name, features) => {
        const w = { closed: false, location: { href: url }, opener: null, focus() { this.focused = true; } };
        opened.push({ url, name, features, w });
        return w;
    };
    p.focus = () => {};
    assert.strictEqual(run(p, "PopUpWindow('help_setup.html')"), false);
    assert.strictEqual(run(p, "PopUpWindow('help_status.html')"), false);
    assert.strictEqual(opened.length, 1);
    assert.strictEqual(opened[0].name, 'site');
    assert.strictEqual(opened[0].features, 'toolbar=no,location=no,scrollbars=yes,status=yes,width=760,height=600');
    assert.strictEqual(opened[0].w.location.href, 'help_status.html');
    assert.ok(opened[0].w.opener, 'opener set');
    assert.strictEqual(opened[0].w.focused, true);
});

test('afterConfigRead reads first and writes once, when the values have arrived', () => {
    const p = loadEcb();
    run(p, "afterConfigRead(function () { MFCSetAllConfig(); }); afterConfigRead(function () { MFCSetSwConfig(); })");
    assert.deepStrictEqual(p.commands, ['app:1003@1:', 'app:1003@1:']);
    p.commands.length = 0;
    // Only the latest write runs, and only once; the read's time limit is off.
    run(p, 'configArrived(); configArrived()');
    assert.deepStrictEqual(p.commands, ['app:1003@4:0']);
    assert.strictEqual(run(p, 'config_loaded'), 1);
    assert.deepStrictEqual(fireTimers(p), []);
    assert.deepStrictEqual(p.alerts, []);
});

test('a read without an answer in time writes nothing and tells the user', () => {
    const p = loadEcb();
    run(p, 'afterConfigRead(function () { MFCSetAllConfig(); })');
    assert.deepStrictEqual(fireTimers(p), [6000]);
    assert.deepStrictEqual(p.alerts, ['The settings have not been read from the Bridge yet.\n' +
                                      'Please wait a moment and try again.']);
    assert.strictEqual(run(p, 'config_read_failed'), 1);
    // The late answer writes nothing; a new try reads again and writes.
    p.commands.length = 0;
    run(p, 'configArrived()');
    assert.deepStrictEqual(p.commands, []);
    run(p, 'afterConfigRead(function () { MFCSetAllConfig(); }); configArrived()');
    assert.deepStrictEqual(p.commands, ['app:1003@1:', 'app:1003@7:']);
    assert.strictEqual(run(p, 'config_read_failed'), 0);
    // A time limit that ends with no write waiting says nothing.
    p.alerts.length = 0;
    run(p, 'readConfig()');
    fireTimers(p);
    assert.deepStrictEqual(p.alerts, []);
});
