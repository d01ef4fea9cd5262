#!/usr/bin/env python3
"""Palisim002 with its metrics endpoint on, its scrapes read by prometheus_client's
parser: known counts after a scripted run (echoes, refusals, an idle close, a close by
an inject rule), a metrics port already taken, a scrape and a stop beside 25 idle
connections, and every
metric name the Grafana dashboard's queries use.

usage: metrics_test.py PALISIM002 SOURCE_DIR
"""
import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

import waiting

from prometheus_client.parser import text_string_to_metric_families

binary, source = sys.argv[1], sys.argv[2]
ECHOES, REFUSED = 5, 3


def start(workdir, *args, env=None):
    out = open(os.path.join(workdir, "out-%d.txt" % len(os.listdir(workdir))), "w+")
    proc = subprocess.Popen([binary, "--headless", "--quiet", "--port", "0", *args],
                            cwd=workdir, stdout=out, stderr=subprocess.STDOUT,
                            env={**os.environ, **(env or {})})
    return proc, out


def wait_for(predicate, what):
    return waiting.wait_for(predicate, what, lambda w: sys.exit("FAIL: " + w), 5)


def banner(out):
    out.seek(0)
    match = re.search(r"ready: (.*)", out.read())
    return dict(field.split("=", 1) for field in match.group(1).split()) if match else None


def scrape(address):
    text = urllib.request.urlopen("http://%s/metrics" % address, timeout=5).read().decode()
    return {(s.name, frozenset(s.labels.items())): s.value
            for family in text_string_to_metric_families(text) for s in family.samples}


def value(samples, metric, **labels):
    return samples.get((metric, frozenset(labels.items())))


def expect(got, want, what):
    if got != want:
        sys.exit("FAIL: %s: %r, expected %r" % (what, got, want))


