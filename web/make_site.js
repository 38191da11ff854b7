// make_site.js: puts the site together.
//   node make_site.js SITE KEGWEB.js KEGWEB.wasm WORKER.js FFLATE.js PAGE_FILE...
// The module's wasm (in base64, KEGWEB_WASM), its glue and worker.js become
// one script that the page holds as text (kegweb-worker.js sets
// KEGWEB_WORKER_SOURCE) and starts as a worker from a blob: no fetch of a
// worker or of a .wasm, which file:// pages may not make and the page's
// policy forbids. fflate's browser build becomes fflate.js.
'use strict';
const fs = require('fs');
const path = require('path');

const [site, glue, wasm, worker, fflate, ...page] = process.argv.slice(2);
fs.mkdirSync(site, { recursive: true });
const source = 'var KEGWEB_WASM = "' + fs.readFileSync(wasm).toString('base64') + '";\n' +
               fs.readFileSync(glue, 'utf8') + '\n' + fs.readFileSync(worker, 'utf8');
fs.writeFileSync(path.join(site, 'kegweb-worker.js'),
                 '// kegkit\'s worker: the WebAssembly module and its driver, as text.\n' +
                     'var KEGWEB_WORKER_SOURCE = ' + JSON.stringify(source) + ';\n');
fs.copyFileSync(fflate, path.join(site, 'fflate.js'));
for (const file of page) fs.copyFileSync(file, path.join(site, path.basename(file)));
