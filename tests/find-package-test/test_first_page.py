import os
import subprocess

import pytest

PAGE = os.path.abspath(os.environ.get("FIRST_PAGE", "first_page.cgi"))


@pytest.fixture
def controller(monkeypatch):
    """A controller of its own for each test. ifcsim-run holds it while its
    command waits on standard input, and cleans up when the fixture closes
    that input, or when this process dies and the pipe closes with it."""
    run = subprocess.Popen(
        ["ifcsim-run", "--", "sh", "-c", "env | grep ^IFCSIM_; echo; cat >/dev/null"],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    for line in iter(run.stdout.readline, "\n"):
        name, value = line.rstrip("\n").split("=", 1)
        monkeypatch.setenv(name, value)
    yield os.environ["IFCSIM_DIR"]
    run.stdin.close()
    assert run.wait(10) == 0


def cgi(*args):
    return subprocess.run(["ifcsim-cgi", *args], capture_output=True, text=True,
                          check=True).stdout


def test_a_change_shows_on_the_page(controller):
    assert "<tr><td>main_on</td><td>90</td></tr>\n" in cgi("--body", PAGE)
    assert cgi("--status", PAGE, "item=main_on&value=95") == "303\n"
    assert "<tr><td>main_on</td><td>95</td></tr>\n" in cgi("--body", PAGE)
    assert os.path.getsize(os.path.join(controller, "valve_fp.set")) == 8960


def test_a_refused_save_shows_on_the_page(controller):
    subprocess.run(["ifcctl", "fault", "add", "* refuse times 1"], check=True)
    assert ('<p id="error" data-code="-6">the controller: refused by the server</p>\n'
            in cgi("--body", PAGE, "item=main_on&value=95"))
    subprocess.run(["ifcctl", "journal", "wait", "--count", "1", "--result", "refused"], check=True)
    assert "<tr><td>main_on</td><td>90</td></tr>\n" in cgi("--body", PAGE)
