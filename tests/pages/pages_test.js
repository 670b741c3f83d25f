// Page-level tests: the pages run in headless Chromium with a recording stand-in for the program
// (pages/tools/chromium.js): every app: URL a page sends is recorded, 1008 and 1007 are answered
// as the program does, and the program's page calls are made with Runtime.evaluate.
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { Browser } = require('../../pages/tools/chromium.js');

const PAGES = path.resolve(__dirname, '../../pages');
let browser;
let page;
let tmpRoot;

test.before(async () => {
    browser = await Browser.launch();
    page = await browser.newPage();
    tmpRoot = fs.mkdtempSync(path.join(os.tmpdir(), 'kbr-pageset-'));
});

test.after(async () => {
    if (browser)
        await browser.close();
    if (tmpRoot)
        fs.rmSync(tmpRoot, { recursive: true, force: true });
});

// A copy of the page set with some data scripts replaced.
let copies = 0;
function pageSetWith(dataScripts)
{
    const dir = path.join(tmpRoot, 'set' + (++copies));
    fs.cpSync(PAGES, dir, { recursive: true });
    for (const [name, text] of Object.entries(dataScripts))
        fs.writeFileSync(path.join(dir, name), text);
    return dir;
}

async function open(name, dir)
{
    await page.open(path.join(dir || PAGES, name));
    assert.deepStrictEqual(page.errors, [], name + ': script errors');
}

// Runs code in the page and returns the commands it sent.
async function sent(code)
{
    await page.clearCommands();
    await page.eval(code);
    return page.commands();
}

// The program delivering a configuration read: storeConfig per value (array form), then
// display_config.
function deliverConfig(values)
{
    const calls = Object.entries(values).map(([id, v]) =>
        '__callWithArray("storeConfig", ' + JSON.stringify([id, String(v)]) + ');');
    return calls.join('') + 'display_config();';
}

// What every page sends when it loads, and nothing more: its window size (code 1001) and, for the
// setup and factory-reset pages only, the functions of their table row. The rows marked "set" are
// pages the description of the page set names without giving their load (the factory-reset page's
// companions and two help pages); what they send is this page set's own choice.
const ON_LOAD = [
    // page, title, commands sent on load
    ['Index.html', 'Login', ['app:1001@825@550']],
    ['setup.html', 'Setup', ['app:1001@825@725', 'app:1003@1:']],
    ['password.html', 'Password', ['app:1001@825@600']],
    ['status.html', 'Status', ['app:1001@825@850']],
    ['security.html', 'Security Password', ['app:1001@825@600']],
    ['advanced.html', 'Advanced', ['app:1001@825@550']],
    ['help.html', 'Help', ['app:1001@825@575']],
    ['reflashecb.html', 'Firmware Upgrade', ['app:1001@825@675']],
    ['link_status.html', 'Link Status', ['app:1001@825@750']],
    ['devices_status.html', 'MoCA Devices', ['app:1001@825@625']],
    ['reboot.html', 'Reboot', []],
    ['factory_reset.html', 'Factory Reset panel', ['app:1001@770@675', 'app:1005@', 'app:1007@', 'app:1003@1:']],
    ['help_setup.html', 'Setup Help', []],
    ['help_passwd.html', 'Password Help', []],
    ['help_status.html', 'Status Help', ['app:1001@825@650']],
    ['help_adv.html', 'Advanced Help', []],
    ['setup1.html', 'Privacy', ['app:1001@770@675', 'app:1003@1:'], 'set'],
    ['phy_rates.html', 'Phy Rate', ['app:1001@770@675'], 'set'],
    ['upgrade.html', 'Firmware Upgrade', ['app:1001@770@675', 'app:1003@15:'], 'set'],
    ['help_security.html', 'Security Help', [], 'set'],
    ['help_link_status.html', 'Link Status Help', [], 'set'],
];