with tempfile.TemporaryDirectory() as work:
    with open(os.path.join(source, "atalla.conf")) as shipped:
        conf = re.sub(r"(?m)^idle_timeout = 0", "idle_timeout = 1", shipped.read())
    with open(os.path.join(work, "atalla.conf"), "w") as f:
        f.write(conf)
    proc, out = start(work, "--metrics", "127.0.0.1:0", "--inject", "98:close")
    ready = wait_for(lambda: banner(out), "no start-up line")
    metrics, port = ready["metrics"], int(ready["port"])

    # One client: echoes, requests refused for too few fields, an unknown command.
    sent = received = 0
    client = socket.create_connection(("127.0.0.1", port))
    requests = ["<00#m%d#>\r" % i for i in range(ECHOES)] + ["<31#x#>\r"] * REFUSED + ["<ZZ#>\r"]
    for request in requests:
        client.sendall(request.encode())
        sent += len(request)
        reply = client.recv(1024)
        received += len(reply)
    client.close()
    # A second client that sends nothing until the idle time-out closes it.
    idle = socket.create_connection(("127.0.0.1", port))
    idle.settimeout(5)
    expect(idle.recv(16), b"", "the idle client's connection")
    idle.close()
    # A third whose command 98 an inject rule answers by closing the connection.
    closing = socket.create_connection(("127.0.0.1", port))
    closing.settimeout(5)
    closing.sendall(b"<98#>\r")
    expect(closing.recv(16), b"", "the connection an inject rule closes")
    closing.close()

    # The loop publishes its counters within 100 ms; the inject rule's close came last.
    closed = lambda s: value(s, "palisim_connections_closed_total", cause="inject_close") == 1
    samples = wait_for(lambda: (lambda s: closed(s) and s)(scrape(metrics)), "no close counted")
    expect(value(samples, "palisim_requests_total", command="00"), ECHOES, "echoes")
    expect(value(samples, "palisim_requests_total", command="31"), REFUSED, "commands 31")
    expect(value(samples, "palisim_requests_total", command="other"), 1, "unknown commands")
    expect(value(samples, "palisim_request_errors_total", command="31", kind="too few fields"),
           REFUSED, "refusals for too few fields")
    expect(value(samples, "palisim_request_errors_total", command="other",
                 kind="unknown command"), 1, "unknown-command errors")
    errors = sum(v for (n, _), v in samples.items() if n == "palisim_request_errors_total")
    expect(errors, REFUSED + 1, "error replies of every kind")
    buckets = sorted((float(dict(l)["le"]), v) for (n, l), v in samples.items()
                     if n == "palisim_handler_duration_seconds_bucket" and ("command", "00") in l)
    expect(len(buckets), 17, "handler-time buckets")
    expect([v for _, v in buckets] == sorted(v for _, v in buckets), True, "cumulative buckets")
    expect(buckets[-1], (float("inf"), ECHOES), "the +Inf bucket")
    expect(value(samples, "palisim_handler_duration_seconds_count", command="00"), ECHOES,
           "timed echoes")
    expect(value(samples, "palisim_connections_accepted_total"), 3, "accepted connections")
    for cause in ("client", "idle_timeout"):
        expect(value(samples, "palisim_connections_closed_total", cause=cause), 1, cause)
    expect(value(samples, "palisim_injected_actions_total", command="98", action="close"), 1,
           "closes by the inject rule")
    expect(value(samples, "palisim_connections_open"), 0, "open connections")
    expect(value(samples, "palisim_received_bytes_total"), sent + 6, "bytes received")
    expect(value(samples, "palisim_sent_bytes_total"), received, "bytes sent")
    expect(value(samples, "palisim_config_loaded"), 1, "configuration loaded")
    expect(value(samples, "palisim_mfk_info", check_value=ready["mfk"]), 1, "MFK check value")
    expect(value(samples, "palisim_build_info", version=ready["version"]), 1, "version")
    expect(value(samples, "palisim_command_info", command="31", name="translate a PIN block",
                 reply_code="41"), 1, "command 31's row of the catalogue")
    started = value(samples, "palisim_start_time_seconds")
    expect(0 < time.time() - started < 60, True, "start time %r" % started)

    # A second simulator, its file naming the same metrics port: exit 3 and one line.
    with open(os.path.join(work, "taken.conf"), "w") as f:
        f.write('metrics = "%s"\n' % metrics)
    taken, taken_out = start(work, "--config", "taken.conf")
    expect(taken.wait(10), 3, "exit status with the metrics port taken")
    taken_out.seek(0)
    lines = taken_out.read().splitlines()
    expect(len(lines) == 1 and lines[0].startswith("Could not serve metrics on " + metrics),
           True, "output with the metrics port taken: %r" % lines)

    # Every metric the dashboard's queries use is in a real scrape.
    with open(os.path.join(source, "contrib", "grafana-dashboard.json")) as f:
        exprs = [t["expr"] for p in json.load(f)["panels"] for t in p.get("targets", [])]
    names = {name for (name, _) in scrape(metrics)}
    used = {n for e in exprs for n in re.findall(r"\bpalisim_[a-z_]+", e)}
    expect(sorted(used - names), [], "dashboard metrics missing from the scrape")
    expect(len(used) >= 10, True, "metric names the dashboard uses: %r" % used)

    # Idle connections that send nothing neither hold a scrape back nor the stop.
    host, metrics_port = metrics.rsplit(":", 1)
    idlers = [socket.create_connection((host, int(metrics_port))) for _ in range(25)]
    scrape(metrics)
    stop_started = time.monotonic()
    # An IPv6 literal is bound as given.
    v6, v6_out = start(work, "--metrics", "[::1]:0")
    v6_metrics = wait_for(lambda: banner(v6_out), "no start-up line with [::1]")["metrics"]
    expect(value(scrape(v6_metrics), "palisim_connections_open"), 0, "a scrape over IPv6")
    v6.terminate()
    expect(v6.wait(10), 0, "exit status after SIGTERM, metrics on [::1]")
    proc.terminate()
    expect(proc.wait(10), 0, "exit status after SIGTERM")
    stop_s = time.monotonic() - stop_started
    expect(stop_s < 1, True, "SIGTERM with metrics on took %.2f s" % stop_s)
    for idler in idlers:
        idler.close()
print("ok: %d echoes, %d refused, 1 idle close counted; dashboard names %s" %
      (ECHOES, REFUSED, ", ".join(sorted(used))))
