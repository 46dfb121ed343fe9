#!/usr/bin/python3
"""The console in headless Chromium, as a person uses it: every page opens
and is photographed, changes typed into the forms reach the server and its
set files and come back on the page, each ready-made readings file is drawn
within the pages' layout (and photographed for the docs), an unreachable
controller gets its page."""

import os
import shutil
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
from selenium import webdriver  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.common.exceptions import WebDriverException  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support import expected_conditions as EC  # noqa: E402
from selenium.webdriver.support.select import Select  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

from console_support import (WAIT_SECONDS, Console, closed_port, http_get, pairs,  # noqa: E402
                             protocol_get, set_file_record)

PAGES = ["overview", "targets", "valves", "selection", "histograms", "measurements", "letoff",
         "traffic", "faults"]
READY_MADE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "dist",
                          "readings")

# What overflows the page's layout: a page wider than the window, a table
# cell whose content does not fit, a chart label outside its chart.
OVERFLOWS = """
const page = document.documentElement, bad = [];
if (page.scrollWidth > page.clientWidth) bad.push('page ' + page.scrollWidth + ' wide');
for (const cell of document.querySelectorAll('td, th'))
  if (cell.scrollWidth > cell.clientWidth + 1) bad.push('cell ' + cell.textContent);
for (const svg of document.querySelectorAll('svg')) {
  const view = svg.viewBox.baseVal;
  for (const text of svg.querySelectorAll('text:not([transform])')) {
    const box = text.getBBox();
    if (box.x < view.x || box.x + box.width > view.x + view.width ||
        box.y < view.y || box.y + box.height > view.y + view.height)
      bad.push(svg.id + ' label ' + text.textContent);
  }
}
return bad;
"""
SHOTS = os.environ.get("IFCSIM_SCREENSHOTS") or tempfile.mkdtemp(prefix="console-shots-")
REFRESH_SECONDS = 3  # how often the measurements page reloads itself


def chromium(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu",
                "--disable-background-networking", "--disable-component-update",
                "--disable-sync", "--no-first-run", "--window-size=1280,900",
                f"--user-data-dir={profile}"):
        options.add_argument(arg)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)



def replaced(element):
    """A wait condition: the page that held element has gone. While the page
    changes, chromium may say so as "stale element" or as a node that "does
    not belong to the document"; both mean the same here."""
    def gone(_):
        try:
            element.is_enabled()
            return False
        except WebDriverException:
            return True
    return gone

class BrowserCase(unittest.TestCase):
    """One console and one browser for the class, each in a fresh directory."""

    console_args = ()

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="ifcsim-browser-test-")
        cls.state = os.path.join(cls.dir, "state")
        args = [a.format(dir=cls.dir) for a in cls.console_args] or ("--dir", cls.state)
        cls.console = Console(*args, cwd=cls.dir)
        try:
            cls.browser = chromium(os.path.join(cls.dir, "profile"))
        except Exception:
            cls.console.stop()
            raise
        cls.wait = WebDriverWait(cls.browser, WAIT_SECONDS)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        cls.console.stop()
        shutil.rmtree(cls.dir, ignore_errors=True)

    def open(self, page):
        self.browser.get(f"{self.console.url}/cgi-bin/{page}")
        return self.browser

    def find(self, element_id):
        return self.wait.until(EC.presence_of_element_located((By.ID, element_id)))

    def submit(self, button_id):
        """Clicks the button and waits for the page the browser is sent to."""
        old = self.browser.find_element(By.TAG_NAME, "html")
        self.browser.find_element(By.ID, button_id).click()
        self.wait.until(replaced(old))
        self.wait.until(lambda b: b.execute_script("return document.readyState") == "complete")

    def type_into(self, element_id, text):
        field = self.find(element_id)
        field.clear()
        field.send_keys(text)

    def screenshot(self, name):
        """The whole page, however long, into the screenshot directory."""
        os.makedirs(SHOTS, exist_ok=True)
        height = self.browser.execute_script("return document.documentElement.scrollHeight")
        self.browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": 1280, "height": height, "deviceScaleFactor": 1, "mobile": False})
        try:
            self.assertTrue(self.browser.save_screenshot(os.path.join(SHOTS, f"{name}.png")))
        finally:
            self.browser.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})

    def script_errors(self):
        return [e for e in self.browser.get_log("browser") if e["level"] == "SEVERE"]

    def ifc_file(self, record):
        return set_file_record(os.path.join(self.state, "ifc_set.set"), record)