test('every page loads without script errors, with its title, and sends exactly its commands on load', async () => {
    const listed = fs.readFileSync(path.join(PAGES, 'pages.txt'), 'utf8').split('\n').map((l) => l.trim())
        .filter((l) => !l.startsWith('#') && /\.html$/.test(l));
    assert.deepStrictEqual(ON_LOAD.map((row) => row[0]).sort(), listed.sort(), 'every page of the set is in the table');
    for (const [name, title, commands] of ON_LOAD) {
        await open(name);
        // A command sent a moment after the load (a timer, a late handler) counts too.
        await new Promise((resolve) => setTimeout(resolve, 100));
        assert.strictEqual(await page.eval('document.title'), 'Ethernet Coax Bridge - ' + title, name);
        assert.deepStrictEqual(await page.commands(), commands, name);
        assert.deepStrictEqual(page.takeDialogs(), [], name + ': no alert on load');
        const broken = await page.eval(
            'Array.from(document.images).filter((i) => !i.complete || i.naturalWidth == 0).map((i) => i.src)');
        assert.deepStrictEqual(broken, [], name + ': images');
    }
});

test('the main pages carry the menu line with the current page as plain text', async () => {
    const entries = ['Setup', 'Password', 'Status', 'Advanced', 'Help'];
    const files = ['setup.html', 'password.html', 'status.html', 'advanced.html', 'help.html'];
    for (let i = 0; i < files.length; i++) {
        await open(files[i]);
        const menu = await page.eval(
            "(() => { const m = document.querySelector('.topPanelLeft'); return { text: m.textContent, " +
            "links: Array.from(m.querySelectorAll('a')).map((a) => a.getAttribute('href')) }; })()");
        assert.strictEqual(menu.text.replace(/\s/g, ''), entries.join('|'), files[i]);
        assert.deepStrictEqual(menu.links, files.filter((f, k) => k != i), files[i]);
    }
});

test('setup page: channel list per diplexer mode and selection from the mask', async () => {
    await open('setup.html');
    const D = ['15 (1150 Mhz)', '17 (1200 Mhz)', '19 (1250 Mhz)', '21 (1300 Mhz)', '23 (1350 Mhz)',
               '25 (1400 Mhz)', '27 (1450 Mhz)', '29 (1500 Mhz)'];
    const LOW = ['4 (875 Mhz)', '5 (900 Mhz)', '6 (925 Mhz)', '7 (950 Mhz)', '8 (975 Mhz)', '9 (1000 Mhz)'];
    const cases = [
        // diplexer, mask, list texts after SCAN, selected text, diplexer entry
        [0, (1 << 14) | (1 << 16), D, 'SCAN', 'MoCA D Band'],
        [0, 1 << 14, D, '15 (1150 Mhz)', 'MoCA D Band'],
        [0, 0, D, 'SCAN', 'MoCA D Band'],
        [0, 1 << 3, D, 'SCAN', 'MoCA D Band'],
        [1, 1 << 3, LOW.concat(D), '4 (875 Mhz)', 'All Pass'],
        [1, 1 << 28, LOW.concat(D), '29 (1500 Mhz)', 'All Pass'],
        [1, -1, LOW.concat(D), 'SCAN', 'All Pass'],
    ];
    for (const [mode, mask, texts, selected, diplexer] of cases) {
        await page.eval(deliverConfig({ 1: mode, 4: mask }));
        const list = await page.eval(
            "(() => { const s = document.forms.setup.fs_channel; return { texts: Array.from(s.options).map((o) => o.text), " +
            "selected: s.options[s.selectedIndex].text, diplexer: document.forms.setup.fs_diplexer.options[" +
            "document.forms.setup.fs_diplexer.selectedIndex].text }; })()");
        const label = 'mode ' + mode + ' mask ' + mask;
        assert.deepStrictEqual(list.texts, ['SCAN'].concat(texts), label);
        assert.strictEqual(list.selected, selected, label);
        assert.strictEqual(list.diplexer, diplexer, label);
        assert.deepStrictEqual(await page.eval("Array.from(document.forms.setup.fs_channel.options).map((o) => o.value)"),
                               ['0'].concat(texts.map((t) => t.split(' ')[0])), label + ': values');
    }
});

test('setup page: choosing a channel sends its one-bit mask, SCAN sends 0', async () => {
    await open('setup.html');
    await page.eval(deliverConfig({ 1: 0, 4: (1 << 14) | (1 << 16) }));
    const choose = (value) => sent("(() => { const s = document.forms.setup.fs_channel; s.value = '" + value +
                                   "'; s.dispatchEvent(new Event('change')); })()");
    assert.deepStrictEqual(await choose('21'), ['app:1003@3:1048576']);
    assert.deepStrictEqual(await choose('0'), ['app:1003@3:0']);
    assert.deepStrictEqual(await choose('29'), ['app:1003@3:268435456']);
    // With several channels in the mask the list shows SCAN; choosing one of them is still sent.
    await page.eval(deliverConfig({ 4: (1 << 14) | (1 << 16) }));
    assert.deepStrictEqual(await choose('17'), ['app:1003@3:65536']);
});

