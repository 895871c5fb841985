"""Benchmark, not a test: the dashboard's node list with a fleet (1000 generated nodes) in headless
Chromium. Prints when the list is first drawn after the page is asked for (page, API call and
drawing), and how long sorting and filtering take to draw again.
usage: dashboard_browser_bench.py BUILD_DIR (build/sim)"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "browser"))
from dashboard_browser import browser  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import Select, WebDriverWait  # noqa: E402

NODES = 1000


def main():
    build = sys.argv[1]
    work = tempfile.mkdtemp(prefix="dashboard-bench-")
    db = os.path.join(work, "fleet.sqlite")
    subprocess.run([os.path.join(build, "tests", "fleet_registry"), db, str(NODES), "3"], check=True)
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    server = subprocess.Popen([os.path.join(build, "vantor"), "--db", db, "serve", "--http", f"127.0.0.1:{port}"],
                              stdout=subprocess.DEVNULL)
    driver = None
    try:
        time.sleep(0.5)
        driver = browser(os.path.join(work, "chromium"))
        wait = WebDriverWait(driver, 60)
        first = []
        for _ in range(5):
            driver.get(f"http://127.0.0.1:{port}/")
            wait.until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-nodes-shown") == str(NODES))
            first.append(float(driver.find_element(By.TAG_NAME, "body").get_attribute("data-first-list-ms")))
        sorts = []
        for key in ["current_a", "power_w", "last_seen_s", "uid", "temperature_c"]:
            driver.find_element(By.CSS_SELECTOR, f'th[data-key="{key}"]').click()
            sorts.append(float(driver.find_element(By.TAG_NAME, "body").get_attribute("data-render-ms")))
        Select(driver.find_element(By.ID, "filter-state")).select_by_visible_text("confirmed")
        filtered = float(driver.find_element(By.TAG_NAME, "body").get_attribute("data-render-ms"))
        first.sort()
        print(f"dashboard, {NODES} nodes in Chromium: list drawn {first[len(first) // 2]:.0f} ms after the page was "
              f"asked for (median of {len(first)}, {first[0]:.0f} to {first[-1]:.0f}); sorting redraws in "
              f"{min(sorts):.0f} to {max(sorts):.0f} ms, filtering in {filtered:.0f} ms")
    finally:
        if driver is not None:
            driver.quit()
        server.terminate()
        server.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
