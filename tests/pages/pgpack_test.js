// PgPack.dll carries every file of pages.txt, byte for byte, as an RT_HTML (23) resource named by
// the file name in capitals. Usage: node pgpack_test.js <PgPack.dll> <pages folder>
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');

const [dll, pagesDir] = process.argv.slice(2);

function pageFiles()
{
    return fs.readFileSync(path.join(pagesDir, 'pages.txt'), 'utf8').split('\n')
        .map((l) => l.trim()).filter((l) => l && !l.startsWith('#'));
}

test('every file of the page set is in the library, named in capitals, with its bytes', () => {
    const listing = execFileSync('wrestool', ['-l', dll], { encoding: 'utf8' });
    const names = listing.split('\n').filter((l) => l).map((l) => {
        const m = /--type=23 --name='([^']*)'/.exec(l);
        assert.ok(m, 'an RT_HTML resource with a string name: ' + l);
        return m[1];
    });
    const files = pageFiles();
    assert.deepStrictEqual(names.slice().sort(), files.map((f) => f.toUpperCase()).sort());
    for (const file of files) {
        const data = execFileSync('wrestool', ['-x', '--raw', '--type=23', '--name=' + file.toUpperCase(), dll],
                                  { maxBuffer: 16 * 1024 * 1024 });
        assert.ok(data.equals(fs.readFileSync(path.join(pagesDir, file))), file);
    }
});

test('the page list names only files that exist, each once', () => {
    const files = pageFiles();
    assert.strictEqual(new Set(files.map((f) => f.toUpperCase())).size, files.length);
    for (const file of files)
        assert.ok(fs.existsSync(path.join(pagesDir, file)), file);
    for (const required of ['Index.html', 'ecb.js', 'style.css', '1', '1D', '1P', '2', '3', 'version.js',
                            'ecb_top.png', 'ecb_bottom.png', 'logo.gif', 'table.png', 'bReboot.png'])
        assert.ok(files.includes(required), required);
});