test('setup page: diplexer change rebuilds the list and sends the mode', async () => {
    await open('setup.html');
    await page.eval(deliverConfig({ 1: 0, 4: 0 }));
    const commands = await sent("(() => { const s = document.forms.setup.fs_diplexer; s.selectedIndex = 2; " +
                                "s.dispatchEvent(new Event('change')); })()");
    assert.deepStrictEqual(commands, ['app:1003@6:1']);
    assert.strictEqual(await page.eval('document.forms.setup.fs_channel.options.length'), 15);
});

test('setup page: the privacy radio changes bit 12 of SwConfig only', async () => {
    await open('setup.html');
    const cases = [
        [8191, 1, true, 'app:1003@4:4095'],     // Disable
        [2047, 0, false, 'app:1003@4:6143'],    // Enable
        [-1, 1, true, 'app:1003@4:4294963199'],
    ];
    for (const [sw, radio, wasEnabled, url] of cases) {
        await page.eval(deliverConfig({ 3: sw }));
        assert.strictEqual(await page.eval('document.forms.setup.privacy[0].checked'), wasEnabled, String(sw));
        assert.deepStrictEqual(await sent('document.forms.setup.privacy[' + radio + '].click()'), [url], String(sw));
    }
});

const NOT_READ = 'The settings have not been read from the Bridge yet.\nPlease wait a moment and try again.';

test('setup page: Apply is refused only when the read failed or was never sent', async () => {
    // before Apply, what Apply sends, the boxes it shows
    const cases = [
        ['', ['app:1003@7:', 'app:1003@1:'], []],                   // read on load still on its way
        ['configReadFailed()', ['app:1003@1:'], [NOT_READ]],        // no answer in time: read again
        ['config_read_sent = 0', [], [NOT_READ]],                   // nothing asked for yet
        [deliverConfig({ 4: 0 }) + 'configReadFailed()', ['app:1003@7:', 'app:1003@1:'], []],
    ];
    for (const [before, commands, boxes] of cases) {
        await open('setup.html');
        if (before)
            await page.eval(before);
        assert.deepStrictEqual(await sent("document.forms.setup.Apply.click()"), commands, before);
        assert.deepStrictEqual(page.takeDialogs(), boxes, before);
    }
});

test('setup page: Apply writes and reads back, Cancel reads again', async () => {
    await open('setup.html');
    await page.eval(deliverConfig({ 100: '1.2.3.4', 1: 0, 3: 0, 4: 0 }));
    // No result box: the read-back shows what the Bridge holds.
    assert.deepStrictEqual(await sent("document.forms.setup.Apply.click()"), ['app:1003@7:', 'app:1003@1:']);
    assert.deepStrictEqual(await sent("document.forms.setup.Cancel.click()"), ['app:1003@1:']);
    assert.deepStrictEqual(await sent("document.forms.setup.Help.click()"), ['app:1002@help_setup.html']);
    assert.strictEqual(await page.eval("document.getElementById('ver').textContent"),
                       '\u00a0\u00a0v\u00a01.2.3.4\u00a0\u00a0');
    assert.deepStrictEqual(page.takeDialogs(), []);
});

test('setup page: the reboot link shows for the test password or after the reboot page', async () => {
    await open('setup.html');
    const visible = () => page.eval("document.getElementById('rebootLink').style.display != 'none'");
    await page.eval(deliverConfig({ 2: 'admin' }));
    assert.strictEqual(await visible(), false);
    await page.eval(deliverConfig({ 2: 'quib' }));
    assert.strictEqual(await visible(), true);
    await open('Index.html');
    await page.open('file://' + path.join(PAGES, 'setup.html') + '#reboot');
    assert.strictEqual(await visible(), true);
});

