#!/usr/bin/python3
"""The live page of `qvschedule run --serve` in a real browser.

Starts the small HTTP target server and a `qvschedule run --http` of a ramp against it, both on
127.0.0.1, and opens the run's page in headless Chromium through WebDriver, via a small TCP relay
on 127.0.0.1 that the test can cut. It waits until the chart shows the planned and the running
vusers and the stage line reads the stage the API reports, cuts the connection and checks that the
page says so and picks up again, clicks Pause, Resume and Stop and checks after each that the API
and the page agree, saves a screenshot, and checks that the page asked nothing of any other
address. Every wait has a deadline; the whole test takes about fifteen seconds.

    browser_test.py --cli QVSCHEDULE --target QVSCHEDULE_TARGET --definition DEF.xml --out DIR
                    [--screenshot-copy PATH]
"""

import argparse
import json
import os
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

SPEED = 10       # the schedule runs this many times faster than real time
VUSERS = 24
WAIT = 20        # seconds any one wait may take
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--disable-default-apps", "--disable-extensions", "--window-size=1400,1000",
                  "--force-device-scale-factor=1", "--hide-scrollbars"]


class Failure(Exception):
    pass


def wait_until(what, check, timeout=WAIT, every=0.05):
    """Polls check() until it answers something true; its answer. Fails after `timeout`."""
    deadline = time.monotonic() + timeout
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(every)


class Child:
    """A program whose output lines are collected by a thread of their own."""

    def __init__(self, args):
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True)
        self.lines = []
        self.lock = threading.Lock()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            with self.lock:
                self.lines.append(line.rstrip("\n"))

    def find(self, prefix):
        with self.lock:
            return next((l for l in self.lines if l.startswith(prefix)), None)

    def output(self):
        with self.lock:
            return "\n".join(self.lines)

    def end(self, text=None):
        if self.process.poll() is None and text is not None:
            try:
                self.process.stdin.write(text)
                self.process.stdin.flush()
            except BrokenPipeError:
                pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        return self.process.returncode


class Relay:
    """A TCP relay on 127.0.0.1 to the server; cut() drops every connection and refuses new ones
    until mend()."""

    def __init__(self, port):
        self.upstream = ("127.0.0.1", port)
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.lock = threading.Lock()
        self.sockets = []
        self.open = True
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            with self.lock:
                if not self.open:
                    client.close()
                    continue
                server = socket.create_connection(self.upstream)
                self.sockets += [client, server]
            threading.Thread(target=self._pump, args=(client, server), daemon=True).start()

    def _pump(self, a, b):
        try:
            while True:
                ready, _, _ = select.select([a, b], [], [], 1.0)
                for s in ready:
                    data = s.recv(65536)
                    if not data:
                        raise OSError("closed")
                    (b if s is a else a).sendall(data)
        except OSError:
            pass
        finally:
            for s in (a, b):
                try:
                    s.close()
                except OSError:
                    pass

    def cut(self):
        with self.lock:
            self.open = False
            for s in self.sockets:
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
            self.sockets = []

    def mend(self):
        with self.lock:
            self.open = True

    def close(self):
        self.cut()
        self.listener.close()


def api_status(origin):
    with urllib.request.urlopen(origin + "/api/status", timeout=5) as response:
        return json.load(response)


def start_browser(profile):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for flag in CHROMIUM_FLAGS + ["--user-data-dir=" + profile]:
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    service = Service(shutil.which("chromedriver") or "/usr/bin/chromedriver")
    return webdriver.Chrome(service=service, options=options)


def text_of(driver, element_id):
    return driver.execute_script("return document.getElementById(arguments[0]).textContent;", element_id)


def chart_shows_both_series(driver):
    """Both series drawn, each with at least two steps."""
    return driver.execute_script("""
        const steps = (cls) => Array.from(document.querySelectorAll('#chart-vusers path.' + cls))
            .map((p) => (p.getAttribute('d') || '').split('V').length - 1);
        const planned = steps('planned'), actual = steps('actual');
        return planned.length > 0 && actual.length > 0 && Math.min(...planned) >= 2 && Math.min(...actual) >= 2;""")


def click_and_check(driver, origin, button, state):
    """Clicks a control button; the API and the page must then both say `state`."""
    driver.find_element("id", button).click()
    wait_until("the API to say " + state, lambda: api_status(origin)["state"] == state)
    wait_until("the page to say " + state, lambda: text_of(driver, "state") == state)
    # The page may show the new state from the event stream before the call's own answer is in.
    def answered():
        text = text_of(driver, "answer")
        return text if "→" in text or "failed" in text else None
    answer = wait_until("the answer of " + button, answered)
    if "→ 200" not in answer:
        raise Failure(f"{button}: the page showed {answer!r}")


