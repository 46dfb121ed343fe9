#!/usr/bin/python3
"""ifcsim-cgi: the request a page gets, the answers a web server takes, and
those it would not pass on as meant, each refused with a message that names
the problem."""

import itertools
import json
import os
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True
from console_support import WAIT_SECONDS, TempDirCase  # noqa: E402

CGI = os.environ.get("IFCSIM_CGI", "")
HTML = b"Content-Type: text/html\r\n"
# The earlier README's broken page: a header, then cgi_redirect's own.
TWO_HEADERS = HTML + b"\r\n" + HTML.lower() + b"\r\n<html>\n<body onload='...'>\n</body></html>"


class CgiCase(TempDirCase):
    numbers = itertools.count()

    def page(self, source, mode=0o755):
        """A new CGI program in Python running `source`."""
        path = os.path.join(self.dir, f"page{next(self.numbers)}.cgi")
        with open(path, "w") as f:
            f.write(f"#!{sys.executable}\nimport json, os, signal, sys, time\n{source}\n")
        os.chmod(path, mode)
        return path

    def answering(self, answer, then=""):
        return self.page(f"sys.stdout.buffer.write({answer!r})\nsys.stdout.flush()\n{then}")

    def cgi(self, *args, env=None):
        return subprocess.run([CGI, *args], capture_output=True, timeout=WAIT_SECONDS,
                              env=env, cwd=self.dir)


class AnswerTest(CgiCase):
    def test_broken_answers_and_pages_are_refused_by_name(self):
        refused = [  # what the page writes, the message after "ifcsim-cgi: PAGE: "
            (b"", "no answer: the page wrote nothing"),
            (b"<html></html>\n", "no header block: the answer begins with '<html></html>'"),
            (HTML, "the header block does not end: no empty line after it"),
            (HTML + b"Set Cookie: a\r\n\r\nx", "line 2 is no header field: 'Set Cookie: a'"),
            (HTML + HTML.lower() + b"\r\nx", "Content-Type given twice (lines 1 and 2)"),
            (b"X-Note: 1\r\n\r\nhello", "a body but no Content-Type"),
            (b"X-Note: 1\r\n\r\n", "no Content-Type"),
            (b"Status: OK\r\n" + HTML + b"\r\nx", "line 1: 'Status: OK' is not a status (three "
             "digits and a reason, such as 'Status: 404 Not Found')"),
            (b"Location: /x\r\n" + HTML + b"\r\n<p>moved</p>", "a Location (line 1) with a body "
             "but no Status: the web server redirects and the body is lost; a redirect page "
             "needs a Status such as '303 See Other' and a Content-Type"),
            (TWO_HEADERS, "a header after the body began: line 3 'content-type: text/html' is "
             "page text to a web server (the header block ended at line 2; was a header "
             "written twice?)"),
        ]
        failing = [  # the page, options, exit status, message
            (self.page("os.kill(os.getpid(), signal.SIGSEGV)"), [], 3,
             "crashed (SIGSEGV, signal 11)"),
            (self.page("time.sleep(60)"), ["--timeout", "0.2"], 3, "did not finish within 0.2 s"),
            (self.answering(HTML + b"\r\nx", "sys.exit(4)"), [], 3, "exited with status 4"),
            (self.page("", mode=0o644), [], 2, f"cannot be started: {os.strerror(13)}"),
        ]
        for page, options, status, message in [
                *((self.answering(answer), [], 1, message) for answer, message in refused),
                *failing]:
            r = self.cgi(*options, page)
            self.assertEqual((r.returncode, r.stdout), (status, b""), message)
            self.assertEqual(r.stderr.decode(), f"ifcsim-cgi: {page}: {message}\n")

    def test_valid_answers_as_the_browser_gets_them(self):
        cases = [  # name, what the page writes, what ifcsim-cgi prints
            ("page", HTML + b"\r\n<p>hi</p>\n", b"HTTP/1.1 200 OK\nContent-Type: text/html\n\n"
             b"<p>hi</p>\n"),
            ("redirect", b"Status: 303 See Other\r\nLocation: page.cgi?done=1\r\n\r\n",
             b"HTTP/1.1 303 See Other\nLocation: page.cgi?done=1\n\n"),
            ("document", b"Status: 404\nContent-Type: text/plain\nX-Note:  a b \n\nnone\n",
             b"HTTP/1.1 404 Not Found\nContent-Type: text/plain\nX-Note: a b\n\nnone\n"),
        ]
        for name, answer, printed in cases:
            page = self.answering(answer)
            r = self.cgi(page)
            self.assertEqual((r.returncode, r.stderr, r.stdout), (0, b"", printed), name)
            head, _, body = printed.partition(b"\n\n")
            self.assertEqual(self.cgi("--body", page).stdout, body, name)
            self.assertEqual(self.cgi("--status", page).stdout, head[9:12] + b"\n", name)


class RequestTest(CgiCase):
    def test_the_page_gets_what_a_web_server_gives(self):
        page = self.page("print('Content-Type: application/json\\n')\nprint(json.dumps("
                         "[dict(os.environ), sys.stdin.read(), os.getcwd()]))")
        cases = [  # name, arguments, variables it has (None: lacks), standard input
            ("GET", [page, "a=1&b=2"],
             {"REQUEST_METHOD": "GET", "QUERY_STRING": "a=1&b=2", "HTTP_HOST": "localhost",
              "REQUEST_URI": f"/cgi-bin/{os.path.basename(page)}?a=1&b=2",
              "SERVER_NAME": "localhost", "SERVER_PORT": "80", "CONTENT_LENGTH": None,
              "CONTENT_TYPE": None, "HTTP_ORIGIN": None}, ""),
            ("POST", ["--post", "to1=95", "--header", "Host: 127.0.0.1:8080", "--header",
                      "X-Request-Id: 7", page],
             {"REQUEST_METHOD": "POST", "QUERY_STRING": "", "CONTENT_LENGTH": "6",
              "CONTENT_TYPE": "application/x-www-form-urlencoded", "HTTP_X_REQUEST_ID": "7",
              "HTTP_HOST": "127.0.0.1:8080", "SERVER_NAME": "127.0.0.1", "SERVER_PORT": "8080",
              "HTTP_ORIGIN": "http://127.0.0.1:8080"}, "to1=95"),
        ]
        common = {"GATEWAY_INTERFACE": "CGI/1.1", "SERVER_PROTOCOL": "HTTP/1.1",
                  "SCRIPT_NAME": "/cgi-bin/" + os.path.basename(page), "SCRIPT_FILENAME": page,
                  "REMOTE_ADDR": "127.0.0.1", "IFCSIM_PORT": "4321", "LD_LIBRARY_PATH": None}
        env = dict(os.environ, IFCSIM_PORT="4321", LD_LIBRARY_PATH="/nowhere")
        for name, args, has, stdin in cases:
            r = self.cgi("--body", *args, env=env)
            self.assertEqual(r.returncode, 0, f"{name}: {r.stderr}")
            seen, given, cwd = json.loads(r.stdout)
            want = {**common, **has}
            self.assertEqual({k: seen.get(k) for k in want}, want, name)
            self.assertEqual((given, cwd), (stdin, self.dir), name)


if __name__ == "__main__":
    unittest.main(verbosity=2)