test('login page: character check, login command and the answers', async () => {
    await open('Index.html');
    const type = (text) => page.eval("(() => { const f = document.forms.login.AdminPswd; f.value = " +
                                     JSON.stringify(text) + "; f.dispatchEvent(new Event('change')); })()");
    await type('ab_cd');
    assert.deepStrictEqual(page.takeDialogs(), ['The 2st char _ is invalid !']);
    await type('');
    assert.deepStrictEqual(page.takeDialogs(), ['Value is required']);
    await type('ab_cd');
    page.takeDialogs();
    assert.deepStrictEqual(await sent('document.forms.login.Login.click()'), ['app:1003@0:ab_cd']);
    await page.eval('CallbackLogin("1")');
    assert.deepStrictEqual(page.takeDialogs(), ['Password Incorrect!']);
    assert.strictEqual(await page.eval('document.forms.login.AdminPswd.value'), '');
    const loaded = page.waitForLoad();
    await page.eval('CallbackLogin("0")');
    await loaded;
    assert.match(await page.eval('location.pathname'), /\/setup\.html$/);
});

test('password page: checks, change and restore', async () => {
    await open('password.html');
    await page.eval(deliverConfig({ 2: 'admin' }));
    assert.strictEqual(await page.eval('document.forms.passwd.Q31.value'), 'admin');
    const setFields = (a, b) => page.eval('document.forms.passwd.Q31.value = ' + JSON.stringify(a) +
                                          '; document.forms.passwd.Q31b.value = ' + JSON.stringify(b));

    await setFields('abc_1', 'abc_1');
    assert.deepStrictEqual(await sent('doApply()'), []);
    assert.deepStrictEqual(page.takeDialogs(), ['The 3st char _ is invalid !', 'password is invalid!\n']);

    await setFields('abc', 'abc');
    assert.deepStrictEqual(await sent('doApply()'), []);
    assert.strictEqual(page.takeDialogs()[1], 'password is invalid!\n');

    // The change is written once the Bridge's values have been read, with the new password.
    await setFields('newpw1', 'newpw1');
    assert.deepStrictEqual(await sent('doApply()'), ['app:1003@1:']);
    assert.deepStrictEqual(page.takeDialogs(), ['Are you sure you want to change password?']);
    assert.deepStrictEqual(await sent(deliverConfig({ 2: 'admin', 4: 16384 })), ['app:1003@2:newpw1', 'app:1003@7:']);
    assert.strictEqual(await page.eval('document.forms.passwd.Q31.value'), 'newpw1');
    // A later read writes nothing again.
    assert.deepStrictEqual(await sent(deliverConfig({ 2: 'newpw1' })), []);

    // A read without an answer in time: nothing is written, and the user is told.
    await setFields('newpw2', 'newpw2');
    assert.deepStrictEqual(await sent('doApply()'), ['app:1003@1:']);
    page.takeDialogs();
    assert.deepStrictEqual(await sent('configReadFailed()'), []);
    assert.deepStrictEqual(page.takeDialogs(), [NOT_READ]);
    assert.deepStrictEqual(await sent(deliverConfig({ 2: 'newpw1' })), []);

    // Restore: Cancel puts the radio back to No and sends nothing.
    await page.eval('document.forms.passwd.restore[0].checked = true');
    page.confirmAnswers.push(false);
    assert.deepStrictEqual(await sent('doApply()'), []);
    assert.deepStrictEqual(page.takeDialogs(), ['Are you sure you want to restore\n to factory default settings?']);
    assert.strictEqual(await page.eval('document.forms.passwd.restore[1].checked'), true);

    // Restore confirmed: the settings are read, the factory settings written (SwConfig as read,
    // privacy cleared) and read back.
    await page.eval('document.forms.passwd.restore[0].checked = true');
    assert.deepStrictEqual(await sent('doApply()'), ['app:1003@1:']);
    assert.deepStrictEqual(page.takeDialogs(), ['Are you sure you want to restore\n to factory default settings?',
                                                'Restore back to factory defaults setting!\n']);
    assert.deepStrictEqual(await sent(deliverConfig({ 3: 4096 + 7 })),
                           ['app:1003@2:admin', 'app:1003@3:357908480', 'app:1003@11:357908480', 'app:1003@4:7',
                            'app:1003@5:40527163948205716', 'app:1003@6:0', 'app:1003@7:', 'app:1003@1:']);

    // Different fields: alert and the page is loaded again.
    await setFields('abcd', 'abce');
    const loaded = page.waitForLoad();
    await page.eval('doApply()');
    await loaded;
    assert.deepStrictEqual(page.takeDialogs(), ['The two passwords do not match,\nyou must enter the same password twice.']);
});

