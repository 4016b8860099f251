#!/usr/bin/python3
"""The status page of the real halcyra-server in a real browser: headless Chromium renders the page and
the test reads the stations from the rendered DOM; /metrics must parse as Prometheus text and
/stations.json as JSON. The encryption key is published but must appear nowhere. A station without a
position (0/0) is listed but kept off the map. A second server asking for the page's port is refused,
and (on Linux) a server started again on it right after a clean stop gets it.

With --launcher (the Windows build under wine) the same page is checked, and then the defences that
need other source addresses (wine's own sockets cannot send from 127.0.0.2, these can): a held nickname
and a network outside --allow.

Usage: status_page_test.py [--launcher WINE_RUN] HALCYRA_SERVER [CHROMIUM]
"""
import html.parser
import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

from prometheus_client.parser import text_string_to_metric_families

KEY = "73519"
HAWK = "Hawk 2@42.176000 42.480000 1655 251.000 124.000 030.000 _X_ 251.000 " + KEY + " 2 "
MARKUP = "<b>Bad</b> & co@41.900000 41.800000 900 251.000 000.000 000.000 X__ 000.000 " + KEY + " 0 "
# A plug-in that has no position yet publishes 0/0.
ROOKIE = "Rookie@0.000000 0.000000 0 251.000 000.000 000.000 X__ 000.000 0 0 "


def fail(message):
    print("FAILED: " + message)
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)


class Dom(html.parser.HTMLParser):
    """Rows of the stations table (cell texts and classes), the map's pin labels, the tags seen and the meta
    refresh."""

    def __init__(self):
        super().__init__()
        self.rows, self.tags, self.refresh, self.map_labels = [], [], None, []
        self._row = self._cell = self._label = None
        self._in_pin = False

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.tags.append(tag)
        if tag == "meta" and attrs.get("http-equiv", "").lower() == "refresh":
            self.refresh = attrs.get("content")
        if tag == "tr" and "station" in attrs.get("class", "").split():
            self._row = []
        elif tag == "td" and self._row is not None:
            self._cell = {"text": "", "class": attrs.get("class", "")}
        elif tag == "g":
            self._in_pin = "pin" in attrs.get("class", "").split()
        elif tag == "text" and self._in_pin:
            self._label = ""

    def handle_endtag(self, tag):
        if tag == "td" and self._cell is not None:
            self._row.append(self._cell)
            self._cell = None
        elif tag == "tr" and self._row is not None:
            self.rows.append(self._row)
            self._row = None
        elif tag == "text" and self._label is not None:
            self.map_labels.append(self._label)
            self._label = None
        elif tag == "g":
            self._in_pin = False

    def handle_data(self, data):
        if self._cell is not None:
            self._cell["text"] += data
        if self._label is not None:
            self._label += data


