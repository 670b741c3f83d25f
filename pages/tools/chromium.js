// A small driver for headless Chromium over the DevTools protocol on a pipe (no npm packages).
// It loads pages of the page set from file:// URLs with a recording stand-in for the program:
// window.navigate() records every app: URL instead of reaching a program, answers the commands
// that the program answers during the call (1007 CallbackAppVer, 1008 CallbackConfirm), and a
// VBArray stand-in turns the program's array calls into script arrays.
//
// Used by the page tests (tests/pages) and by the page renderer (pages/tools/render-pages.js).
'use strict';

const { spawn } = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

// Injected into every page before its own scripts, like the program's page host does.
const HOST_STUB = `
(function () {
    window.__commands = [];
    window.__confirmAnswer = '1';
    window.navigate = function (url) {
        url = String(url);
        if (url.indexOf('app:') != 0) { window.location.href = url; return; }
        window.__commands.push(url);
        if (url.indexOf('app:1008') == 0 && typeof window.CallbackConfirm == 'function')
            window.CallbackConfirm(window.__confirmAnswer);
        if (url.indexOf('app:1007') == 0 && typeof window.CallbackAppVer == 'function')
            window.CallbackAppVer('1.0.0.0');
    };
    window.VBArray = function (list) { this.list = list; };
    window.VBArray.prototype.toArray = function () { return this.list.slice(); };
    // The program's array call form: the list arrives reversed.
    window.__callWithArray = function (name, list) {
        return window[name](new window.VBArray(list.slice().reverse()));
    };
})();
`;

function findChromium()
{
    const candidates = [process.env.CHROMIUM, '/usr/bin/chromium', '/usr/bin/chromium-browser',
                        '/usr/bin/google-chrome'];
    for (const c of candidates) {
        if (c && fs.existsSync(c))
            return c;
    }
    return null;
}

class Page {
    constructor(browser, sessionId)
    {
        this.browser = browser;
        this.sessionId = sessionId;
        this.dialogs = [];          // every alert/confirm/prompt: {type, message}
        this.errors = [];           // uncaught script errors of the page
        this.confirmAnswers = [];   // answers for window.confirm(), true when empty
        this.loadWaiters = [];
    }

    send(method, params) { return this.browser.send(method, params || {}, this.sessionId); }

    onEvent(method, params)
    {
        if (method == 'Page.javascriptDialogOpening') {
            this.dialogs.push({ type: params.type, message: params.message });
            const accept = params.type == 'confirm' && this.confirmAnswers.length
                ? this.confirmAnswers.shift() : true;
            this.send('Page.handleJavaScriptDialog', { accept: accept }).catch(() => {});
        } else if (method == 'Runtime.exceptionThrown') {
            const d = params.exceptionDetails;
            this.errors.push((d.exception && d.exception.description) || d.text);
        } else if (method == 'Page.loadEventFired') {
            const waiters = this.loadWaiters;
            this.loadWaiters = [];
            waiters.forEach((w) => w());
        }
    }

    waitForLoad(timeoutMs)
    {
        return new Promise((resolve, reject) => {
            const timer = setTimeout(() => reject(new Error('page did not load')), timeoutMs || 15000);
            this.loadWaiters.push(() => { clearTimeout(timer); resolve(); });
        });
    }

    // Loads a page of the set; file is a path or a file:// URL.
    async open(file, size)
    {
        const url = file.startsWith('file:') ? file : 'file://' + path.resolve(file);
        this.dialogs = [];
        this.errors = [];
        await this.setSize(size ? size[0] : 825, size ? size[1] : 700);
        const loaded = this.waitForLoad();
        await this.send('Page.navigate', { url: url });
        await loaded;
    }

    async setSize(width, height)
    {
        await this.send('Emulation.setDeviceMetricsOverride',
                        { width: width, height: height, deviceScaleFactor: 1, mobile: false });
    }

    // Runs an expression in the page and returns its value (JSON-able values only).
    async eval(expression)
    {
        const r = await this.send('Runtime.evaluate',
                                  { expression: expression, returnByValue: true, awaitPromise: true });
        if (r.exceptionDetails) {
            const d = r.exceptionDetails;
            throw new Error('script error: ' + (d.exception && d.exception.description || d.text));
        }
        return r.result.value;
    }

    commands() { return this.eval('window.__commands.slice()'); }

    // Chooses a file in a file field, as the user would with Browse.
    async setFile(expression, file)
    {
        const r = await this.send('Runtime.evaluate', { expression: expression });
        await this.send('DOM.enable');
        await this.send('DOM.setFileInputFiles', { files: [file], objectId: r.result.objectId });
    }

    // Messages of the dialogs shown since the last call.
    takeDialogs()
    {
        const d = this.dialogs.map((x) => x.message);
        this.dialogs = [];
        return d;
    }
    clearCommands() { return this.eval('window.__commands.length = 0'); }

    async screenshot(file)
    {
        const r = await this.send('Page.captureScreenshot', { format: 'png' });
        fs.writeFileSync(file, Buffer.from(r.data, 'base64'));
    }
}

