// Renders every page of the set to a PNG with headless Chromium, at the window size the page asks
// for (825 x 650 for pages that ask for none). Usage: node render-pages.js [output folder]
'use strict';

const fs = require('fs');
const path = require('path');
const { Browser } = require('./chromium.js');

const pagesDir = path.resolve(__dirname, '..');

function pageList()
{
    return fs.readFileSync(path.join(pagesDir, 'pages.txt'), 'utf8').split('\n')
        .map((l) => l.trim()).filter((l) => l && !l.startsWith('#') && l.endsWith('.html'));
}

async function main()
{
    const outDir = path.resolve(process.argv[2] || 'page-renders');
    fs.mkdirSync(outDir, { recursive: true });
    const browser = await Browser.launch();
    try {
        const page = await browser.newPage();
        for (const name of pageList()) {
            await page.open(path.join(pagesDir, name), [825, 650]);
            const resize = (await page.commands()).find((c) => c.startsWith('app:1001@'));
            let size = [825, 650];
            if (resize) {
                const m = /^app:1001@(\d+)@(\d+)/.exec(resize);
                size = [Number(m[1]), Number(m[2])];
            }
            await page.setSize(size[0], size[1]);
            const out = path.join(outDir, name.replace(/\.html$/, '.png'));
            await page.screenshot(out);
            const dialogs = page.dialogs.map((d) => d.type + ': ' + d.message).join('; ');
            console.log(name + ' ' + size[0] + 'x' + size[1] + ' -> ' + out + (dialogs ? '  [' + dialogs + ']' : ''));
        }
    } finally {
        await browser.close();
    }
}

main().catch((e) => { console.error(e.message); process.exit(1); });