def check_reconnects(driver, relay, origin):
    """Cuts the connection: the page says it is lost, then live again with a newer status."""
    relay.cut()
    wait_until("the page to see the connection lost",
               lambda: driver.execute_script("return document.getElementById('connection').dataset.state") == "lost")
    before = driver.execute_script("return run.status.time_s")
    relay.mend()
    wait_until("the page to be live again",
               lambda: driver.execute_script("return document.getElementById('connection').dataset.state") == "live")
    wait_until("a newer status after the reconnection",
               lambda: driver.execute_script("return run.status.time_s") > before)


def check_local_only(driver, port):
    """Every request the page made went to the relay on 127.0.0.1 (what the browser loads for
    itself, such as its own new-tab page, is not the page's)."""
    page = f"http://127.0.0.1:{port}/"
    urls = set()
    for record in driver.get_log("performance"):
        message = json.loads(record["message"])["message"]
        params = message.get("params", {})
        if message.get("method") == "Network.requestWillBeSent" and params.get("documentURL", "").startswith(page):
            urls.add(params["request"]["url"])
    strangers = sorted(u for u in urls if not u.startswith((page, "data:")))
    if strangers:
        raise Failure("the page asked other addresses: " + ", ".join(strangers))
    if not any("/api/events" in u for u in urls) or not any(u.endswith("/app.js") for u in urls):
        raise Failure("the page's own requests were not all seen: " + ", ".join(sorted(urls)))


def screenshot(driver, path):
    height = driver.execute_script("return document.documentElement.scrollHeight")
    driver.set_window_size(1400, max(1000, height))
    driver.save_screenshot(path)
    driver.set_window_size(1400, 1000)


def exercise(driver, relay, origin, out_dir):
    driver.get(f"http://127.0.0.1:{relay.port}/")
    wait_until("the chart to show planned and running vusers", lambda: chart_shows_both_series(driver))
    stage = wait_until("a stage from the API", lambda: (api_status(origin)["stage"] or {}).get("current"))
    wait_until("the stage line to read " + stage, lambda: api_status(origin)["stage"]["current"] in
               text_of(driver, "stage-line"))
    check_reconnects(driver, relay, origin)
    click_and_check(driver, origin, "pause", "paused")
    paused_at = api_status(origin)["time_s"]
    wait_until("the pause to last five schedule seconds", lambda: api_status(origin)["time_s"] >= paused_at + 5)
    click_and_check(driver, origin, "resume", "running")
    wait_until("the plateau of the ramp", lambda: api_status(origin)["time_s"] >= 85, timeout=WAIT)
    wait_until("the requests chart", lambda: driver.execute_script(
        "return document.querySelectorAll('#chart-http path.rps').length > 0"))
    shot = os.path.join(out_dir, "live-page.png")
    screenshot(driver, shot)
    click_and_check(driver, origin, "stop", "stopped")
    check_local_only(driver, relay.port)
    return shot


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--target", required=True)
    parser.add_argument("--definition", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--screenshot-copy")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    try:
        import selenium  # noqa: F401
    except ImportError:
        print("browser test: python3-selenium is missing (./scripts/install-deps installs it)", file=sys.stderr)
        return 1

    target = Child([args.target, "0", "120"])
    run = driver = relay = None
    profile = tempfile.mkdtemp(prefix="qvschedule-browser-")
    try:
        target_url = wait_until("the target server", lambda: target.find("http://127.0.0.1:"))
        run = Child([args.cli, "run", args.definition, "--speed", str(SPEED), "--vusers", str(VUSERS),
                     "--http", target_url + "ok", "--think-ms", "100", "--serve", "127.0.0.1:0",
                     "--serve-linger", "30"])
        page = wait_until("the live page's address", lambda: run.find("live page: "))
        origin = page.split()[2].rstrip("/")
        relay = Relay(int(origin.rsplit(":", 1)[1]))
        driver = start_browser(profile)
        shot = exercise(driver, relay, origin, args.out)
        if args.screenshot_copy:
            shutil.copyfile(shot, args.screenshot_copy)
        status = run.end("s\n")  # ends the linger
        if status != 3:
            raise Failure(f"qvschedule ended with {status}, not 3 (stopped)")
        print("browser test passed; screenshot: " + shot)
        return 0
    except Failure as failure:
        print("browser test FAILED: " + str(failure), file=sys.stderr)
        if run:
            print("--- qvschedule output ---\n" + run.output(), file=sys.stderr)
        return 1
    finally:
        if driver:
            driver.quit()
        if relay:
            relay.close()
        if run and run.process.poll() is None:
            run.process.kill()
            run.process.wait()
        if target.process.poll() is None:
            target.process.terminate()
        target.end()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
