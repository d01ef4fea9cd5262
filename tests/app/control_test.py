#!/usr/bin/env python3
"""Palisim002's control port through http.client against real servers: health; a
rule of times 2 taken by an already open connection exactly twice; refused rules
changing nothing; removal by id; the journal in order, filtered, masked, emptied;
reset; the token; a non-loopback port without one; 32 stalled HTTP clients beside
host-port echoes; and seeded replies repeating run after run.

usage: control_test.py PALISIM002 SOURCE_DIR
"""
import http.client
import json
import os
import re
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

import waiting

binary, source = sys.argv[1], sys.argv[2]
CLEAR_PIN = "975318642086"
procs = []


def fail(what):
    for p in procs:
        p.kill()
    sys.exit("FAIL: " + what)


def expect(got, want, what):
    if got != want:
        fail("%s: %r, expected %r" % (what, got, want))


def wait_for(predicate, what):
    return waiting.wait_for(predicate, what, fail, 10)


def start(work, *args, env=None):
    out = open(os.path.join(work, "out-%d.txt" % len(procs)), "w+")
    proc = subprocess.Popen([binary, "--headless", "--quiet", "--port", "0", *args], cwd=work,
                            stdout=out, stderr=subprocess.STDOUT,
                            env={**os.environ, **(env or {})})
    procs.append(proc)
    return proc, out


def ready(out):
    def banner():
        out.seek(0)
        m = re.search(r"ready: (.*)", out.read())
        return dict(f.split("=", 1) for f in m.group(1).split()) if m else None
    return wait_for(banner, "no start-up line")


def call(address, method, path, body=None, token=None):
    host, port = address.rsplit(":", 1)
    conn = http.client.HTTPConnection(host, int(port), timeout=10)
    headers = {"Authorization": "Bearer " + token} if token else {}
    conn.request(method, path, body=body if isinstance(body, (str, bytes, type(None)))
                 else json.dumps(body), headers=headers)
    res = conn.getresponse()
    data = res.read()
    conn.close()
    return res.status, json.loads(data) if data and res.getheader("Content-Type", "").startswith(
        "application/json") else data


class Client:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.sock.settimeout(10)
        self.rest = b""

    def ask(self, request):
        self.sock.sendall(request.encode() + b"\r")
        while b"\r\n" not in self.rest:
            self.rest += self.sock.recv(65536)
        reply, self.rest = self.rest.split(b"\r\n", 1)
        return reply.decode()


work = tempfile.mkdtemp()
shutil.copy(os.path.join(source, "atalla.conf"), work)

proc, out = start(work, "--control", "127.0.0.1:0", "--inject", "98:close")
banner = ready(out)
api, port = banner["control"], int(banner["port"])
status, health = call(api, "GET", "/health")
expect((status, health["status"], health["config_loaded"], health["mfk_check_value"]),
       (200, "serving", True, banner["mfk"]), "health")

# A connection open before the rule takes it on its next requests, twice only.
client = Client(port)
expect(client.ask("<00#before#>"), "<00#000035#before#>", "echo before any rule")
status, rule = call(api, "POST", "/inject", {"command": "00", "reply": "<00#999935#>", "times": 2})
expect((status, rule["id"], rule["remaining"], rule["matched"]), (201, "control-1", 2, 0),
       "the added rule")
replies = [client.ask("<00#n%d#>" % i) for i in range(3)]
expect(replies, ["<00#999935#>"] * 2 + ["<00#000035#n2#>"], "replies under a rule of times 2")
listed = wait_for(lambda: (lambda r: r[0]["matched"] == 2 and r)(call(api, "GET", "/inject")[1]
                                                                  ["rules"]), "no uses listed")
expect([(r["id"], r["source"], r["remaining"]) for r in listed],
       [("control-1", "control", 0), ("command-line-1", "command line", None)], "the listing")

# Refused bodies answer 400 with the file's words and change nothing.
refused = [
    ({"command": "00", "approve": True},
     "inject section for command 00 cannot approve: approve takes 31, 32, 37, 5E, 99 or *"),
    ({"command": "31", "times": 0, "close": True}, "inject times must be 1 to 1000000000, not 0"),
    ({"command": "31", "latency_ms": "5"}, "inject latency_ms must be an integer"),
    ({"command": "31", "colour": 1}, "no such option 'colour'"),
    ({"close": True}, "inject section without a command"),
    ([1], "the body must be a JSON object"),
    ("{bad", "the body is not JSON"),
]
before = call(api, "GET", "/inject")
for body, message in refused:
    expect(call(api, "POST", "/inject", body), (400, {"error": message}), "refusal of %r" % body)
