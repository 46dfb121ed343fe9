#!/usr/bin/python3
"""ifcsim-console end to end: its usage, the servers it starts and stops,
--controller, the installed layout."""

import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
from console_support import (CONSOLE, SERVER_LINE, WAIT_SECONDS, Console,  # noqa: E402
                             Program, TempDirCase, http_get, pairs, protocol_get,
                             protocol_put, set_file_record, start_server, wait_gone,
                             wait_lines)

ENTRY = re.compile(r'<tr class="entry" id="e-\d+" data-result="([^"]*)" data-command="([^"]*)"')

MARK = 4321  # a target no page shows unless the server holds it


def child_named(pids, name):
    """(pid, argv) of the process among `pids` that runs program `name`."""
    for pid in pids:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            argv = f.read().decode().split("\0")
        if os.path.basename(argv[0]) == name:
            return pid, argv
    raise AssertionError(f"no {name} among the children")


def refused(port):
    try:
        socket.create_connection(("127.0.0.1", port), 2).close()
        return False
    except ConnectionRefusedError:
        return True


def loopback_listeners(port):
    """Local addresses (hex, as the kernel lists them) listening on `port`."""
    found = []
    with open("/proc/net/tcp") as f:
        for line in list(f)[1:]:
            local, state = line.split()[1], line.split()[3]
            if state == "0A" and int(local.split(":")[1], 16) == port:
                found.append(local.split(":")[0])
    return found


class UsageTest(TempDirCase):
    def test_wrong_usage_is_one_line_and_status_2(self):
        cases = [
            ("unknown option", ["--bogus"]),
            ("port not a number", ["--http-port", "80x"]),
            ("port too large", ["--http-port", "65536"]),
            ("port missing", ["--http-port"]),
            ("bind not an address", ["--http-bind", "localhost"]),
            ("controller without port", ["--controller", "127.0.0.1"]),
            ("controller port 0", ["--controller", "127.0.0.1:0"]),
            ("controller without host", ["--controller", ":9000"]),
            ("dir with controller", ["--controller", "127.0.0.1:9000", "--dir", "x"]),
            ("empty dir", ["--dir", ""]),
            ("empty journal", ["--journal", ""]),
            ("empty readings", ["--readings", ""]),
            ("empty faults", ["--faults", ""]),
            ("positional argument", ["now"]),
            ("abbreviated option", ["--http-p", "8080"]),
        ]
        for name, argv in cases:
            r = subprocess.run([CONSOLE, *argv], cwd=self.dir, capture_output=True,
                               timeout=WAIT_SECONDS)
            self.assertEqual(r.returncode, 2, name)
            self.assertEqual(r.stdout, b"", name)
            lines = r.stderr.decode().splitlines()
            self.assertEqual(len(lines), 1, f"{name}: {lines}")
            self.assertTrue(lines[0].startswith("ifcsim-console: "), name)
        self.assertEqual(os.listdir(self.dir), [], "a wrong usage started something")

    def test_help_goes_to_stdout(self):
        r = subprocess.run([CONSOLE, "--help"], capture_output=True, timeout=WAIT_SECONDS)
        self.assertEqual(r.returncode, 0)
        self.assertTrue(r.stdout.startswith(b"usage: ifcsim-console [--http-port N]"))
        self.assertIn(b"\nExamples:\n", r.stdout)
        self.assertEqual(r.stderr, b"")


