#!/usr/bin/python3
"""The page in headless Chromium against the native kegkit, byte for byte.

   web_suite.py --site build-web/site --build build

Makes its archives with the native build (the demo's pictures, packed by
kegkit create as 2.11, 2.12 and 2.13, and damaged ones), opens them through
the page's file input, served by a static server on 127.0.0.1 and from
file://, and compares every file the page offers (its gallery's save links
and its ZIP) with the files of `kegkit extract --png` and `kegkit merge
--png`, and every line it shows with kegkit's standard error. Chromium's
proxy points at a closed port, its name lookups go nowhere and its
background networking is off; its net log must show no request to any
address but 127.0.0.1. Where Firefox is installed, the page from file:// is
opened in it too (through its Marionette protocol, with its proxy at the same
closed port). Ends with "N passed, N failed".
"""
import argparse
import functools
import http.server
import json
import os
import socket
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import traceback
import zipfile

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

CLOSED_PORT = 9  # discard: nothing listens there


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def check_equal(got, expected, what):
    if got != expected:
        raise Failure(f"{what}:\n  got      {got!r}\n  expected {expected!r}")


# ---- inputs, and what the native kegkit makes of them ----

class Native:
    def __init__(self, build, work):
        self.kegkit = os.path.join(build, "kegkit")
        self.work = work

    def run(self, args, cwd, status=None):
        r = subprocess.run([self.kegkit] + args, cwd=cwd, capture_output=True)
        if status is not None and r.returncode != status:
            raise Failure(f"kegkit {' '.join(args)}: status {r.returncode}: {r.stderr.decode()}")
        return r

    def extract(self, archives, cwd):
        """kegkit extract --png's files (path -> bytes) and lines."""
        out = tempfile.mkdtemp(dir=self.work)
        r = self.run(["extract", "--png", "-o", out] + archives, cwd)
        return read_tree(out), r.stderr.decode().splitlines(), out

    def merge(self, table, pictures, cwd):
        out = tempfile.mkdtemp(dir=self.work)
        r = self.run(["merge", "--png", "-i", pictures, "-o", out, table], cwd)
        return {"events/" + k: v for k, v in read_tree(out).items()}, r.stderr.decode().splitlines()


def read_tree(root):
    files = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, root).replace(os.sep, "/")] = f.read()
    return files


