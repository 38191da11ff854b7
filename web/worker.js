// worker.js: the page's worker, appended to the module's glue and its wasm
// (make_site.js).
// It runs kegkit's own commands (kegweb.cpp) on the files the page hands it
// and hands back what kegkit does:
//   {type: 'message', text}         a line kegkit printed on standard error
//   {type: 'file', path, bytes}     a file kegkit put in place, its path as in
//                                   the ZIP (the bytes are transferred)
//   {type: 'progress', done, total} bytes of the archive read so far
//   {type: 'done', id, status, choices, heap}
//   {type: 'ready'}, {type: 'crashed', text}
// Archives are mounted read-only with WORKERFS, which reads slices of the
// File as the walk asks for them: nothing is copied whole. Each file kegkit
// puts in place is read once, sent, and removed, so that memory stays
// bounded; only a merge's pictures stay until the merge has read them.
'use strict';

const PICTURES = '/out/pictures';  // kegkit extract -o; ZIP paths are relative to it
const EVENTS = '/out/events';      // kegkit merge -o; "events/" in the ZIP
const EIO = 29;                    // emscripten's errno for an I/O error

let kit = null;
let keepPictures = false;  // a merge follows: the pictures stay until it is done
let mounts = 0;
let bytesRead = 0;
let bytesTotal = 0;
let lastProgress = 0;

function post(message, transfer) {
    self.postMessage(message, transfer || []);
}

function progress(force) {
    const now = Date.now();
    if (!force && now - lastProgress < 100) return;
    lastProgress = now;
    post({type: 'progress', done: Math.min(bytesRead, bytesTotal), total: bytesTotal});
}

// Files are put in place by renaming them from their temporary names.
function placed(FS, path) {
    let relative;
    if (path.startsWith(PICTURES + '/')) relative = path.slice(PICTURES.length + 1);
    else if (path.startsWith(EVENTS + '/')) relative = 'events/' + path.slice(EVENTS.length + 1);
    else return;
    const bytes = FS.readFile(path);
    if (!keepPictures || relative.startsWith('events/')) FS.unlink(path);
    post({type: 'file', path: relative, bytes: bytes}, [bytes.buffer]);
}

function removeTree(FS, path) {
    if (!FS.analyzePath(path).exists) return;
    for (const name of FS.readdir(path)) {
        if (name === '.' || name === '..') continue;
        const child = path + '/' + name;
        if (FS.isDir(FS.lstat(child).mode)) removeTree(FS, child);
        else FS.unlink(child);
    }
    FS.rmdir(path);
}

function setUp(module) {
    const FS = module.FS;
    const WORKERFS = FS.filesystems.WORKERFS;
    FS.mkdir('/in');
    FS.mkdir('/out');
    const rename = FS.rename;
    FS.rename = function (from, to) {
        rename.call(FS, from, to);
        placed(FS, to);
    };
    // A File that can no longer be read (changed or removed meanwhile) is an
    // I/O error for kegkit, not an exception through its stack.
    WORKERFS.stream_ops.read = function (stream, buffer, offset, length, position) {
        let n;
        try {
            n = readThroughBlocks(WORKERFS.reader, stream.node, buffer, offset, length, position);
        } catch (e) {
            if (e instanceof FS.ErrnoError) throw e;
            throw new FS.ErrnoError(EIO);
        }
        bytesRead += n;
        progress(false);
        return n;
    };
}

// Reading a File slice costs the browser some milliseconds however small it
// is, and its throughput grows with the slice (about 65 MB/s in slices of
// half a megabyte, 190 MB/s in slices of 32 MiB). Finding the revision reads
// a few bytes at every entry, once per revision; the walk reads each entry's
// header and then its data, one after the other. So:
// - a read shorter than WINDOW that goes on from where the last one ended
//   reads a window of WINDOW bytes, and the reads that follow are served
//   from it;
// - any other read within one block of BLOCK bytes reads the whole block,
//   any other read across blocks reads on to the end of its last block, and
//   the last BLOCKS_HELD such blocks are kept, for the next revision's probes
//   and the header after an entry's data.
// On an archive of 49 entries (159 MB) this took the reads from 332 slices
// and 2.4 s to 54 slices and 1.1 s. Memory holds one window and 4 MiB of
// blocks at most, beside the read itself.
const WINDOW = 16 << 20;
const BLOCK = 1 << 16;
const BLOCKS_HELD = 64;
let reads = {node: null, held: new Map(), window: null, windowStart: 0, lastEnd: -1};

function readSlice(reader, node, start, stop) {
    const bytes = new Uint8Array(reader.readAsArrayBuffer(node.contents.slice(start, stop)));
    if (bytes.length !== stop - start) throw new Error('short read');
    return bytes;
}

