"""Shared pieces of the browser tests and the browser bench: the built site served on 127.0.0.1,
Debian's headless Chromium driven by chromium-driver, and the native tool to compare against."""
import base64
import contextlib
import functools
import http.server
import os
import subprocess
import tempfile
import threading

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


@contextlib.contextmanager
def served(site):
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass

    handler = functools.partial(Quiet, directory=site)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield f"http://127.0.0.1:{server.server_address[1]}/"
    finally:
        server.shutdown()
        server.server_close()


@contextlib.contextmanager
def chromium(width=1200, height=900):
    """Headless Chromium as root on a closed network: no sandbox, no GPU, and nothing it would fetch
    by itself (component updates, sync, background requests), in a profile of its own."""
    with tempfile.TemporaryDirectory(prefix="quillpack-chromium-") as profile:
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", f"--user-data-dir={profile}", f"--window-size={width},{height}"):
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        driver.set_script_timeout(120)
        try:
            yield driver
        finally:
            driver.quit()


def to_page(data):
    return base64.b64encode(bytes(data)).decode()


def from_page(text):
    return base64.b64decode(text)


# Runs in the page: helpers the tests call through execute_async_script. Downloads are caught where
# the page hands their bytes to the browser (URL.createObjectURL), and bytes cross as base64.
PAGE_HELPERS = """
window.__b64 = (bytes) => { let s = ''; for (let i = 0; i < bytes.length; i += 0x8000) s += String.fromCharCode(...bytes.subarray(i, i + 0x8000)); return btoa(s); };
window.__bytes = (text) => Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
window.__downloads = [];
const create = URL.createObjectURL.bind(URL);
URL.createObjectURL = (blob) => { window.__downloads.push(blob); return create(blob); };
window.__download = async (index) => window.__b64(new Uint8Array(await window.__downloads[index].arrayBuffer()));
"""


def native(tool, args, cwd):
    return subprocess.run([tool, *args], cwd=cwd, capture_output=True)