class Browser {
    static async launch()
    {
        const exe = findChromium();
        if (!exe)
            throw new Error('chromium not found (apt-get install chromium)');
        const b = new Browser();
        b.profile = fs.mkdtempSync(path.join(os.tmpdir(), 'kbr-pages-'));
        const args = ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
                      '--disable-background-networking', '--disable-component-update', '--disable-sync',
                      '--disable-extensions', '--disable-dev-shm-usage', '--hide-scrollbars',
                      '--allow-file-access-from-files', '--user-data-dir=' + b.profile,
                      '--remote-debugging-pipe', 'about:blank'];
        b.proc = spawn(exe, args, { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
        b.proc.stderr.on('data', () => {});
        b.out = b.proc.stdio[3];
        b.in = b.proc.stdio[4];
        b.nextId = 1;
        b.pending = new Map();
        b.pages = new Map();
        b.buffer = Buffer.alloc(0);
        b.in.on('data', (chunk) => b.receive(chunk));
        b.exited = new Promise((resolve) => b.proc.on('exit', resolve));
        b.proc.on('exit', () => {
            for (const [, p] of b.pending)
                p.reject(new Error('chromium exited'));
            b.pending.clear();
        });
        await b.send('Target.setDiscoverTargets', { discover: false });
        return b;
    }

    receive(chunk)
    {
        this.buffer = Buffer.concat([this.buffer, chunk]);
        let end;
        while ((end = this.buffer.indexOf(0)) >= 0) {
            const msg = JSON.parse(this.buffer.subarray(0, end).toString('utf8'));
            this.buffer = this.buffer.subarray(end + 1);
            if (msg.id && this.pending.has(msg.id)) {
                const p = this.pending.get(msg.id);
                this.pending.delete(msg.id);
                if (msg.error)
                    p.reject(new Error(msg.error.message));
                else
                    p.resolve(msg.result);
            } else if (msg.method && msg.sessionId && this.pages.has(msg.sessionId)) {
                this.pages.get(msg.sessionId).onEvent(msg.method, msg.params);
            }
        }
    }

    send(method, params, sessionId)
    {
        const id = this.nextId++;
        const msg = { id: id, method: method, params: params || {} };
        if (sessionId)
            msg.sessionId = sessionId;
        return new Promise((resolve, reject) => {
            this.pending.set(id, { resolve, reject });
            this.out.write(JSON.stringify(msg) + '\0');
        });
    }

    async newPage()
    {
        const t = await this.send('Target.createTarget', { url: 'about:blank' });
        const a = await this.send('Target.attachToTarget', { targetId: t.targetId, flatten: true });
        const page = new Page(this, a.sessionId);
        this.pages.set(a.sessionId, page);
        await page.send('Page.enable');
        await page.send('Runtime.enable');
        await page.send('Page.addScriptToEvaluateOnNewDocument', { source: HOST_STUB });
        return page;
    }

    async close()
    {
        try {
            await Promise.race([this.send('Browser.close'), new Promise((r) => setTimeout(r, 3000))]);
        } catch (e) {
            // already gone
        }
        if (this.proc.exitCode === null)
            this.proc.kill('SIGKILL');
        await Promise.race([this.exited, new Promise((r) => setTimeout(r, 5000))]);
        // The browser's helpers (renderers, the crash handler) can outlive it for a moment and
        // still write into the profile: wait until every process of this run is gone.
        await waitForProcessesUsing(this.profile, 10000);
        // Removing a folder that something still fills fails with ENOTEMPTY; try again for a while.
        await removeFolder(this.profile, 10000);
    }
}

// Removes a folder, trying again while something still writes into it, up to limitMs.
async function removeFolder(folder, limitMs)
{
    const deadline = Date.now() + limitMs;
    for (;;) {
        try {
            fs.rmSync(folder, { recursive: true, force: true });
            return;
        } catch (e) {
            if (Date.now() >= deadline || !['ENOTEMPTY', 'EBUSY', 'EPERM'].includes(e.code))
                throw e;
        }
        await new Promise((r) => setTimeout(r, 100));
    }
}

// Processes whose command line names this profile folder: every process of one browser run does,
// as --user-data-dir or inside another argument (the crash handler's database, for one).
function processesUsing(profile)
{
    const needle = profile;
    const found = [];
    let entries = [];
    try {
        entries = fs.readdirSync('/proc');
    } catch (e) {
        return found;  // no /proc: nothing to wait for
    }
    for (const name of entries) {
        if (!/^[0-9]+$/.test(name))
            continue;
        let cmdline;
        try {
            cmdline = fs.readFileSync('/proc/' + name + '/cmdline', 'latin1');
        } catch (e) {
            continue;  // gone meanwhile, or not ours to read
        }
        if (Number(name) !== process.pid && cmdline.split('\0').some((arg) => arg.includes(needle)))
            found.push(Number(name));
    }
    return found;
}

async function waitForProcessesUsing(profile, limitMs)
{
    const deadline = Date.now() + limitMs;
    let killed = false;
    for (;;) {
        const left = processesUsing(profile);
        if (left.length === 0)
            return;
        if (Date.now() >= deadline) {
            if (killed)
                return;
            for (const pid of left) {
                try {
                    process.kill(pid, 'SIGKILL');
                } catch (e) {
                    // already gone
                }
            }
            killed = true;
        }
        await new Promise((r) => setTimeout(r, 50));
    }
}

module.exports = { Browser, findChromium, HOST_STUB };