expect(call(api, "POST", "/inject", "x" * (65 * 1024))[0], 413, "a body over 64 KiB")
expect(call(api, "GET", "/inject"), before, "the rules after refusals")
for method, path, want in [("GET", "/nowhere", 404), ("PUT", "/inject", 405),
                           ("GET", "/reset", 405), ("DELETE", "/inject/control-9", 404),
                           ("DELETE", "/inject/command-line-1", 400),
                           ("DELETE", "/inject/control-1", 204)]:
    expect(call(api, method, path, "{}" if method == "PUT" else None)[0], want, method + path)
expect(call(api, "GET", "/inject")[1]["rules"][0]["id"], "command-line-1", "after the removal")

# The journal: in order, filtered, masked, emptied with seq counting on.
call(api, "DELETE", "/requests")
client.ask("<30#1PUNE000#%s#401234567890#>" % CLEAR_PIN)
client.ask("<00#last#>")
journal = wait_for(lambda: (lambda j: len(j["requests"]) == 2 and j)(call(api, "GET", "/requests")[1]),
                   "no journal")
first, second = journal["requests"]
expect((first["command"], second["command"], second["seq"] - first["seq"]), ("30", "00", 1),
       "journal order")
expect((second["reply"], second["peer"].startswith("127.0.0.1:"), second["tls"]),
       ("<00#000035#last#>", True, None), "an entry")
expect(CLEAR_PIN in json.dumps(journal) or "*" * len(CLEAR_PIN) not in first["request"], False,
       "the clear PIN masked")
expect([e["command"] for e in call(api, "GET", "/requests?command=30")[1]["requests"]], ["30"],
       "filtered by command")
expect(len(call(api, "GET", "/requests?limit=1")[1]["requests"]), 1, "limit")
expect(call(api, "GET", "/requests?after=%d" % first["seq"])[1]["requests"][0]["seq"],
       second["seq"], "after")
expect(call(api, "DELETE", "/requests")[0], 204, "emptying")
expect(call(api, "GET", "/requests")[1]["requests"], [], "emptied journal")
client.ask("<00#again#>")
again = wait_for(lambda: call(api, "GET", "/requests")[1]["requests"], "nothing after emptying")
expect(again[0]["seq"], second["seq"] + 1, "seq after emptying")
call(api, "POST", "/inject", {"command": "*", "latency_ms": 1})
expect(call(api, "POST", "/reset")[0], 204, "reset")
expect((len(call(api, "GET", "/inject")[1]["rules"]), call(api, "GET", "/requests")[1]["requests"]),
       (1, []), "after reset")


# 32 stalled HTTP clients beside echoes on the host port: latency stays of its order.
def echo_latency(n=300):
    times = []
    for i in range(n):
        t = time.perf_counter()
        client.ask("<00#%d#>" % i)
        times.append(time.perf_counter() - t)
    return statistics.median(times)


base = echo_latency()
host, cport = api.rsplit(":", 1)
stalled = [socket.create_connection((host, int(cport))) for _ in range(32)]
for s in stalled:
    s.sendall(b"GET /health HTTP/1.1\r\nHost: x\r\n")
loaded = echo_latency()
if loaded > max(4 * base, base + 0.001):
    fail("echo median %.1f us with 32 stalled control clients, %.1f us without" %
         (loaded * 1e6, base * 1e6))
for s in stalled:
    s.close()
expect(call(api, "GET", "/health")[0], 200, "health after the stalled clients")
proc.terminate()
proc.wait(10)

# The token: none and a wrong one are refused, the right one served; beyond loopback
# without a token nothing starts.
proc, out = start(work, "--control", "127.0.0.1:0", env={"PALISIM_CONTROL_TOKEN": "s3cret"})
api = ready(out)["control"]
for token, want in [(None, 401), ("wrong", 401), ("s3cret", 200)]:
    expect(call(api, "GET", "/health", token=token)[0], want, "token %r" % token)
proc.terminate()
proc.wait(10)
out.seek(0)
expect("s3cret" in out.read(), False, "the token in the output")
proc, out = start(work, "--control", "0.0.0.0:0")
expect(proc.wait(10), 2, "exit status beyond loopback without a token")


# Seeded: the same requests on one connection give the same bytes in every run.
def replies(*args):
    proc, out = start(work, *args)
    c = Client(int(ready(out)["port"]))
    got = [c.ask(r) for r in ["<10#1KDEE000##D#>", "<10#1KDEE000##T#>", "<10#1KDEE000##S#>"]]
    proc.terminate()
    proc.wait(10)
    return got


seed = ["--seed", "00112233445566778899aabbccddeeff"]
runs = [replies(*seed), replies(*seed), replies("--seed", "00112233445566778899aabbccddeef0"),
        replies()]
expect(runs[0], runs[1], "two runs with one seed")
expect(runs[0] != runs[2] and runs[0] != runs[3], True, "another seed, or none")
expect("random=seeded" in open(os.path.join(work, "out-%d.txt" % (len(procs) - 4))).read(), True,
       "the start-up line of a seeded run")
shutil.rmtree(work)
print("control port: every check passed")
