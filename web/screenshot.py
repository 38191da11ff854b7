#!/usr/bin/python3
"""The README's picture of the page: headless Chromium opens the demo's
archive and event table (bash examples/run_demo.sh makes them) from file://
and saves the whole page as a PNG file.
   web/screenshot.py build-web/site docs/web-gallery.png build/demo-src/demo.cgf build/demo-src/evinfo.bin
"""
import base64
import os
import sys
import time

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

site, out, files = sys.argv[1], sys.argv[2], sys.argv[3:]
o = Options()
o.binary_location = "/usr/bin/chromium"
for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--hide-scrollbars", "--window-size=1100,900",
          "--disable-background-networking", "--proxy-server=127.0.0.1:9",
          "--host-resolver-rules=MAP * ~NOTFOUND"]:
    o.add_argument(a)
d = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=o)
try:
    d.get("file://" + os.path.join(os.path.abspath(site), "index.html"))
    while d.execute_script("return document.body.dataset.state") != "ready":
        time.sleep(0.05)
    d.find_element(By.ID, "open").send_keys("\n".join(os.path.abspath(f) for f in files))
    while d.execute_script("return document.body.dataset.state") != "done":
        time.sleep(0.05)
    # Every thumbnail decoded, then the whole page in one picture.
    d.execute_script("document.querySelectorAll('img').forEach((i) => i.loading = 'eager')")
    while not d.execute_script("return [...document.images].every((i) => i.complete)"):
        time.sleep(0.05)
    height = d.execute_script("return document.documentElement.scrollHeight")
    shot = d.execute_cdp_cmd("Page.captureScreenshot", {
        "captureBeyondViewport": True, "clip": {"x": 0, "y": 0, "width": 1100, "height": height, "scale": 1}})
    with open(out, "wb") as f:
        f.write(base64.b64decode(shot["data"]))
finally:
    d.quit()