class PagesTest(BrowserCase):
    def test_every_page_opens_and_is_photographed(self):
        for page in PAGES:
            self.open(f"{page}.cgi")
            self.assertEqual(self.browser.find_elements(By.ID, "error"), [], page)
            self.assertTrue(self.find("title").text, page)
            nav = [a.get_attribute("href").rsplit("/", 1)[1]
                   for a in self.browser.find_elements(By.CSS_SELECTOR, "#nav a")]
            self.assertEqual(sorted(nav), sorted(f"{p}.cgi" for p in PAGES), page)
            self.assertEqual(self.script_errors(), [], page)
            self.screenshot(page)

    def test_root_leads_to_the_overview(self):
        self.browser.get(self.console.url + "/")
        self.wait.until(EC.url_to_be(f"{self.console.url}/cgi-bin/overview.cgi"))

    def test_target_typed_in_reaches_the_server(self):
        self.open("targets.cgi")
        self.type_into("to2", "123")
        self.submit("targets-save")
        self.assertEqual(self.find("to2").get_attribute("value"), "123")
        self.assertEqual(pairs(protocol_get(self.console.server_port, "IFC_get_Tot_Twt_2")),
                         {"to": 123, "tw": 240})
        self.assertEqual(self.ifc_file("Tot")[1:], (90, 123, 90, 90, 90, 90))

    def test_valve_point_of_one_colour_reaches_the_server(self):
        self.open("valves.cgi")
        self.find("colour-3").click()
        self.wait.until(EC.url_contains("colour=3"))
        self.type_into("main_on", "97")
        self.submit("valves-save")
        self.assertIn("colour=3", self.browser.current_url)
        self.assertEqual(self.find("main_on").get_attribute("value"), "97")
        port = self.console.server_port
        self.assertEqual(pairs(protocol_get(port, "IFC_get_on_off_3"))["main_on"], 97)
        self.assertEqual(pairs(protocol_get(port, "IFC_get_on_off_2"))["main_on"], 90)
        record = set_file_record(os.path.join(self.state, "valve_fp.set"), "VAL_main_on")
        self.assertEqual(record[1:], (90, 90, 97, 90, 90, 90))

    def test_selection_flag_ticked_reaches_the_server(self):
        self.open("selection.cgi")
        self.assertFalse(self.find("sub3").is_selected())
        self.find("sub3").click()
        self.submit("flags-save")
        self.assertTrue(self.find("sub3").is_selected())
        flags = pairs(protocol_get(self.console.server_port, "IFC_get_select_item"))
        self.assertEqual([k for k, v in flags.items() if v], ["sub3"])
        self.assertEqual(self.ifc_file("S1")[1:], (0, 0, 1, 0, 0, 0))

    def test_histogram_selection_reaches_the_server(self):
        self.open("histograms.cgi")
        Select(self.find("left-item")).select_by_visible_text("tb2")
        Select(self.find("left-colour")).select_by_visible_text("3")
        self.submit("select-left-save")
        self.assertEqual(self.find("left-item-shown").text, "tb2")
        self.assertEqual(self.find("left-colour-shown").text, "3")
        self.assertEqual(Select(self.find("left-item")).first_selected_option.text, "tb2")
        self.assertEqual(protocol_get(self.console.server_port, "IFC_get_hst_select"),
                         "3 tb2 2 tw")
        # left item number, left colour, right item number, right colour
        self.assertEqual(self.ifc_file("STAT_2")[1:5], (2, 3, 10, 2))