class ServeTest(TempDirCase):
    def test_pages_talk_to_the_started_server_in_its_directory(self):
        state = os.path.join(self.dir, "state")  # created by the launcher
        c = Console("--dir", state, cwd=self.dir)
        self.addCleanup(c.stop)
        self.assertEqual(loopback_listeners(c.server_port), ["0100007F"])
        protocol_put(c.server_port, "IFC_set_to_tw_1", f"to:{MARK} tw:240")

        status, headers, _ = http_get(c.url, "/")
        self.assertEqual(status, 302)
        self.assertEqual(headers.get("Location"), "/cgi-bin/overview.cgi")
        status, _, body = http_get(c.url, "/cgi-bin/overview.cgi")
        self.assertEqual(status, 200, body)
        self.assertIn(str(MARK), body)
        self.assertEqual(set_file_record(os.path.join(state, "ifc_set.set"), "Tot")[1], MARK)
        self.assertEqual(os.listdir(self.dir), ["state"], "files outside --dir")

    def test_stop_signal_ends_both_and_keeps_the_set_files(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            state = os.path.join(self.dir, sig.name)
            c = Console("--dir", state, cwd=self.dir)
            kids = c.children()
            self.assertEqual(len(kids), 2, sig.name)
            argv = child_named(kids, "lighttpd")[1]
            conf_dir = os.path.dirname(argv[argv.index("-f") + 1])
            protocol_put(c.server_port, "IFC_set_to_tw_2", f"to:{MARK} tw:241")

            self.assertEqual(c.stop(sig), 0, sig.name)
            self.assertEqual(wait_gone(kids), [], sig.name)
            self.assertTrue(refused(c.http_port) and refused(c.server_port), sig.name)
            self.assertEqual(set_file_record(os.path.join(state, "ifc_set.set"), "Tot")[2],
                             MARK, sig.name)
            self.assertFalse(os.path.exists(conf_dir), sig.name)
            self.assertEqual(c.out.wait_end()[-1], "ifcsim-console: stopped", sig.name)

    def test_killed_launcher_takes_its_servers_along(self):
        c = Console("--dir", self.dir, cwd=self.dir)
        kids = c.children()
        self.assertEqual(len(kids), 2)
        c.stop(signal.SIGKILL)
        self.assertEqual(wait_gone(kids), [])

    def test_server_that_ends_stops_the_console(self):
        c = Console("--dir", self.dir, cwd=self.dir)
        kids = c.children()
        os.kill(child_named(kids, "ifcsim")[0], signal.SIGKILL)
        self.assertEqual(c.wait(), 1)
        self.assertEqual(wait_gone(kids), [])
        self.assertIn("ifcsim-console: ifcsim ended by itself (signal 9); stopping",
                      c.err.wait_end())

    def test_big_request_body_is_refused_before_it_is_stored(self):
        c = Console("--dir", self.dir, cwd=self.dir)
        self.addCleanup(c.stop)
        with socket.create_connection(("127.0.0.1", c.http_port), WAIT_SECONDS) as s:
            s.sendall(b"POST /cgi-bin/letoff.cgi HTTP/1.0\r\nContent-Length: 104857600\r\n"
                      b"Content-Type: application/x-www-form-urlencoded\r\n\r\n")
            # Answered without waiting for a byte of the body.
            self.assertTrue(s.recv(64).startswith(b"HTTP/1.0 413 "))

    def test_traffic_page_shows_the_servers_journal(self):
        c = Console("--dir", self.dir, cwd=self.dir)
        self.addCleanup(c.stop)
        protocol_get(c.server_port, "IFC_get_stat")
        protocol_put(c.server_port, "append_log", "<b>\x1b[2J")
        protocol_get(c.server_port, "no_such_command")
        wait_lines(os.path.join(self.dir, "journal.jsonl"), 3)

        cases = [
            ("newest first", "", [("unknown", "no_such_command"), ("ok", "append_log"),
                                  ("ok", "IFC_get_stat")]),
            ("a command pattern", "?command=IFC_*", [("ok", "IFC_get_stat")]),
            ("a result", "?result=unknown", [("unknown", "no_such_command")]),
        ]
        for name, query, entries in cases:
            status, _, body = http_get(c.url, "/cgi-bin/traffic.cgi" + query)
            self.assertEqual(status, 200, name)
            self.assertEqual(ENTRY.findall(body), entries, name)
        self.assertIn('&lt;b&gt;<span class="byte">\\x1b</span>[2J', body_of(c, "append_log"))
        self.assertNotIn("<b>", body_of(c, "append_log"))

    def test_taken_http_port_fails_and_leaves_no_server(self):
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen()
            port = taken.getsockname()[1]
            p = Program([CONSOLE, "--http-port", str(port), "--dir", self.dir], self.dir)
            self.assertEqual(p.wait(), 1)
        err = p.err.wait_end()
        self.assertTrue(err and f"lighttpd could not listen on port {port}" in err[-1], err)
        server = p.out.wait_for(SERVER_LINE, 0)
        self.assertTrue(refused(int(server.group(1))))


def body_of(console, command):
    """The page of the newest journal entry of `command`."""
    _, _, body = http_get(console.url, f"/cgi-bin/traffic.cgi?command={command}")
    link = re.search(r'href="(traffic\.cgi\?at=[^"]*)"', body).group(1)
    status, _, entry = http_get(console.url, "/cgi-bin/" + link.replace("&amp;", "&"))
    assert status == 200, entry
    return entry


class ControllerTest(TempDirCase):
    def test_pages_talk_to_the_given_server_and_none_is_started(self):
        ext = os.path.join(self.dir, "ext")
        os.mkdir(ext)
        journal, readings = os.path.join(ext, "traffic.jsonl"), os.path.join(ext, "readings")
        with open(readings, "w") as f:
            f.write("average all to:0\n")
        server, port = start_server(ext, "--journal", journal, "--readings", readings)
        self.addCleanup(server.stop)
        protocol_put(port, "IFC_set_to_tw_1", f"to:{MARK} tw:240")
        cwd = os.path.join(self.dir, "cwd")
        os.mkdir(cwd)

        # Relative to where the console is started, as the server's were.
        c = Console("--controller", f"127.0.0.1:{port}", "--journal", "../ext/traffic.jsonl",
                    "--readings", "../ext/readings", "--faults", "../ext/faults", cwd=cwd)
        self.addCleanup(c.stop)
        _, _, body = http_get(c.url, "/cgi-bin/traffic.cgi")
        self.assertIn(("ok", "IFC_set_to_tw_1"), ENTRY.findall(body))
        _, _, body = http_get(c.url, "/cgi-bin/measurements.cgi")
        self.assertIn(f'data-state="in-place">Values on this page are set by the readings '
                      f'file <code id="readings-file">{readings}</code>', body)
        _, _, body = http_get(c.url, "/cgi-bin/faults.cgi")
        self.assertIn(f'<code id="faults-path">{ext}/faults</code>', body)
        self.assertIsNone(c.server_port)
        self.assertEqual(len(c.children()), 1, "more than lighttpd started")
        status, _, body = http_get(c.url, "/cgi-bin/overview.cgi")
        self.assertEqual(status, 200, body)
        self.assertIn(str(MARK), body)
        self.assertEqual(os.listdir(cwd), [])
        self.assertEqual(pairs(protocol_get(port, "IFC_get_Tot_Twt_1"))["to"], MARK)

    def test_page_settings_reach_the_pages(self):
        holder = socket.socket()
        holder.bind(("127.0.0.1", 0))
        self.addCleanup(holder.close)
        os.environ["IFCSIM_PAGE_DEADLINE_MS"] = "0"  # not a deadline: the pages say so
        self.addCleanup(os.environ.pop, "IFCSIM_PAGE_DEADLINE_MS")
        c = Console("--controller", f"127.0.0.1:{holder.getsockname()[1]}", cwd=self.dir)
        self.addCleanup(c.stop)
        status, _, body = http_get(c.url, "/cgi-bin/overview.cgi")
        self.assertEqual(status, 502)
        self.assertIn(">bad setting in the environment<", body)


@unittest.skipUnless(os.environ.get("IFCSIM_BUILD_DIR"), "needs IFCSIM_BUILD_DIR")
class InstalledTest(TempDirCase):
    def test_installed_launcher_finds_its_server_and_pages(self):
        prefix = os.path.join(self.dir, "prefix")
        subprocess.run(["cmake", "--install", os.environ["IFCSIM_BUILD_DIR"], "--prefix", prefix],
                       check=True, capture_output=True, timeout=120)
        state = tempfile.mkdtemp(dir=self.dir)
        c = Console("--dir", state, cwd=self.dir,
                    program=os.path.join(prefix, "bin", "ifcsim-console"))
        self.addCleanup(c.stop)
        status, _, body = http_get(c.url, "/cgi-bin/overview.cgi")
        self.assertEqual(status, 200, body)
        self.assertTrue(os.path.exists(os.path.join(state, "ifc_set.set")))

    def test_run_console_script_serves_the_pages_from_the_readme_build(self):
        # scripts/run-console as the README gives it, on this test's build tree.
        script = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "run-console")
        os.environ["IFCSIM_RUN_DIR"] = self.dir
        self.addCleanup(os.environ.pop, "IFCSIM_RUN_DIR")
        c = Console(cwd=self.dir, program=script)
        self.addCleanup(c.stop)
        status, _, body = http_get(c.url, "/cgi-bin/overview.cgi")
        self.assertEqual(status, 200, body)
        self.assertTrue(os.path.exists(os.path.join(self.dir, "ifc_set.set")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
