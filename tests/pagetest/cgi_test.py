#!/usr/bin/python3
"""ifcsim-cgi: the request a page gets, the answers a web server takes, and
those it would not pass on as meant, each refused with a message that names
the problem."""

import json
import itertools
import os
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True
from console_support import WAIT_SECONDS, TempDirCase  # noqa: E402

CGI = os.environ.get("IFCSIM_CGI", "")

# The earlier README's broken page: a header, then cgi_redirect's own.
TWO_HEADERS = (b"content-type: text/html\r\n\r\ncontent-type: text/html\r\n\r\n<html>\n"
               b"<body onload='javascript:location.href=\"first_page.cgi\";'>\n</body></html>")


class CgiCase(TempDirCase):
    numbers = itertools.count()

    def page(self, source, mode=0o755):
        """A new CGI program in Python running `source`."""
        path = os.path.join(self.dir, f"page{next(self.numbers)}.cgi")
        with open(path, "w") as f:
            f.write(f"#!{sys.executable}\nimport os, signal, sys, time\n{source}\n")
        os.chmod(path, mode)
        return path

    def answering(self, answer, then=""):
        return self.page(f"sys.stdout.buffer.write({answer!r})\nsys.stdout.flush()\n{then}")

    def cgi(self, *args, env=None):
        return subprocess.run([CGI, *args], capture_output=True, timeout=WAIT_SECONDS,
                              env=env, cwd=self.dir)


class AnswerTest(CgiCase):
    def test_broken_answers_are_refused_by_name(self):
        cases = [
            # name, page, options, exit status, message after "ifcsim-cgi: PAGE: "
            ("nothing written", self.answering(b""), [], 1, "no answer: the page wrote nothing"),
            ("no header block", self.answering(b"<html></html>\n"), [], 1,
             "no header block: the answer begins with '<html></html>'"),
            ("header block without its end", self.answering(b"Content-Type: text/html\r\n"), [],
             1, "the header block does not end: no empty line after it"),
            ("a line that is no header field",
             self.answering(b"Content-Type: text/html\r\nSet Cookie: a\r\n\r\nx"), [], 1,
             "line 2 is no header field: 'Set Cookie: a'"),
            ("content-type twice",
             self.answering(b"Content-Type: text/html\r\ncontent-type: text/plain\r\n\r\nx"),
             [], 1, "Content-Type given twice (lines 1 and 2)"),
            ("a body without content-type", self.answering(b"X-Note: 1\r\n\r\nhello"), [], 1,
             "a body but no Content-Type"),
            ("no content-type at all", self.answering(b"X-Note: 1\r\n\r\n"), [], 1,
             "no Content-Type"),
            ("status that is not a status",
             self.answering(b"Status: OK\r\nContent-Type: text/html\r\n\r\nx"), [], 1,
             "line 1: 'Status: OK' is not a status (three digits and a reason, such as "
             "'Status: 404 Not Found')"),
            ("location with a body but no status",
             self.answering(b"Location: /x\r\nContent-Type: text/html\r\n\r\n<p>moved</p>"), [],
             1, "a Location (line 1) with a body but no Status: the web server redirects and "
             "the body is lost; a redirect page needs a Status such as '303 See Other' and a "
             "Content-Type"),
            ("header after the body began", self.answering(TWO_HEADERS), [], 1,
             "a header after the body began: line 3 'content-type: text/html' is page text "
             "to a web server (the header block ended at line 2; was a header written "
             "twice?)"),
            ("crash", self.page("os.kill(os.getpid(), signal.SIGSEGV)"), [], 3,
             "crashed (SIGSEGV, signal 11)"),
            ("hang", self.page("time.sleep(60)"), ["--timeout", "0.2"], 3,
             "did not finish within 0.2 s"),
            ("exit status", self.answering(b"Content-Type: text/html\r\n\r\nx", "sys.exit(4)"),
             [], 3, "exited with status 4"),
            ("not executable", self.page("", mode=0o644), [], 2,
             f"cannot be started: {os.strerror(13)}"),
        ]
        for name, page, options, status, message in cases:
            r = self.cgi(*options, page)
            self.assertEqual(r.returncode, status, name)
            self.assertEqual(r.stdout, b"", name)
            self.assertEqual(r.stderr.decode(), f"ifcsim-cgi: {page}: {message}\n", name)

    def test_valid_answers_as_the_browser_gets_them(self):
        cases = [
            ("page", b"Content-Type: text/html\r\n\r\n<p>hi</p>\n",
             b"HTTP/1.1 200 OK\nContent-Type: text/html\n\n<p>hi</p>\n"),
            ("redirect", b"Status: 303 See Other\r\nLocation: page.cgi?done=1\r\n\r\n",
             b"HTTP/1.1 303 See Other\nLocation: page.cgi?done=1\n\n"),
            ("redirect with its page",
             b"Status: 303 See Other\nLocation: /p\nContent-Type: text/html\n\n<a>p</a>",
             b"HTTP/1.1 303 See Other\nLocation: /p\nContent-Type: text/html\n\n<a>p</a>"),
            ("document", b"Status: 404\nContent-Type: text/plain\nX-Note:  a b \n\nnone\n",
             b"HTTP/1.1 404 Not Found\nContent-Type: text/plain\nX-Note: a b\n\nnone\n"),
        ]
        for name, answer, printed in cases:
            page = self.answering(answer)
            r = self.cgi(page)
            self.assertEqual((r.returncode, r.stderr), (0, b""), name)
            self.assertEqual(r.stdout, printed, name)
            head, _, body = printed.partition(b"\n\n")
            self.assertEqual(self.cgi("--body", page).stdout, body, name)
            self.assertEqual(self.cgi("--status", page).stdout, head[9:12] + b"\n", name)


