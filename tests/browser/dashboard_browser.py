"""The Vantor's dashboard in a real browser (headless Chromium from Debian, driven by Selenium)
against the Vantor inside orvane-sim: a node provisions, samples and sends its debug group; the
node list shows it with its latest reading; its page draws the telemetry and the capture; a
setting queued with the page's form reaches the node at its next window ("tx p5") and the page
shows it Applied without a reload. Screenshots are kept in ARTEFACTS and checked not blank.

usage: dashboard_browser.py ORVANE_SIM ARTEFACTS"""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

sys.path.insert(0, os.path.dirname(__file__))
import png_pixels  # noqa: E402

WAIT_S = 60  # the shared machine may be slow; nothing here should take more than a few seconds


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def until(what, check, timeout=WAIT_S):
    deadline = time.monotonic() + timeout
    while True:
        got = check()
        if got:
            return got
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.1)


def get_json(url):
    try:
        with urllib.request.urlopen(url, timeout=5) as r:
            return json.load(r)
    except OSError:
        return None


def browser(profile):
    o = webdriver.ChromeOptions()
    for a in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
              "--disable-background-networking", "--disable-component-update", "--disable-sync",
              "--disable-default-apps", "--disable-extensions", "--metrics-recording-only", "--no-proxy-server",
              "--window-size=1280,1000", f"--user-data-dir={profile}"]:
        o.add_argument(a)
    o.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    return webdriver.Chrome(service=Service(shutil.which("chromedriver") or "/usr/bin/chromedriver"), options=o)


def screenshot(driver, artefacts, name):
    path = os.path.join(artefacts, name)
    driver.save_screenshot(path)
    filled, colours = png_pixels.content(path)
    # A blank page is one colour; the dashboard has text, tables and curves on it.
    assert filled > 0.02 and colours > 8, f"{name} looks blank: {filled:.3f} of it drawn, {colours} colours"
    print(f"{name}: {filled:.1%} drawn, {colours} colours")


def main(sim_program, artefacts):
    os.makedirs(artefacts, exist_ok=True)
    work = tempfile.mkdtemp(prefix="dashboard-")
    port = free_port()
    base = f"http://127.0.0.1:{port}"
    out = open(os.path.join(artefacts, "orvane-sim.log"), "w")
    sim = subprocess.Popen([sim_program, "--speed", "0", "--state", os.path.join(work, "s"), "--load", "current=5,pf=0.8",
                            "--http", f"127.0.0.1:{port}"],
                           stdin=subprocess.PIPE, stdout=out, stderr=subprocess.STDOUT, text=True)
    driver = None
    try:
        def say(line):
            sim.stdin.write(line + "\n")
            sim.stdin.flush()

        for line in ["provision", "sample", "tx debug"]:
            say(line)
        # The debug group ends with packet 3, after packet 8 and the capture.
        node = until("the node's debug group in the registry",
                     lambda: (lambda n: n if n and n.get("configuration") and n.get("last_telemetry") else None)(
                         get_json(f"{base}/api/nodes/0x000001")))
        until("its capture", lambda: get_json(f"{base}/api/nodes/0x000001/capture"))
        # What the node measured, from its frame: the scenario's 5 A (its power factor waits for
        # the phase calibration that the setting below is about).
        current = node["last_telemetry"]["current_a"]
        assert abs(current - 5) < 0.1, node

        driver = browser(os.path.join(work, "chromium"))
        # Live events redraw the tables: an element found a moment ago may be gone, look again.
        wait = WebDriverWait(driver, WAIT_S, ignored_exceptions=[StaleElementReferenceException])
        driver.get(base + "/")
        row = 'tr[data-uid="0x000001"]'
        wait.until(lambda d: "alive" in d.find_element(By.ID, "nodes-summary").text)
        cells = wait.until(lambda d: [td.text for td in d.find_element(By.CSS_SELECTOR, row).find_elements(By.TAG_NAME, "td")])
        assert cells[0] == "0x000001" and cells[2] == "confirmed" and cells[3] == "active", cells
        assert cells[7] == f"{current:.3f}", (cells, current)
        assert driver.find_element(By.ID, "nodes-summary").text == "1 node, 1 alive"
        wait.until(lambda d: d.find_element(By.ID, "live").text == "live")
        screenshot(driver, artefacts, "nodes.png")

        wait.until(lambda d: d.find_element(By.CSS_SELECTOR, row + " td.chip").click() or True)
        wait.until(lambda d: d.current_url.endswith("/node/0x000001"))
        for box in ["telemetry-chart", "capture-chart"]:
            wait.until(lambda d: d.find_element(By.ID, box).get_attribute("data-drawn") == "yes")
            points = [int(g.get_attribute("data-points"))
                      for g in driver.find_elements(By.CSS_SELECTOR, f"#{box} svg g.series")]
            assert points and all(p > 0 for p in points), (box, points)
        capture = [int(g.get_attribute("data-points"))
                   for g in driver.find_elements(By.CSS_SELECTOR, "#capture-chart svg g.series")]
        assert capture[0] == 231, capture  # every scan row of the capture
        wait.until(lambda d: "git revision" in d.find_element(By.ID, "build-facts").text)
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#uplinks-table tbody tr"))
        wait.until(lambda d: d.find_element(By.ID, "live").text == "live")
        screenshot(driver, artefacts, "node.png")

        # A setting through the form; the page is not reloaded from here on.
        driver.execute_script("window.notReloaded = true;")
        Select(driver.find_element(By.ID, "setting-name")).select_by_value("phase")
        driver.find_element(By.ID, "setting-value").send_keys("0.5")
        driver.find_element(By.ID, "queue-submit").click()
        wait.until(lambda d: d.find_element(By.ID, "queue-message").text == "queued #1 for 0x000001: phase 0.5")
        state = lambda d: d.find_element(By.CSS_SELECTOR, '#queue-table tr[data-id="1"] .state').text  # noqa: E731
        wait.until(lambda d: state(d) == "pending")
        say("tx p5")  # the node's next receive window
        wait.until(lambda d: state(d) == "done")
        reason = driver.find_element(By.CSS_SELECTOR, '#queue-table tr[data-id="1"] .reason').text
        assert reason == "Applied", reason
        assert driver.execute_script("return window.notReloaded === true"), "the page was reloaded"
        # The answer came as an uplink of its own, in the table without a reload too.
        wait.until(lambda d: any(r.find_elements(By.TAG_NAME, "td")[2].text == "17"
                                 for r in d.find_elements(By.CSS_SELECTOR, "#uplinks-table tbody tr:not(.gap)")))
        driver.execute_script("window.scrollTo(0, document.body.scrollHeight)")
        screenshot(driver, artefacts, "applied.png")
        severe = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
        assert not severe, severe
    finally:
        if driver is not None:
            driver.quit()
        sim.stdin.close()
        try:
            sim.wait(timeout=WAIT_S)
        except subprocess.TimeoutExpired:
            sim.kill()
            sim.wait()
        out.close()
        shutil.rmtree(work, ignore_errors=True)
    assert sim.returncode == 0, f"orvane-sim exited with {sim.returncode}"
    print("dashboard_browser: ok")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
