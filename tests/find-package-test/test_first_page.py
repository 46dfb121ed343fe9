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
        ["ifcsim-run", "--", "sh", "-c", 'echo "$IFCSIM_PORT $IFCSIM_DIR"; cat >/dev/null'],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    port, directory = run.stdout.readline().split()
    monkeypatch.setenv("IFCSIM_HOST", "127.0.0.1")
    monkeypatch.setenv("IFCSIM_PORT", port)
    yield directory
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