// Blocks by number, the least recently used first.
function holdBlock(number, bytes) {
    reads.held.delete(number);
    reads.held.set(number, bytes);
    if (reads.held.size > BLOCKS_HELD) reads.held.delete(reads.held.keys().next().value);
}

// The bytes [position, end) of the file, read through the window and blocks.
function readHeld(reader, node, position, end) {
    const w = reads.window;
    if (w && position >= reads.windowStart && end <= reads.windowStart + w.length)
        return w.subarray(position - reads.windowStart, end - reads.windowStart);
    const first = Math.floor(position / BLOCK);
    const last = Math.floor((end - 1) / BLOCK);
    const block = first === last ? reads.held.get(first) : undefined;
    if (block) {
        holdBlock(first, block);
        return block.subarray(position - first * BLOCK, end - first * BLOCK);
    }
    if (position >= reads.lastEnd && position - reads.lastEnd <= BLOCK && end - position < WINDOW) {
        reads.window = null;  // the old window goes before the new one comes
        reads.window = readSlice(reader, node, position, Math.min(node.size, position + WINDOW));
        reads.windowStart = position;
        return reads.window.subarray(0, end - position);
    }
    const start = first === last ? first * BLOCK : position;
    const bytes = readSlice(reader, node, start, Math.min(node.size, (last + 1) * BLOCK));
    holdBlock(last, first === last ? bytes : bytes.slice(last * BLOCK - start));
    return bytes.subarray(position - start, end - start);
}

function readThroughBlocks(reader, node, buffer, offset, length, position) {
    if (reads.node !== node) forgetReads(node);
    if (position >= node.size || length <= 0) return 0;
    const end = Math.min(node.size, position + length);
    buffer.set(readHeld(reader, node, position, end), offset);
    reads.lastEnd = end;
    return end - position;
}

function forgetReads(node) {
    reads = {node: node || null, held: new Map(), window: null, windowStart: 0, lastEnd: -1};
}

// Runs `command` with `file` mounted in a folder of its own, which is the
// current one, so that kegkit names the file as the user knows it.
function withMounted(file, command) {
    const FS = kit.FS;
    const folder = '/in/' + mounts++;
    FS.mkdir(folder);
    FS.mount(FS.filesystems.WORKERFS, {files: [file]}, folder);
    FS.chdir(folder);
    try {
        return command(file.name);
    } finally {
        forgetReads();
        FS.chdir('/');
        FS.unmount(folder);
        FS.rmdir(folder);
    }
}

function extract(job) {
    bytesRead = 0;
    bytesTotal = job.file.size;
    keepPictures = job.keep;
    progress(true);
    let choices = [];
    const status = withMounted(job.file, (name) => {
        const s = kit.ccall('kegweb_extract', 'number', ['string', 'string', 'number', 'string'],
                            [name, PICTURES, job.several ? 1 : 0, job.revision || '']);
        if (s !== 0 && !job.revision)
            choices = kit.ccall('kegweb_revision_choices', 'string', ['string'], [name]).split(' ').filter(Boolean);
        return s;
    });
    if (!keepPictures) removeTree(kit.FS, PICTURES);
    bytesRead = bytesTotal;
    progress(true);
    return {status: status, choices: choices};
}

function merge(job) {
    const FS = kit.FS;
    keepPictures = false;
    if (!FS.analyzePath(PICTURES).exists) FS.mkdir(PICTURES);
    try {
        const status = withMounted(job.file, (name) =>
            kit.ccall('kegweb_merge', 'number', ['string', 'string', 'string'], [name, PICTURES, EVENTS]));
        return {status: status, choices: []};
    } finally {
        removeTree(FS, PICTURES);
        removeTree(FS, EVENTS);
    }
}

function forget() {
    keepPictures = false;
    removeTree(kit.FS, PICTURES);
}

self.onmessage = (event) => {
    const job = event.data;
    if (job.type === 'forget') {
        forget();
        return;
    }
    let result;
    try {
        result = job.type === 'merge' ? merge(job) : extract(job);
    } catch (e) {
        // The module is no longer to be trusted: the page starts a new worker.
        post({type: 'crashed', id: job.id, text: String(e && e.message ? e.message : e)});
        return;
    }
    post({type: 'done', id: job.id, status: result.status, choices: result.choices, heap: kit.HEAP8.length});
};

// The wasm is given to the module, which then fetches nothing.
function wasmBytes() {
    const text = atob(KEGWEB_WASM);
    const bytes = new Uint8Array(text.length);
    for (let i = 0; i < text.length; ++i) bytes[i] = text.charCodeAt(i);
    return bytes;
}

createKegweb({
    wasmBinary: wasmBytes(),
    print: (line) => post({type: 'message', text: line}),
    printErr: (line) => post({type: 'message', text: line}),
}).then(
    (module) => {
        kit = module;
        setUp(module);
        post({type: 'ready'});
    },
    (e) => post({type: 'crashed', text: String(e && e.message ? e.message : e)}));