def start_server(program, arguments=("--http", "127.0.0.1:0")):
    process = subprocess.Popen(program + ["--bind", "127.0.0.1", "--port", "0", "--summary-seconds", "0"] +
                               list(arguments), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    udp = http = None
    with_page = "--http" in arguments
    seen = []
    deadline = time.time() + 60
    while time.time() < deadline and (udp is None or (with_page and http is None)):
        line = process.stdout.readline()
        if not line:
            break
        seen.append(line)
        udp = udp or (re.search(r"listening on 127\.0\.0\.1:(\d+)", line) or [None, None])[1]
        http = http or (re.search(r"status page on http://127\.0\.0\.1:(\d+)/", line) or [None, None])[1]
    if udp is None or (with_page and http is None):
        process.kill()
        fail("no start-up lines with the UDP port and the status page: " + "".join(seen))
    return process, int(udp), int(http or 0)


def check_second_server_is_refused(program, http_port):
    """A second server on the page's port must exit with an error that names the port, not share it."""
    try:
        second = subprocess.run(program + ["--bind", "127.0.0.1", "--port", "0", "--summary-seconds", "0",
                                           "--http", "127.0.0.1:%d" % http_port],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=60)
    except subprocess.TimeoutExpired as running:
        output = running.output or b""
        fail("a second server on the status page's port kept running: " +
             (output.decode("utf-8", "replace") if isinstance(output, bytes) else output))
    check(second.returncode != 0, "a second server on the status page's port started: " + second.stdout)
    check("another program already listens on port %d" % http_port in second.stdout,
          "the second server's error: " + second.stdout)
    check("status page on" not in second.stdout, "the second server served the page: " + second.stdout)


def wait_for_line(process, text):
    deadline = time.time() + 60
    while time.time() < deadline:
        line = process.stdout.readline()
        if not line:
            break
        if text in line:
            return line
    fail("no line containing " + repr(text))


def check_defences_from_other_addresses(program):
    process, udp_port, _ = start_server(program, ("--allow", "127.0.0.0/30"))
    try:
        pilot, stranger, outsider = (socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(3))
        for sock, address in ((pilot, "127.0.0.1"), (stranger, "127.0.0.2"), (outsider, "127.0.0.5")):
            sock.bind((address, 0))
            sock.settimeout(20)
        pilot.sendto(("SET:" + HAWK).encode(), ("127.0.0.1", udp_port))
        check(ask(pilot, udp_port, "GET:Hawk 2@ ") == HAWK, "the station was not stored")
        stranger.sendto(b"SET:Hawk 2@0 0 0 ", ("127.0.0.1", udp_port))
        check(ask(stranger, udp_port, "GET:Hawk 2@ ") == HAWK, "a stranger took the nickname over")
        wait_for_line(process, "the nickname is held by 127.0.0.1")
        outsider.sendto(b"GET:Hawk 2@ ", ("127.0.0.1", udp_port))
        wait_for_line(process, "not in an allowed network (--allow 127.0.0.0/30)")
    finally:
        process.kill()
        process.wait(timeout=20)
    print("held nickname and --allow from other source addresses: ok")


def ask(sock, port, query):
    sock.sendto(query.encode(), ("127.0.0.1", port))
    return sock.recvfrom(2048)[0].decode("utf-8", "replace")


def main():
    arguments = sys.argv[1:]
    launcher = []
    if arguments[0] == "--launcher":
        launcher, arguments = [arguments[1]], arguments[2:]
    program = launcher + [arguments[0]]
    chromium = arguments[1] if len(arguments) > 1 else "chromium"
    check_status_page(program, chromium, stops_on_sigterm=not launcher)
    if launcher:
        check_defences_from_other_addresses(program)


def check_status_page(program, chromium, stops_on_sigterm):
    process, udp_port, http_port = start_server(program)
    try:
        pilot = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        pilot.bind(("127.0.0.1", 0))
        pilot.settimeout(5)
        stranger = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        stranger.bind(("127.0.0.2", 0))
        stranger.settimeout(5)
        for record in (HAWK, MARKUP, ROOKIE):
            pilot.sendto(("SET:" + record).encode(), ("127.0.0.1", udp_port))
        check(ask(pilot, udp_port, "GET:Hawk 2@ ") == HAWK, "the station was not stored")
        # A hijack attempt from another address: refused, and counted under its reason.
        stranger.sendto(b"SET:Hawk 2@0 0 0 000.000 000.000 000.000 ___ 000.000 0 0 ", ("127.0.0.1", udp_port))
        check(ask(stranger, udp_port, "GET:Hawk 2@ ") == HAWK, "a stranger took the nickname over")

        base = "http://127.0.0.1:%d" % http_port
        with tempfile.TemporaryDirectory() as profile:
            rendered = subprocess.run(
                [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + profile, "--dump-dom", base + "/"],
                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, timeout=120).stdout
        dom = Dom()
        dom.feed(rendered)
        rows = {row[0]["text"]: row for row in dom.rows}
        check("Hawk 2" in rows, "no row for Hawk 2 in the rendered page: " + rendered[:2000])
        cells = [cell["text"] for cell in rows["Hawk 2"]]
        check(cells[1:5] == ["2", "42.176000", "42.480000", "1655"], "class and position: %r" % cells)
        check(cells[5] == "251.000" and cells[7] == "030.000", "radios 1 and 3: %r" % cells)
        check("124.000" in cells[6] and "active" in rows["Hawk 2"][6]["class"].split(), "active radio 2: %r" % cells)
        check(cells[8] == "251.000", "crypto frequency: %r" % cells)
        check(cells[9].endswith("s ago") and cells[10] == "127.0.0.1", "last seen and source: %r" % cells)
        check("<b>Bad</b> & co" in rows and "b" not in dom.tags, "a nickname's markup was not shown as text")
        check(sorted(dom.map_labels) == sorted(["Hawk 2", "<b>Bad</b> & co"]), "map labels %r" % dom.map_labels)
        # Listed without a position, and the map spans only the two that have one (about 40 NM apart).
        check("Rookie" in rows and rows["Rookie"][2]["text"] == "no position", "the 0/0 row: %r" % rows.get("Rookie"))
        width = re.search(r"map width (\d+) NM", rendered)
        check(width is not None and int(width[1]) < 200, "map width: %r" % (width and width[0]))
        check(dom.refresh is not None and int(dom.refresh) > 0, "the page does not reload itself")
        check(KEY not in rendered, "the encryption key is on the page")

        page = urllib.request.urlopen(base + "/", timeout=10)
        body = page.read().decode()
        check("default-src 'none'" in page.headers.get("Content-Security-Policy", ""), "no content security policy")
        check(not re.search(r"\b(src|href)\s*=|url\(|@import", body), "the page refers to other resources")

        stations = urllib.request.urlopen(base + "/stations.json", timeout=10).read().decode()
        check(KEY not in stations, "the encryption key is in /stations.json")
        parsed = json.loads(stations)
        check(sorted(s["nickname"] for s in parsed["stations"]) == sorted(["Hawk 2", "<b>Bad</b> & co", "Rookie"]),
              "/stations.json stations: %r" % parsed["stations"])

        metrics = urllib.request.urlopen(base + "/metrics", timeout=10)
        check(metrics.headers.get("Content-Type", "").startswith("text/plain; version=0.0.4"), "metrics content type")
        samples = {}
        for family in text_string_to_metric_families(metrics.read().decode()):
            for sample in family.samples:
                samples[(sample.name, tuple(sorted(sample.labels.items())))] = sample.value
        check(samples.get(("halcyra_refusals_total", (("reason", "held"),))) == 1, "held refusals: %r" % samples)
        check(samples.get(("halcyra_records", ())) == 3, "records: %r" % samples)
        check(samples.get(("halcyra_requests_total", ())) == 6, "requests: %r" % samples)
        check(samples.get(("halcyra_answers_total", ())) == 2, "answers: %r" % samples)
        check(urllib.request.urlopen(base + "/metrics", timeout=10).status == 200, "second /metrics")

        check_second_server_is_refused(program, http_port)
        check(urllib.request.urlopen(base + "/metrics", timeout=10).status == 200, "/metrics after the refusal")
    finally:
        # Under wine a signal does not reach the program as a console event: it is only stopped there.
        process.send_signal(signal.SIGTERM if stops_on_sigterm else signal.SIGKILL)
        code = process.wait(timeout=20)
    check(code == 0 or not stops_on_sigterm, "exit code %d after SIGTERM" % code)
    if stops_on_sigterm:
        # The page's connections that the server closed wait out TIME_WAIT on its port.
        again, _, again_http = start_server(program, ("--http", "127.0.0.1:%d" % http_port))
        again.send_signal(signal.SIGTERM)
        again.wait(timeout=20)
        check(again_http == http_port, "restart on port %d" % http_port)
    print("status page: stations, map, key hidden, JSON and Prometheus metrics, the port its own: ok")


if __name__ == "__main__":
    main()