def make_inputs(native, build, inputs):
    """The demo's pictures as archives of the three revisions, the demo
    archive and its event table, a damaged archive, junk, an empty archive."""
    src = os.path.join(inputs, "src")
    subprocess.run([os.path.join(build, "examples", "make_demo"), src], check=True, capture_output=True)
    for rev in ("2.11", "2.12", "2.13"):
        modes = ["", " rle", " stored" if rev == "2.13" else " lzss"]
        lines = ["picture bg01.bmp bg01.bmp", "picture cg\\bg02 bg02.bmp rle", "picture grey fig-mask.bmp",
                 "mask fig fig-mask.bmp -8 16"]
        lines += [f"picture fc0{i} fc0{i}.bmp{modes[i - 1]}" for i in (1, 2, 3)]
        lines += ["mask fig2 fig-mask.bmp 220 80", "picture cg\\fc01 fc01.bmp"]
        with open(os.path.join(src, f"r{rev}.manifest"), "w") as f:
            f.write("\n".join(lines) + "\n")
        native.run(["create", "-r", rev, "-o", os.path.join(inputs, "r" + rev.replace(".", "") + ".cgf"),
                    os.path.join(src, f"r{rev}.manifest")], src, 0)
    native.run(["create", "-r", "2.13", "-o", os.path.join(inputs, "demo.cgf"), "demo.manifest"], src, 0)
    native.run(["events", "write", "-o", os.path.join(inputs, "evinfo.bin"), "events.txt"], src, 0)

    # Names in code pages: cp932 (a trail byte 0x5C in "表" and "ソ", half-width
    # katakana, a folder) and gbk, written by kegkit create.
    for page, names in (("cp932", ["表示", "ソース\\ｱｲｳ", "立ち絵ａ"]), ("gbk", ["背景图", "人物\\立绘", "立绘ａ"])):
        lines = [f"picture {names[0]} bg01.bmp", f"picture {names[1]} bg02.bmp", "mask m fig-mask.bmp 5 6",
                 f"picture {names[2]} fc01.bmp"]
        with open(os.path.join(src, page + ".manifest"), "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        native.run(["create", "--names", page, "-o", os.path.join(inputs, page + ".cgf"), page + ".manifest"], src, 0)

    # Damaged: a 2.11 archive with an unsafe name, an entry that claims more
    # bytes than any stream could give, and the last data in the file cut short.
    with open(os.path.join(inputs, "r211.cgf"), "rb") as f:
        data = bytearray(f.read())
    listing = native.run(["list", "-r", "2.11", "r211.cgf"], inputs, 0).stdout.decode()
    rows = [line.split() for line in listing.splitlines() if re.match(r"\s*\d+\s", line)]
    data[4:4 + 16] = b"..\\evil.bmp".ljust(16, b"\0")
    corrupt = next(r for r in rows if r[1] == "grey")
    data[int(corrupt[2]) + 4:int(corrupt[2]) + 8] = (0x7FFFFF00).to_bytes(4, "little")
    last = max(int(r[3 if r[2] == "yes" else 2]) for r in rows)
    with open(os.path.join(inputs, "damaged.cgf"), "wb") as f:
        f.write(data[:last + 100])
    with open(os.path.join(inputs, "junk.cgf"), "wb") as f:
        f.write(bytes([0xFF, 0xFF, 0xFF, 0x7F]) + bytes(range(256)) * 4)
    with open(os.path.join(inputs, "empty.cgf"), "wb") as f:
        f.write(bytes(4))


# ---- the browser ----

class Browser:
    def __init__(self, work):
        self.downloads = os.path.join(work, "downloads")
        os.makedirs(self.downloads)
        self.net_log = os.path.join(work, "net-log.json")
        o = Options()
        o.binary_location = "/usr/bin/chromium"
        for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                  "--no-first-run", "--no-default-browser-check", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--disable-default-apps",
                  "--disable-features=OptimizationHints,MediaRouter,Translate",
                  f"--proxy-server=127.0.0.1:{CLOSED_PORT}",
                  "--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1",
                  f"--log-net-log={self.net_log}", "--net-log-capture-mode=Default",
                  "--window-size=1280,900"]:
            o.add_argument(a)
        o.add_experimental_option("prefs", {
            "download.default_directory": self.downloads, "download.prompt_for_download": False,
            "profile.default_content_setting_values.automatic_downloads": 1})
        o.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=o)
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                                    {"behavior": "allow", "downloadPath": self.downloads})

    def quit(self):
        self.driver.quit()

    def load(self, url):
        self.driver.get(url)
        self.wait_state(("ready",), 60)

    def state(self):
        return self.driver.execute_script("return document.body.dataset.state")

    def wait_state(self, states, seconds=120):
        end = time.time() + seconds
        while time.time() < end:
            s = self.state()
            if s in states:
                return s
            if s == "failed":
                raise Failure("the page failed: " + self.driver.find_element(By.ID, "status-text").text)
            time.sleep(0.05)
        raise Failure(f"the page is still {self.state()!r} after {seconds} s")

    def open(self, paths, until=("done",)):
        self.driver.find_element(By.ID, "open").send_keys("\n".join(paths))
        time.sleep(0.1)
        return self.wait_state(until)

    def lines(self):
        return [e.text for e in self.driver.find_elements(By.CSS_SELECTOR, ".message")]

    def paths(self):
        return [e.get_attribute("data-path") for e in self.driver.find_elements(By.CSS_SELECTOR, "[data-path]")]

    def take_download(self, seconds=60):
        end = time.time() + seconds
        while time.time() < end:
            done = [n for n in os.listdir(self.downloads) if not n.endswith(".crdownload")]
            if done:
                path = os.path.join(self.downloads, done[0])
                time.sleep(0.05)
                with open(path, "rb") as f:
                    data = f.read()
                os.remove(path)
                return done[0], data
            time.sleep(0.05)
        raise Failure("no download")

    def gallery_files(self):
        """Each picture's bytes, saved through its own link, which is its <img>'s."""
        files = {}
        for item in self.driver.find_elements(By.CSS_SELECTOR, "[data-path]"):
            path = item.get_attribute("data-path")
            img = item.find_element(By.TAG_NAME, "img").get_attribute("src")
            link = item.find_element(By.CSS_SELECTOR, "a.save")
            check_equal(link.get_attribute("href"), img, f"{path}: the saved file is the one shown")
            self.driver.execute_script("arguments[0].click()", link)
            files[path] = self.take_download()[1]
        return files

    def zip_files(self):
        self.driver.find_element(By.ID, "download-zip").click()
        name, data = self.take_download()
        check(name.endswith(".zip"), f"the ZIP's name {name}")
        path = os.path.join(self.downloads, "..", "page.zip")
        with open(path, "wb") as f:
            f.write(data)
        with zipfile.ZipFile(path) as z:
            check_equal(z.testzip(), None, "the ZIP's CRCs")
            return {i.filename: z.read(i) for i in z.infolist() if not i.is_dir()}

    def console_errors(self):
        return [e["message"] for e in self.driver.get_log("browser") if e["level"] == "SEVERE"]