test('security page: password checks and Apply', async () => {
    await open('security.html');
    const type = (text) => page.eval("(() => { const f = document.forms.security.pswd1; f.value = " +
                                     JSON.stringify(text) + "; f.dispatchEvent(new Event('change')); })()");
    const cases = [
        ['1234567890a2', 'The 11th char a is invalid !'],
        ['12345678901 ', 'The 12th char   is invalid !'],
        ['12345678901', 'Your password must be 12 to 17 numeric characters long!'],
        ['123456789012345678', 'Your password must be 12 to 17 numeric characters long!'],
    ];
    for (const [text, alert] of cases) {
        await type(text);
        assert.deepStrictEqual(page.takeDialogs(), [alert], text);
    }
    await type('123456789012');
    assert.deepStrictEqual(page.takeDialogs(), []);

    await open('security.html');
    assert.deepStrictEqual(await sent('doApply()'), []);
    assert.deepStrictEqual(page.takeDialogs(), ['You did not change the password!']);
    await page.eval("document.forms.security.pswd2.value = '1'");
    await sent('doApply()');
    assert.deepStrictEqual(page.takeDialogs(), ['The two passwords do not match,\nyou must enter the same password twice.']);

    await page.eval(deliverConfig({ 3: 4096 }));
    assert.strictEqual(await page.eval("document.getElementById('secState').textContent"), 'Enabled');
    await type('1234567890a2');
    page.takeDialogs();
    await page.eval("document.forms.security.pswd2.value = '1234567890a2'");
    assert.deepStrictEqual(await sent('doApply()'), []);
    assert.deepStrictEqual(page.takeDialogs(), ['Password is not valid!\n']);

    // The window's own copy of the settings is read first; the write follows once it has arrived.
    await type('98765432109876543');
    await page.eval("document.forms.security.pswd2.value = '98765432109876543'");
    assert.deepStrictEqual(await sent('doApply()'), ['app:1003@1:']);
    assert.deepStrictEqual(await sent(deliverConfig({ 3: 4096, 5: '40527163948205716' })),
                           ['app:1006@CallbackResult', 'app:1003@5:98765432109876543', 'app:1003@7:', 'app:1003@1:']);
    assert.deepStrictEqual(await sent('CallbackResult("1")'), ['app:1004@Security,Operation%20Failed!']);
    assert.deepStrictEqual(await sent(deliverConfig({ 3: 4096 })), []);
    assert.deepStrictEqual(await sent("document.forms.security.Close.click()"), ['app:1000@']);
});

test('status page: rows from the data scripts', async () => {
    const cases = [
        ['channel = 0; SwConfig = 0;', null, 'Disabled'],
        ['channel = 1150000000; SwConfig = 4096;', '15 (1150 MHz)', 'Enabled (40527163948205716)'],
        ['channel = 1500000000; channelPlan = 0; SwConfig = 0;', '14 (1500 MHz)', 'Disabled'],
    ];
    for (const [extra, channelText, security] of cases) {
        const dir = pageSetWith({ 2: fs.readFileSync(path.join(PAGES, '2'), 'utf8') + extra });
        await open('status.html', dir);
        const rows = await page.eval(
            "Object.fromEntries(Array.from(document.querySelectorAll('td.c2')).map((td) => " +
            "[td.textContent, td.nextElementSibling.textContent]))");
        assert.strictEqual(rows['Channel:'], channelText === null ? undefined : channelText, extra);
        assert.strictEqual(rows['Network Security:'], security, extra);
        assert.strictEqual(rows['IP Address:'], '192.168.0.20');
    }
    // dhcp 1 shows the DHCP address.
    const dir = pageSetWith({ 2: fs.readFileSync(path.join(PAGES, '2'), 'utf8') + "dhcp = 1; DHCP_IPADDR = '10.0.0.7';" });
    await open('status.html', dir);
    assert.match(await page.eval('document.body.textContent'), /IP Address:10\.0\.0\.7/);
    assert.deepStrictEqual(await sent("document.getElementsByName('LinkStatus')[0].click()"), ['app:1002@link_status.html']);
    assert.deepStrictEqual(await sent("document.getElementsByName('Devices')[0].click()"), ['app:1002@devices_status.html']);
    assert.deepStrictEqual(await sent("document.getElementsByName('Help')[0].click()"), ['app:1002@help_status.html']);
});