class RefreshTest(BrowserCase):
    def test_measurements_page_reloads_itself(self):
        self.open("measurements.cgi")
        old = self.browser.find_element(By.TAG_NAME, "html")
        WebDriverWait(self.browser, 3 * REFRESH_SECONDS).until(replaced(old))
        self.find("m-tbw-3")


class ReadingsTest(BrowserCase):
    console_args = ("--dir", "{dir}/state", "--readings", "{dir}/readings")

    def put_readings(self, name):
        """The ready-made file `name` in place, atomically, as ifcctl puts it."""
        path = os.path.join(self.dir, "readings")
        shutil.copyfile(os.path.join(READY_MADE, name), path + ".tmp")
        os.replace(path + ".tmp", path)

    def test_ready_made_files_are_drawn_within_the_layout(self):
        # Each page load shows the next frame of the commands it asks: every
        # page sees `loads` frames in a row (the overview those after the
        # histogram page's), and the photograph is of the frame after them:
        # ramp at 11 of 20, extremes at its largest numbers. full and ramp set
        # the histograms alone.
        cases = [("empty", 1, "in-place"), ("full", 1, "sets-none"), ("ramp", 5, "sets-none"),
                 ("extremes", 2, "in-place")]
        for name, loads, averages in cases:
            self.put_readings(name)
            for page, state in (("histograms", "in-place"), ("measurements", averages),
                                ("overview", None)):
                for load in range(loads):
                    self.open(f"{page}.cgi")
                    what = f"{name}, {page}, load {load + 1}"
                    self.assertEqual(self.browser.execute_script(OVERFLOWS), [], what)
                    if state:
                        self.assertEqual(self.find("readings").get_attribute("data-state"),
                                         state, what)
            self.open("histograms.cgi")
            self.assertEqual(self.browser.execute_script(OVERFLOWS), [], name)
            self.screenshot(f"readings-{name}")


class FaultsTest(BrowserCase):
    def test_preset_makes_the_next_save_fail_visibly(self):
        # As a person clicks through it: the preset, then the page and its save.
        self.open("faults.cgi")
        self.submit("preset-refuse")
        self.assertEqual(self.find("text-1").text, "PUT:* refuse times 1")
        self.screenshot("faults-refuse")

        self.open("targets.cgi")
        self.type_into("to1", "111")
        self.submit("targets-save")
        self.assertEqual(self.find("error").get_attribute("data-status"), "502")
        self.assertIn("refused by the server", self.find("reason").text)
        port = self.console.server_port
        self.assertEqual(pairs(protocol_get(port, "IFC_get_Tot_Twt_1"))["to"], 90)
        # The rule is spent: the same save again is taken.
        self.open("targets.cgi")
        self.type_into("to1", "111")
        self.submit("targets-save")
        self.assertEqual(self.find("to1").get_attribute("value"), "111")
        self.assertEqual(pairs(protocol_get(port, "IFC_get_Tot_Twt_1"))["to"], 111)


class UnreachableTest(BrowserCase):
    @classmethod
    def setUpClass(cls):
        cls.holder, cls.port = closed_port()
        cls.console_args = ("--controller", f"127.0.0.1:{cls.port}")
        super().setUpClass()

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        cls.holder.close()

    def test_unreachable_controller_gets_a_502_page_naming_it(self):
        address = f"127.0.0.1:{self.port}"
        status, _, body = http_get(self.console.url, "/cgi-bin/overview.cgi")
        self.assertEqual(status, 502)
        self.assertIn(address, body)

        self.open("overview.cgi")
        error = self.find("error")
        self.assertIn(address, error.text)
        self.assertTrue(self.find("retry").get_attribute("href").endswith("overview.cgi"))
        self.screenshot("unreachable")


if __name__ == "__main__":
    unittest.main(verbosity=2)