def check_files(got, expected, what):
    check_equal(sorted(got), sorted(expected), f"{what}: the files")
    for path in expected:
        check(got[path] == expected[path], f"{what}: {path} differs from kegkit's ({len(got[path])} against "
                                           f"{len(expected[path])} bytes)")


# ---- the tests ----

def test_three_revisions_at_once(b, native, inputs, url):
    names = ["r211.cgf", "r212.cgf", "r213.cgf"]
    expected, lines, _ = native.extract(names, inputs)
    check(len(expected) == 3 * 7, f"kegkit wrote {len(expected)} files")
    b.load(url)
    b.open([os.path.join(inputs, n) for n in names])
    check_equal(b.lines(), lines, "the lines")
    check_files(b.gallery_files(), expected, "the gallery")
    check_files(b.zip_files(), expected, "the ZIP")
    check(all(p.split("/")[0] in ("r211", "r212", "r213") for p in b.paths()), "one folder for each archive")


def test_events_and_pictures(b, native, inputs, url):
    pictures, lines, folder = native.extract(["demo.cgf"], inputs)
    events, event_lines = native.merge("evinfo.bin", folder, inputs)
    check(len(events) == 3, f"kegkit merged {len(events)} events")
    b.load(url)
    b.open([os.path.join(inputs, "demo.cgf"), os.path.join(inputs, "evinfo.bin")])
    check_equal(b.lines(), lines + event_lines, "the lines")
    expected = dict(pictures, **events)
    check_files(b.gallery_files(), expected, "the gallery")
    check_files(b.zip_files(), expected, "the ZIP")
    # The full-size view of a placed picture over its base.
    b.driver.find_element(By.CSS_SELECTOR, '[data-path="fc01+x220y80.png"] .thumb').click()
    check(b.driver.find_element(By.ID, "viewer").get_attribute("open") is not None, "the viewer opens")
    check(len(b.driver.find_elements(By.CSS_SELECTOR, "#viewer-stage img")) == 2, "the picture over its base")
    b.driver.find_element(By.ID, "viewer-close").click()


def test_names_in_code_pages(b, native, inputs, url):
    names = ["cp932.cgf", "gbk.cgf"]
    expected, lines, _ = native.extract(names, inputs)
    check("cp932/ソース/ｱｲｳ.png" in expected and "gbk/人物/立绘.png" in expected, f"kegkit wrote {sorted(expected)}")
    b.load(url)
    b.open([os.path.join(inputs, n) for n in names])
    check_equal(b.lines(), lines, "the lines")
    check_files(b.zip_files(), expected, "the ZIP")


def test_damaged_and_hostile_archives(b, native, inputs, url):
    b.load(url)
    for name in ("damaged.cgf", "junk.cgf"):
        expected, lines, _ = native.extract([name], inputs)
        check(any("(skipped)" in line for line in lines) or "fits none" in " ".join(lines), f"{name}: {lines}")
        b.open([os.path.join(inputs, name)])
        check_equal(b.lines(), lines, f"{name}: the lines")
        check_files(b.gallery_files(), expected, f"{name}: the gallery")
    # The page still works for the next one.
    expected, lines, _ = native.extract(["demo.cgf"], inputs)
    b.open([os.path.join(inputs, "demo.cgf")])
    check_files(b.gallery_files(), expected, "demo.cgf after them")


