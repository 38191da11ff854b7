#!/usr/bin/python3
"""The page against the native kegkit on one archive, in one run: the best of
N runs of `kegkit extract --png -j 1 -o DIR ARCHIVE`, each writing afresh,
and the best of N openings of the archive in the page (headless Chromium,
from file://), from the file input's change to the page's "done" state, every
file handed to the page; the two take turns. The page's files are checked against kegkit's (the
ZIP's members) before anything is reported. Prints and writes to OUT:
"native_seconds S", "page_seconds S", "ratio R" (page / native),
"page_js_heap_bytes N" (the page's JavaScript heap after the last run),
"worker_wasm_bytes N" (the worker's WebAssembly memory at its largest) and
"page_file_bytes N" (the files the page holds, as blobs, for the gallery and
the ZIP: kegkit's PNG files).

   web_bench.py --site build-web/site --kegkit build/kegkit --archive A.cgf OUT [--runs 3]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By


def browser(downloads):
    o = Options()
    o.binary_location = "/usr/bin/chromium"
    for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
              "--disable-background-networking", "--disable-component-update", "--proxy-server=127.0.0.1:9",
              "--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1", "--enable-precise-memory-info"]:
        o.add_argument(a)
    o.add_experimental_option("prefs", {"download.default_directory": downloads,
                                        "download.prompt_for_download": False})
    d = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=o)
    d.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
    return d


def wait_state(d, state, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if d.execute_script("return document.body.dataset.state") == state:
            return
        time.sleep(0.02)
    raise SystemExit(f"the page did not reach {state!r} in {seconds} s")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("out")
    p.add_argument("--site", required=True)
    p.add_argument("--kegkit", required=True)
    p.add_argument("--archive", required=True)
    p.add_argument("--runs", type=int, default=3)
    a = p.parse_args()
    archive = os.path.abspath(a.archive)
    work = tempfile.mkdtemp(prefix="kegkit-web-bench-")
    native_out = os.path.join(work, "native")

    downloads = os.path.join(work, "downloads")
    os.makedirs(downloads)
    d = browser(downloads)
    native, page = [], []
    heap = 0
    try:
        # Runs taken in turns, so that a busy spell of the machine falls on both.
        for _ in range(a.runs):
            shutil.rmtree(native_out, ignore_errors=True)
            os.sync()
            start = time.perf_counter()
            subprocess.run([os.path.abspath(a.kegkit), "extract", "--png", "-j", "1", "-o", native_out, archive],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            native.append(time.perf_counter() - start)
            d.get("file://" + os.path.join(os.path.abspath(a.site), "index.html"))
            wait_state(d, "ready", 60)
            d.find_element(By.ID, "open").send_keys(archive)
            wait_state(d, "done", 1800)
            page.append(float(d.execute_script("return document.body.dataset.seconds")))
            heap = max(heap, int(d.execute_script("return document.body.dataset.heap")))
        js_heap = d.execute_script("return performance.memory ? performance.memory.usedJSHeapSize : 0")
        # The page's files are kegkit's.
        d.find_element(By.ID, "download-zip").click()
        end = time.time() + 600
        while time.time() < end and not [n for n in os.listdir(downloads) if n.endswith(".zip")]:
            time.sleep(0.1)
        zips = [n for n in os.listdir(downloads) if n.endswith(".zip")]
        if not zips:
            raise SystemExit("no ZIP from the page")
        with zipfile.ZipFile(os.path.join(downloads, zips[0])) as z:
            file_bytes = sum(info.file_size for info in z.infolist())
            for info in z.infolist():
                with open(os.path.join(native_out, info.filename), "rb") as f:
                    if f.read() != z.read(info):
                        raise SystemExit(f"{info.filename}: the page's file differs from kegkit's")
            if len(z.infolist()) != sum(len(files) for _, _, files in os.walk(native_out)):
                raise SystemExit("the page's ZIP and kegkit's folder hold different numbers of files")
    finally:
        d.quit()
        shutil.rmtree(work, ignore_errors=True)

    lines = [f"native_seconds {min(native):.3f}", f"native_runs {' '.join(f'{t:.3f}' for t in native)}",
             f"page_seconds {min(page):.3f}", f"page_runs {' '.join(f'{t:.3f}' for t in page)}",
             f"ratio {min(page) / min(native):.2f}", f"page_js_heap_bytes {js_heap}", f"worker_wasm_bytes {heap}",
             f"page_file_bytes {file_bytes}"]
    with open(a.out, "w") as f:
        f.write("\n".join(lines) + "\n")
    print("\n".join(lines))


if __name__ == "__main__":
    sys.exit(main())