class RequestTest(CgiCase):
    def test_the_page_gets_what_a_web_server_gives(self):
        page = self.page("data = sys.stdin.buffer.read().decode()\n"
                         "import json\n"
                         "print('Content-Type: application/json\\n')\n"
                         "print(json.dumps({'env': dict(os.environ), 'stdin': data, "
                         "'cwd': os.getcwd()}))")
        common = {"GATEWAY_INTERFACE": "CGI/1.1", "SERVER_PROTOCOL": "HTTP/1.1",
                  "SCRIPT_NAME": "/cgi-bin/" + os.path.basename(page), "SCRIPT_FILENAME": page,
                  "REMOTE_ADDR": "127.0.0.1", "IFCSIM_PORT": "4321"}
        cases = [
            # name, options and query, variables it has, variables it lacks, standard input
            ("GET", [page, "item=main_on&value=95"],
             {"REQUEST_METHOD": "GET", "QUERY_STRING": "item=main_on&value=95",
              "REQUEST_URI": f"/cgi-bin/{os.path.basename(page)}?item=main_on&value=95",
              "HTTP_HOST": "localhost", "SERVER_NAME": "localhost", "SERVER_PORT": "80"},
             ["CONTENT_LENGTH", "CONTENT_TYPE", "HTTP_ORIGIN", "LD_LIBRARY_PATH"], ""),
            ("POST", ["--post", "to1=95&tw1=250", page],
             {"REQUEST_METHOD": "POST", "QUERY_STRING": "", "CONTENT_LENGTH": "14",
              "CONTENT_TYPE": "application/x-www-form-urlencoded",
              "HTTP_ORIGIN": "http://localhost"},
             ["LD_LIBRARY_PATH"], "to1=95&tw1=250"),
            ("POST with headers",
             ["--post", "x", "--header", "Host: 127.0.0.1:8080", "--header", "Origin:",
              "--header", "Content-Type: text/plain", "--header", "X-Request-Id: 7",
              page],
             {"HTTP_HOST": "127.0.0.1:8080", "SERVER_NAME": "127.0.0.1", "SERVER_PORT": "8080",
              "CONTENT_TYPE": "text/plain", "HTTP_X_REQUEST_ID": "7"},
             ["HTTP_ORIGIN"], "x"),
        ]
        env = dict(os.environ, IFCSIM_PORT="4321", LD_LIBRARY_PATH="/nowhere")
        for name, options, has, lacks, stdin in cases:
            r = self.cgi("--body", *options, env=env)
            self.assertEqual(r.returncode, 0, f"{name}: {r.stderr}")
            seen = json.loads(r.stdout)
            self.assertEqual({k: seen["env"].get(k) for k in {**common, **has}},
                             {**common, **has}, name)
            self.assertEqual([k for k in lacks if k in seen["env"]], [], name)
            self.assertEqual((seen["stdin"], seen["cwd"]), (stdin, self.dir), name)


if __name__ == "__main__":
    unittest.main(verbosity=2)