def test_revision_is_asked_for(b, native, inputs, url):
    r = native.run(["extract", "--png", "-o", os.path.join(native.work, "e"), "empty.cgf"], inputs, 1)
    b.load(url)
    check_equal(b.open([os.path.join(inputs, "empty.cgf")], ("ask",)), "ask", "the state")
    check_equal(b.lines(), r.stderr.decode().splitlines(), "kegkit's line")
    buttons = b.driver.find_elements(By.CSS_SELECTOR, "#choice button.revision")
    check_equal([x.get_attribute("data-revision") for x in buttons], ["2.11", "2.12", "2.13"], "the choices")
    buttons[1].click()
    b.wait_state(("done",))
    check_equal(b.paths(), [], "an empty archive's files")


class Marionette:
    """Firefox's own remote protocol, as much as the test needs: JSON
    messages, each preceded by its length and a colon."""

    def __init__(self, profile, port):
        prefs = {"marionette.port": port, "network.proxy.type": 1, "network.proxy.http": "127.0.0.1",
                 "network.proxy.http_port": CLOSED_PORT, "network.proxy.share_proxy_settings": True,
                 "network.proxy.ssl": "127.0.0.1", "network.proxy.ssl_port": CLOSED_PORT,
                 "network.dns.disabled": True, "app.update.disabledForTesting": True,
                 "toolkit.telemetry.server": "", "network.captive-portal-service.enabled": False}
        with open(os.path.join(profile, "user.js"), "w") as f:
            f.writelines(f"user_pref({json.dumps(k)}, {json.dumps(v)});\n" for k, v in prefs.items())
        self.process = subprocess.Popen(["firefox-esr", "--headless", "--marionette", "--no-remote", "--profile",
                                         profile], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        end = time.time() + 60
        while True:
            try:
                self.socket = socket.create_connection(("127.0.0.1", port))
                break
            except OSError:
                if time.time() > end:
                    raise
                time.sleep(0.2)
        self.pending = b""
        self.next_id = 0
        self.receive()  # its greeting
        self.command("WebDriver:NewSession", {"capabilities": {}})

    def receive(self):
        while b":" not in self.pending:
            self.pending += self.socket.recv(65536)
        length, rest = self.pending.split(b":", 1)
        while len(rest) < int(length):
            rest += self.socket.recv(65536)
        self.pending = rest[int(length):]
        return json.loads(rest[:int(length)])

    def command(self, name, params):
        self.next_id += 1
        data = json.dumps([0, self.next_id, name, params]).encode()
        self.socket.sendall(str(len(data)).encode() + b":" + data)
        _, _, error, result = self.receive()
        if error:
            raise Failure(f"Firefox: {name}: {error}")
        return result

    def script(self, text):
        return self.command("WebDriver:ExecuteScript", {"script": text, "args": []})["value"]

    def wait_state(self, states, seconds=120):
        end = time.time() + seconds
        while time.time() < end:
            state = self.script("return document.body.dataset.state")
            if state in states:
                return state
            time.sleep(0.1)
        raise Failure(f"Firefox: the page is still {state!r} after {seconds} s")

    def quit(self):
        self.process.kill()
        self.process.wait()


def test_firefox_from_file(native, inputs, site, work):
    """The page from file:// in Firefox: its worker, its module and its
    gallery, every picture shown."""
    pictures, lines, folder = native.extract(["demo.cgf"], inputs)
    events, event_lines = native.merge("evinfo.bin", folder, inputs)
    profile = os.path.join(work, "firefox")
    os.makedirs(profile)
    firefox = Marionette(profile, 2828 + os.getpid() % 1000)
    try:
        firefox.command("WebDriver:Navigate", {"url": "file://" + os.path.join(site, "index.html")})
        firefox.wait_state(("ready",), 60)
        found = firefox.command("WebDriver:FindElement", {"using": "css selector", "value": "#open"})["value"]
        firefox.command("WebDriver:ElementSendKeys", {"id": next(iter(found.values())), "text": "\n".join(
            os.path.join(inputs, n) for n in ("demo.cgf", "evinfo.bin"))})
        firefox.wait_state(("done",))
        check_equal(firefox.script("return [...document.querySelectorAll('.message')].map((e) => e.textContent)"),
                    lines + event_lines, "Firefox: the lines")
        check_equal(sorted(firefox.script("return [...document.querySelectorAll('[data-path]')].map((e) => e.dataset.path)")),
                    sorted(list(pictures) + list(events)), "Firefox: the files")
        firefox.script("document.querySelectorAll('img').forEach((i) => i.loading = 'eager')")
        end = time.time() + 30
        while not firefox.script("return [...document.images].every((i) => i.complete)") and time.time() < end:
            time.sleep(0.1)
        check_equal(firefox.script("return [...document.images].filter((i) => !i.naturalWidth).map((i) => i.alt)"),
                    [], "Firefox: pictures it cannot show")
    finally:
        firefox.quit()


TESTS = [test_three_revisions_at_once, test_events_and_pictures, test_names_in_code_pages, test_damaged_and_hostile_archives,
         test_revision_is_asked_for]


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def serve(site):
    handler = functools.partial(QuietHandler, directory=site)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def leaks(net_log):
    """What the net log shows leaving for another address than 127.0.0.1: a
    request that a page made (Chromium's own, "not an origin", all go to the
    closed proxy), a TCP connection, or UDP data sent. A UDP socket that is
    only connected (Chromium asks the system which local address it would
    use) sends nothing."""
    with open(net_log) as f:
        text = f.read()
    try:
        log = json.loads(text)
    except json.JSONDecodeError:  # cut short at the end: close it
        log = json.loads(text.rstrip().rstrip(",") + "]}")
    names = {v: k for k, v in log["constants"]["logEventTypes"].items()}
    local = re.compile(r"^((https?|wss?)://)?(127\.0\.0\.1|localhost)(:\d+)?(/|$)|^(blob|data|file|about|chrome):")
    found = set()
    for event in log.get("events", []):
        kind = names.get(event["type"], "")
        params = event.get("params", {})
        if kind == "URL_REQUEST_START_JOB" and "url" in params and params.get("initiator") != "not an origin":
            if not local.match(params.get("url", "")):
                found.add(params.get("url"))
        elif kind in ("TCP_CONNECT", "TCP_CONNECT_ATTEMPT", "UDP_BYTES_SENT"):
            address = params.get("address", "")
            if address and not address.startswith(("127.0.0.1:", "[::1]:")):
                found.add(f"{kind} {address}")
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--site", required=True)
    parser.add_argument("--build", required=True)
    a = parser.parse_args()
    site = os.path.abspath(a.site)
    work = tempfile.mkdtemp(prefix="kegkit-web-")
    inputs = os.path.join(work, "inputs")
    os.makedirs(inputs)
    native = Native(os.path.abspath(a.build), work)
    make_inputs(native, os.path.abspath(a.build), inputs)
    server = serve(site)
    http_url = f"http://127.0.0.1:{server.server_address[1]}/index.html"
    file_url = "file://" + os.path.join(site, "index.html")
    runs = [(t, http_url) for t in TESTS] + [(test_events_and_pictures, file_url),
                                             (test_three_revisions_at_once, file_url)]
    passed = failed = 0
    browser = Browser(work)
    try:
        for test, url in runs:
            name = f"{test.__name__} ({url.split(':')[0]})"
            try:
                test(browser, native, inputs, url)
                errors = browser.console_errors()
                check(not errors, f"the console: {errors}")
                print(f"ok      {name}")
                passed += 1
            except Exception as e:  # noqa: BLE001 - every failure is reported, and the next test runs
                print(f"FAILED  {name}: {e}")
                if not isinstance(e, Failure):
                    traceback.print_exc()
                failed += 1
    finally:
        browser.quit()
        server.shutdown()
    if shutil.which("firefox-esr"):
        try:
            test_firefox_from_file(native, inputs, site, work)
            print("ok      test_firefox_from_file (file)")
            passed += 1
        except Exception as e:  # noqa: BLE001
            print(f"FAILED  test_firefox_from_file (file): {e}")
            failed += 1
    else:
        print("skipped test_firefox_from_file: Firefox (firefox-esr) is not installed")
    hosts = leaks(browser.net_log)
    if hosts:
        print(f"FAILED  no request leaves 127.0.0.1: {sorted(hosts)[:10]}")
        failed += 1
    else:
        print("ok      no request leaves 127.0.0.1 (net log)")
        passed += 1
    shutil.rmtree(work, ignore_errors=True)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