test('status page never shows the network password set on the Bridge', async () => {
    const secret = '31415926535897932';
    const dir = pageSetWith({ 2: fs.readFileSync(path.join(PAGES, '2'), 'utf8') + 'SwConfig = 4096;' });
    await open('status.html', dir);
    // A configuration read reaching the page, with privacy on and the Bridge's own password: only
    // the firmware version changes.
    assert.deepStrictEqual(await sent(deliverConfig({ 100: '2.3.4.5', 3: 4096, 5: secret })), []);
    const rows = await page.eval(
        "Object.fromEntries(Array.from(document.querySelectorAll('td.c2')).map((td) => " +
        "[td.textContent, td.nextElementSibling.textContent]))");
    assert.strictEqual(rows['Network Security:'], 'Enabled (40527163948205716)');
    assert.strictEqual(rows['Firmware Version:'], 'v 2.3.4.5');
    assert.strictEqual(await page.eval('document.documentElement.outerHTML.indexOf(' + JSON.stringify(secret) + ')'), -1);
    // Refreshed, the page writes its rows from the data scripts again: still no password.
    await open('status.html', dir);
    assert.strictEqual(await page.eval('document.documentElement.outerHTML.indexOf(' + JSON.stringify(secret) + ')'), -1);
    assert.match(await page.eval('document.body.textContent'), /Network Security:Enabled \(40527163948205716\)/);
});

test('link status page: matrix, empty network', async () => {
    const three = (num, rates) => 'var maxNode = 8; var numNode = ' + num + '; var NodeID = 0;' +
        "var macAddr = ['m0', 'm1', 'm2', '', '', '', '', ''];" +
        'var link_status = ' + JSON.stringify(rates) + ';';
    const rates = new Array(64).fill(0);
    rates[1] = 175;        // 0 -> 1
    rates[8] = 160;        // 1 -> 0
    let dir = pageSetWith({ 3: three(0, rates) });
    await open('link_status.html', dir);
    assert.match(await page.eval('document.body.textContent'), /Network is not available!/);
    assert.strictEqual(await page.eval("document.querySelectorAll('table.matrix').length"), 0);

    dir = pageSetWith({ 3: three(3, rates) });
    await open('link_status.html', dir);
    const matrix = await page.eval(
        "Array.from(document.querySelectorAll('table.matrix tr')).slice(1).map((tr) => " +
        "Array.from(tr.querySelectorAll('input')).map((i) => (i.className == 'diag' ? 'D' : '') + i.value))");
    assert.deepStrictEqual(matrix, [['D', '175', '***'], ['160', 'D', '***'], ['***', '***', 'D']]);
    assert.strictEqual(await page.eval("getComputedStyle(document.querySelector('input.diag')).backgroundColor"),
                       'rgb(194, 220, 203)');
    assert.deepStrictEqual(await page.eval("Array.from(document.querySelectorAll('table.matrix th')).map((t) => t.textContent)"),
                           ['', 'm0', 'm1', 'm2']);
    assert.deepStrictEqual(await sent("document.getElementsByName('Help')[0].click()"), ['app:1002@help_link_status.html']);
    // In a window of its own (no history) Close closes the window; reached by a link it goes back.
    await page.eval("Object.defineProperty(history, 'length', { get: () => 1 })");
    assert.deepStrictEqual(await sent("document.getElementsByName('Close')[0].click()"), ['app:1000@']);
    await open('Index.html');
    await open('link_status.html', dir);
    const back = page.waitForLoad();
    await page.eval("document.getElementsByName('Close')[0].click()");
    await back;
    assert.match(await page.eval('location.pathname'), /\/Index\.html$/);

    dir = pageSetWith({ 3: three(3, rates) });
    await open('devices_status.html', dir);
    assert.deepStrictEqual(await page.eval(
        "Array.from(document.querySelectorAll('table.matrix tr')).slice(1).map((tr) => tr.textContent)"),
                           ['1m0', '2m1', '3m2']);
});

