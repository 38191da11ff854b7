// app.js: the page. It hands the archives the user opens to kegkit's worker
// (kegweb-worker.js), one at a time, and shows what kegkit does: each file
// it writes in the gallery (element [data-path] holding an <img>), each line
// it prints as an element of class "message". The ZIP holds exactly those
// files under those paths. document.body.dataset.state is "loading",
// "ready", "busy", "ask" (a revision to choose) or "done".
'use strict';

(() => {
    const $ = (id) => document.getElementById(id);
    const PLACEMENT = /\+x(-?\d+)y(-?\d+)\.[^./]+$/;

    let worker = null;
    let workerReady = false;
    let session = null;
    let nextJobId = 0;

    function setState(state) {
        document.body.dataset.state = state;
    }

    function status(text) {
        $('status-text').textContent = text;
    }

    // A line of kegkit's, or the page's own word about the run (a notice).
    function addLine(text, kind) {
        const item = document.createElement('li');
        item.className = kind;
        item.textContent = text;
        $('messages').append(item);
    }

    // ---- the worker ----

    function startWorker() {
        if (worker) worker.terminate();
        workerReady = false;
        const url = URL.createObjectURL(new Blob([KEGWEB_WORKER_SOURCE], {type: 'text/javascript'}));
        worker = new Worker(url);
        worker.onmessage = (event) => {
            if (event.data.type === 'ready') URL.revokeObjectURL(url);
            onWorkerMessage(event.data);
        };
        worker.onerror = (event) => {
            event.preventDefault();
            workerFailed(event.message || 'the worker stopped');
        };
    }

    function workerFailed(reason) {
        if (!workerReady && !(session && session.running)) {
            // It never started: this browser cannot run it (no WebAssembly, say).
            setState('failed');
            status(`kegkit cannot run in this browser (${reason}).`);
            return;
        }
        const job = session && session.running;
        if (job) {
            addLine(`The page could not go on with ${job.file.name} (${reason}); it goes on with the next file.`,
                    'notice');
            session.running = null;
        } else {
            addLine(`The page's worker stopped (${reason}).`, 'notice');
        }
        startWorker();
    }

    function onWorkerMessage(m) {
        if (m.type === 'ready') {
            workerReady = true;
            if (!session) {
                setState('ready');
                status('Ready: open archives or drop them on the page.');
            }
            runNext();
        } else if (m.type === 'message') {
            addLine(m.text, 'message');
        } else if (m.type === 'file') {
            addFile(m.path, m.bytes);
        } else if (m.type === 'progress') {
            const bar = $('progress');
            bar.hidden = false;
            bar.value = m.total ? m.done / m.total : 1;
            if (session && session.running)
                status(`Reading ${session.running.file.name}: ${Math.floor(bar.value * 100)}%`);
        } else if (m.type === 'done') {
            jobDone(m);
        } else if (m.type === 'crashed') {
            workerFailed(m.text);
        }
    }

    // ---- a session: the files opened at once ----

    function openFiles(list) {
        const files = Array.from(list);
        if (files.length === 0) return;
        clearResults();
        const tables = files.filter((f) => /\.bin$/i.test(f.name));
        const archives = files.filter((f) => !/\.bin$/i.test(f.name));
        session = {jobs: [], running: null, files: new Map(), archives: archives, heap: 0,
                   started: performance.now()};
        const merging = tables.length === 1 && archives.length === 1;
        for (const file of archives)
            session.jobs.push({type: 'extract', file: file, several: archives.length > 1, keep: merging});
        if (merging) session.jobs.push({type: 'merge', file: tables[0]});
        else if (tables.length > 0)
            addLine('The events are merged for one archive and its event table at a time: open the two together.',
                    'notice');
        if (session.jobs.length === 0) return finish();
        setState('busy');
        runNext();  // or as soon as the worker is ready
    }

    function clearResults() {
        if (session) {
            for (const f of session.files.values()) URL.revokeObjectURL(f.url);
            if (session.running || session.asking) startWorker();  // drop what it was doing
        }
        closeViewer();
        $('messages').replaceChildren();
        $('gallery').replaceChildren();
        $('choice').hidden = true;
        $('count').textContent = '';
        $('download-zip').disabled = true;
        $('save-folder').disabled = true;
    }

    function runNext() {
        if (!session || session.running || session.asking || !workerReady) return;
        const job = session.jobs.shift();
        if (!job) return finish();
        if (job.type === 'merge' && !session.extractedWhole) {
            addLine(`The events of ${job.file.name} are not merged: the archive was not extracted.`, 'notice');
            worker.postMessage({type: 'forget'});  // the pictures it kept for the merge
            return runNext();
        }
        job.id = nextJobId++;
        session.running = job;
        setState('busy');
        if (job.type === 'extract') {
            addLine(job.revision ? `${job.file.name} (as revision ${job.revision})` : job.file.name, 'archive');
            status(`Reading ${job.file.name}`);
        } else {
            addLine(`${job.file.name}: the events`, 'archive');
            status(`Merging the events of ${job.file.name}`);
        }
        $('progress').hidden = false;
        $('progress').value = 0;
        worker.postMessage(job);
    }

    function jobDone(m) {
        const job = session && session.running;
        if (!job || job.id !== m.id) return;
        session.running = null;
        session.heap = Math.max(session.heap, m.heap || 0);
        if (job.type === 'extract') {
            if (m.status === 0) session.extractedWhole = true;
            if (m.status !== 0 && m.choices.length > 0) return ask(job, m.choices);
        }
        runNext();
    }

    // kegkit asked for the revision: the user chooses, or skips the archive.
    function ask(job, choices) {
        session.asking = true;
        setState('ask');
        status(`Which revision is ${job.file.name}?`);
        const box = $('choice');
        box.replaceChildren(`Read ${job.file.name} as revision`);
        const answer = (revision) => {
            box.hidden = true;
            session.asking = false;
            if (revision) session.jobs.unshift(Object.assign({}, job, {revision: revision}));
            runNext();
        };
        for (const revision of choices) {
            const button = document.createElement('button');
            button.type = 'button';
            button.className = 'revision';
            button.dataset.revision = revision;
            button.textContent = revision;
            button.onclick = () => answer(revision);
            box.append(button);
        }
        const skip = document.createElement('button');
        skip.type = 'button';
        skip.id = 'skip';
        skip.textContent = 'Skip it';
        skip.onclick = () => answer(null);
        box.append(skip);
        box.hidden = false;
    }

    function finish() {
        $('progress').hidden = true;
        const count = session ? session.files.size : 0;
        status(`Done: ${count} file${count === 1 ? '' : 's'}.`);
        $('download-zip').disabled = count === 0;
        $('save-folder').disabled = count === 0;
        if (session) {
            document.body.dataset.seconds = ((performance.now() - session.started) / 1000).toFixed(3);
            document.body.dataset.heap = String(session.heap);
        }
        setState('done');
    }

    // ---- the gallery ----

    function addFile(path, bytes) {
        if (!session) return;
        const type = /\.png$/i.test(path) ? 'image/png' : 'image/bmp';
        const blob = new Blob([bytes], {type: type});
        const url = URL.createObjectURL(blob);
        const old = session.files.get(path);
        const item = old ? old.element : document.createElement('figure');
        if (old) URL.revokeObjectURL(old.url);
        session.files.set(path, {blob: blob, url: url, element: item});
        fillItem(item, path, url, blob.size);
        if (!old) $('gallery').append(item);
        $('count').textContent = `(${session.files.size})`;
    }

    function fillItem(item, path, url, size) {
        item.className = 'picture';
        item.dataset.path = path;
        const thumb = document.createElement('div');
        thumb.className = 'thumb';
        const img = document.createElement('img');
        img.className = 'checker';
        img.alt = path;
        img.loading = 'lazy';
        img.decoding = 'async';
        img.src = url;
        thumb.append(img);
        thumb.onclick = () => openViewer(path);
        const caption = document.createElement('figcaption');
        const name = document.createElement('span');
        name.className = 'name';
        name.textContent = path;
        const info = document.createElement('span');
        info.className = 'info';
        const placement = path.match(PLACEMENT);
        const where = placement ? `, placed at ${placement[1]}, ${placement[2]}` : '';
        info.textContent = `${formatBytes(size)}${where}`;
        img.onload = () => {
            info.textContent = `${img.naturalWidth} × ${img.naturalHeight}, ${formatBytes(size)}${where}`;
        };
        img.onerror = () => {
            info.textContent = `${formatBytes(size)}, not a picture this browser shows`;
        };
        const save = document.createElement('a');
        save.className = 'save';
        save.href = url;
        save.download = path.split('/').pop();
        save.textContent = 'Save';
        caption.append(name, info, ' ', save);
        item.replaceChildren(thumb, caption);
    }

    function formatBytes(n) {
        if (n < 1024) return `${n} bytes`;
        if (n < 1024 * 1024) return `${(n / 1024).toFixed(1)} KiB`;
        return `${(n / 1024 / 1024).toFixed(1)} MiB`;
    }

    // ---- the full-size view ----

    const viewer = {path: null, actual: false};

    function openViewer(path) {
        const file = session && session.files.get(path);
        if (!file) return;
        viewer.path = path;
        $('viewer-name').textContent = path;
        $('viewer-save').href = file.url;
        $('viewer-save').download = path.split('/').pop();
        const placement = path.match(PLACEMENT);
        const select = $('viewer-base');
        select.replaceChildren(new Option('nothing', ''));
        $('viewer-base-label').hidden = !placement;
        if (placement) {
            // The pictures of the same folder without a placement may be its base.
            const folder = path.slice(0, path.lastIndexOf('/') + 1);
            const top = path.includes('/') ? path.split('/')[0] + '/' : '';
            for (const other of session.files.keys()) {
                if (other.match(PLACEMENT) || other === path || !/\.png$/i.test(other)) continue;
                if (!other.startsWith(top) && !other.startsWith(folder)) continue;
                select.append(new Option(other, other));
            }
            if (select.options.length > 1) select.selectedIndex = 1;
        }
        $('viewer').showModal();
        drawViewer();
    }

    function closeViewer() {
        if ($('viewer').open) $('viewer').close();
        $('viewer-stage').replaceChildren();
        viewer.path = null;
    }

    function loadImage(url) {
        return new Promise((resolve) => {
            const img = new Image();
            img.onload = () => resolve(img);
            img.onerror = () => resolve(null);
            img.src = url;
        });
    }

    async function drawViewer() {
        const path = viewer.path;
        const file = session.files.get(path);
        const basePath = $('viewer-base-label').hidden ? '' : $('viewer-base').value;
        const picture = await loadImage(file.url);
        const base = basePath ? await loadImage(session.files.get(basePath).url) : null;
        if (viewer.path !== path) return;
        const stage = $('viewer-stage');
        const layers = document.createElement('div');
        layers.className = 'layers';
        if (!picture) {
            stage.replaceChildren('This browser cannot show this file; save it to look at it elsewhere.');
            return;
        }
        let width = picture.naturalWidth, height = picture.naturalHeight;
        if (base) {
            const placement = path.match(PLACEMENT);
            picture.style.left = `${placement[1]}px`;
            picture.style.top = `${placement[2]}px`;
            layers.append(base);
            width = Math.max(base.naturalWidth, Number(placement[1]) + width);
            height = Math.max(base.naturalHeight, Number(placement[2]) + height);
        }
        layers.append(picture);
        layers.style.width = `${width}px`;
        layers.style.height = `${height}px`;
        const scale = viewer.actual
            ? 1
            : Math.min(8, (stage.clientWidth - 4) / width, (stage.clientHeight - 4) / height);
        layers.style.transform = `scale(${scale})`;
        const holder = document.createElement('div');
        holder.style.width = `${width * scale}px`;
        holder.style.height = `${height * scale}px`;
        holder.append(layers);
        stage.replaceChildren(holder);
        $('viewer-fit').setAttribute('aria-pressed', String(!viewer.actual));
        $('viewer-actual').setAttribute('aria-pressed', String(viewer.actual));
    }

    // ---- saving ----

    function download(blob, name) {
        const a = document.createElement('a');
        a.href = URL.createObjectURL(blob);
        a.download = name;
        document.body.append(a);
        a.click();
        a.remove();
        setTimeout(() => URL.revokeObjectURL(a.href), 60000);
    }

    // Members stored as they are: PNG files are compressed already.
    async function buildZip() {
        const chunks = [];
        let failure = null;
        const zip = new fflate.Zip((error, chunk) => {
            if (error) failure = error;
            else chunks.push(chunk);
        });
        for (const [path, file] of session.files) {
            const member = new fflate.ZipPassThrough(path);
            zip.add(member);
            member.push(new Uint8Array(await file.blob.arrayBuffer()), true);
        }
        zip.end();
        if (failure) throw failure;
        return new Blob(chunks, {type: 'application/zip'});
    }

    function zipName() {
        if (session.archives.length !== 1) return 'kegkit-pictures.zip';
        const name = session.archives[0].name;
        const dot = name.lastIndexOf('.');
        return (dot > 0 ? name.slice(0, dot) : name) + '.zip';
    }

    async function saveZip() {
        const button = $('download-zip');
        button.disabled = true;
        status('Making the ZIP…');
        try {
            download(await buildZip(), zipName());
            status(`Saved ${zipName()}.`);
        } catch (e) {
            addLine(`The ZIP could not be made (${e.message || e}).`, 'notice');
        }
        button.disabled = false;
    }

    async function saveToFolder() {
        let root;
        try {
            root = await window.showDirectoryPicker({mode: 'readwrite'});
        } catch (e) {
            return;  // the user closed the picker
        }
        try {
            for (const [path, file] of session.files) {
                const parts = path.split('/');
                let folder = root;
                for (const part of parts.slice(0, -1)) folder = await folder.getDirectoryHandle(part, {create: true});
                const handle = await folder.getFileHandle(parts[parts.length - 1], {create: true});
                const writable = await handle.createWritable();
                await writable.write(file.blob);
                await writable.close();
            }
            status(`Saved ${session.files.size} files into ${root.name}.`);
        } catch (e) {
            addLine(`The files could not all be saved (${e.message || e}).`, 'notice');
        }
    }

    // ---- wiring ----

    $('open').addEventListener('change', (event) => {
        openFiles(event.target.files);
        event.target.value = '';
    });
    document.addEventListener('dragover', (event) => {
        event.preventDefault();
        document.body.classList.add('dragging');
    });
    document.addEventListener('dragleave', (event) => {
        if (event.target === document.documentElement || event.target === document.body)
            document.body.classList.remove('dragging');
    });
    document.addEventListener('drop', (event) => {
        event.preventDefault();
        document.body.classList.remove('dragging');
        if (event.dataTransfer && event.dataTransfer.files.length) openFiles(event.dataTransfer.files);
    });
    $('download-zip').addEventListener('click', saveZip);
    if ('showDirectoryPicker' in window) {
        $('save-folder').hidden = false;
        $('save-folder').addEventListener('click', saveToFolder);
    }
    $('viewer-fit').addEventListener('click', () => {
        viewer.actual = false;
        drawViewer();
    });
    $('viewer-actual').addEventListener('click', () => {
        viewer.actual = true;
        drawViewer();
    });
    $('viewer-base').addEventListener('change', drawViewer);
    $('viewer-close').addEventListener('click', closeViewer);
    $('viewer').addEventListener('close', () => $('viewer-stage').replaceChildren());

    startWorker();
})();