test('factory-reset page: Restore Defaults asks, writes and reports', async () => {
    await open('factory_reset.html');
    await page.eval(deliverConfig({ 3: 4096 + 5 }));
    await page.eval('window.__confirmAnswer = "0"');
    assert.deepStrictEqual(await sent("document.getElementsByName('controlDisable')[0].click()"),
                           ['app:1008@Setup,Are%20you%20sure%20you%20want%20to%20restore\n%20to%20factory%20default%20settings?']);
    await page.eval('window.__confirmAnswer = "1"');
    const commands = await sent("document.getElementsByName('controlDisable')[0].click()");
    assert.deepStrictEqual(commands.slice(1), ['app:1006@CallbackLocal', 'app:1003@2:admin', 'app:1003@3:357908480',
                                               'app:1003@11:357908480', 'app:1003@4:5',
                                               'app:1003@5:40527163948205716', 'app:1003@6:0', 'app:1003@7:']);
    assert.strictEqual(await page.eval("document.getElementsByName('controlDisable')[0].disabled"), true);
    assert.deepStrictEqual(await sent('CallbackLocal("0")'),
                           ['app:1004@Setup,Operation%20Successful!', 'app:1006@', 'app:1003@1:']);
    assert.strictEqual(await page.eval("document.getElementsByName('controlDisable')[0].disabled"), false);
    assert.deepStrictEqual(await sent('CallbackLocal("1")'),
                           ['app:1004@Setup,Operation%20Failed!', 'app:1006@', 'app:1003@1:']);
    assert.match(await page.eval("document.getElementById('appVer').textContent"), /1\.0\.0\.0/);
});

test('firmware upgrade page: no file, upgrade, failure and success', async () => {
    for (const name of ['reflashecb.html', 'upgrade.html']) {
        await open(name);
        const button = name == 'reflashecb.html' ? 'Upgrade' : 'controlDisable';
        const disabled = () => page.eval("document.getElementsByName('" + button + "')[0].disabled");
        assert.deepStrictEqual(await sent('doUpgrade()'), []);
        assert.deepStrictEqual(page.takeDialogs(), ['Please select download file'], name);

        const image = path.join(tmpRoot, 'osimage.bin');
        fs.writeFileSync(image, 'not an image');
        await page.setFile('document.forms.upgrade.binFile', image);
        const commands = await sent('doUpgrade()');
        assert.deepStrictEqual(commands, ['app:1006@CallbackLocal', 'app:1003@8:C:\\fakepath\\osimage.bin'], name);
        assert.strictEqual(await disabled(), true, name);

        // The outcome shows in the page's Status row; no box of its own.
        assert.deepStrictEqual(
            await sent('__callWithArray("upgradeFailed", ["Not a valid upgrade file!"]); CallbackLocal("1")'), [], name);
        assert.strictEqual(await disabled(), false, name);
        assert.match(await page.eval("document.getElementById('upStatus').textContent"), /Not a valid upgrade file!/);

        // After a failure the user can try again: the same upgrade goes out once more.
        assert.deepStrictEqual(await sent('doUpgrade(); CallbackLocal("0")'), commands, name);
        assert.strictEqual(await disabled(), false, name);
        assert.match(await page.eval("document.getElementById('upStatus').textContent"), /completed successfully/);
        assert.deepStrictEqual(await sent("document.getElementsByName('Reboot')[0].click()"),
                               ['app:1006@CallbackReboot', 'app:1003@10:'], name);
    }
});

test('advanced page: an empty Log File row and Help, nothing else', async () => {
    await open('advanced.html');
    const row = await page.eval("Array.from(document.querySelectorAll('td.c2')).filter((td) => " +
                                "td.textContent == 'Log File:').map((td) => td.nextElementSibling.textContent)");
    assert.deepStrictEqual(row, ['']);
    assert.deepStrictEqual(await page.eval("Array.from(document.querySelectorAll('input')).map((i) => i.value)"), ['Help']);
    assert.deepStrictEqual(await page.eval("Array.from(document.querySelectorAll('a')).map((a) => a.getAttribute('href'))"),
                           ['setup.html', 'password.html', 'status.html', 'help.html']);
    assert.deepStrictEqual(await sent("document.getElementsByName('Help')[0].click()"), ['app:1002@help_adv.html']);
});

test('reboot page: Reboot restarts the Bridge, Close keeps the reboot link', async () => {
    await open('reboot.html');
    assert.deepStrictEqual(await sent("document.getElementsByName('Reboot')[0].click()"),
                           ['app:1006@CallbackReboot', 'app:1003@10:']);
    await page.eval('CallbackReboot("0")');
    assert.match(await page.eval("document.getElementById('rebootStatus').textContent"), /restarting/);
    const loaded = page.waitForLoad();
    await page.eval("document.getElementsByName('Close')[0].click()");
    await loaded;
    assert.strictEqual(await page.eval('location.hash'), '#reboot');
    assert.strictEqual(await page.eval("document.getElementById('rebootLink').style.display"), '');
});
