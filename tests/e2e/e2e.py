#!/usr/bin/python3
"""End-to-end tests: the built plugin runs in the development host, and its heartbeats travel over
real HTTPS to the local heartbeat receiver, which parses and checks them strictly.

    e2e.py --build DIR [--schema FILE] [--results FILE] [--only CASE ...]

Every case runs in its own directory with its own receiver; the case that runs a whole minute
starts first and the short ones run beside it. Prints one line per case and, with --results,
appends "e2e PASSED FAILED" to that file.
"""

import argparse
import http.client
import json
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import traceback
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
RECEIVER = os.path.join(ROOT, "tools", "receiver", "heartbeat-receiver")
MAKE_CERTS = os.path.join(ROOT, "tools", "receiver", "make-certs")
PYTHON = "/usr/bin/python3"

# What the development host's server states about itself.
SERVER = {
    "token": "vesperline-demo-token",
    "ip": "203.0.113.7",
    "port": 7777,
    "name": "Vesperline Demo (v58.17)",
    "map": "TheIsland_WP",
    "player_max": 70,
    "version": "58.17",
    "is_pve": True,
    "mods": "928102,931877",
}
FIRST_DAY = 37
UNLOAD_BOUND_MS = 2500  # the plugin's own wait is at most 2 s


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


def read_lines(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as lines:
        return [json.loads(line) for line in lines if line.strip()]


def free_port():
    """A port nothing listens on (bound, then let go)."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Receiver:
    """The heartbeat receiver on a port of its own, logging to a file."""

    def __init__(self, workdir, certs, schema, *extra):
        self.log = os.path.join(workdir, "receiver.jsonl")
        self.output = open(os.path.join(workdir, "receiver.out"), "w+", encoding="utf-8")
        self.process = subprocess.Popen(
            [PYTHON, RECEIVER, "--port", "0", "--cert", os.path.join(certs, "server.pem"),
             "--key", os.path.join(certs, "server.key"), "--schema", schema, "--log", self.log,
             *extra],
            stdout=subprocess.PIPE, stderr=self.output, text=True)
        first = self.process.stdout.readline()
        expect(first.startswith("listening on 127.0.0.1:"), f"receiver did not start: {first!r}")
        self.port = int(first.rsplit(":", 1)[1])
        # The rest of its output is drained so that it never blocks on a full pipe.
        threading.Thread(target=self.process.stdout.read, daemon=True).start()

    def entries(self, kind="request"):
        return [entry for entry in read_lines(self.log) if entry.get("kind") == kind]

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
        self.output.close()


WORK_DIRS = []


class Case:
    def __init__(self, options, name):
        self.options = options
        self.dir = tempfile.mkdtemp(prefix=f"vesperline-e2e-{name}-")
        WORK_DIRS.append(self.dir)

    def devhost(self, port, seconds, *extra, ca=None):
        """Runs the development host for the given time; returns (exit code, report entries)."""
        report = os.path.join(self.dir, "devhost.jsonl")
        with open(os.path.join(self.dir, "devhost.out"), "w", encoding="utf-8") as out:
            code = subprocess.run(
                [self.options.devhost, "--root", os.path.join(self.dir, "server"),
                 "--plugin", self.options.plugin, "--receiver", f"127.0.0.1:{port}",
                 "--ca", ca or os.path.join(self.options.certs, "ca.pem"),
                 "--duration", str(seconds), "--report", report, *extra],
                stdout=out, stderr=subprocess.STDOUT, timeout=seconds + 60).returncode
        return code, read_lines(report)

    def receiver(self, *extra):
        return Receiver(self.dir, self.options.certs, self.options.schema, *extra)


def events(report, name):
    return [entry for entry in report if entry.get("event") == name]


def check_clean_exit(code, report, requests):
    """The development host ended well: exit 0, a prompt unload, the number of requests the plugin
    made, and none of them still in flight."""
    expect(code == 0, f"devhost exited with {code}")
    unload = events(report, "unload")
    expect(len(unload) == 1, f"one unload expected, report: {report}")
    expect(unload[0]["ms"] < UNLOAD_BOUND_MS, f"unload took {unload[0]['ms']} ms")
    done = events(report, "exit")
    expect(done and done[0]["idle"], "a request was still in flight at exit")
    expect(done[0]["requests"] == requests,
           f"the plugin made {done[0]['requests']} requests, expected {requests}")


def check_document(document, status, regulars):
    """The members every heartbeat of the development host's server carries."""
    expect(document["status"] == status, f"status {document['status']}, expected {status}")
    for member, value in SERVER.items():
        expect(document.get(member) == value,
               f"{member} is {document.get(member)!r}, expected {value!r}")
    expect(isinstance(document.get("player_current"), int), "no player_current")
    expect(isinstance(document.get("day"), int) and document["day"] >= FIRST_DAY, "bad day")
    players = document.get("players")
    expect(isinstance(players, list), "no players array")
    for player in players:
        expect(player in regulars, f"player {player!r} is none of the development host's")
    expect(document["player_current"] >= len(players),
           "more player objects than controllers in the list")


def check_request(entry, url):
    expect(entry["path"] == urllib.parse.urlsplit(url).path, f"path {entry['path']}")
    expect(entry["host"] == urllib.parse.urlsplit(url).hostname, f"Host {entry['host']}")
    expect(entry["content_type"] == "application/json", f"type {entry['content_type']}")
    expect(entry["answer"] == 200, f"answer {entry['answer']}: {entry['reason']}")


def unload_within_seconds(options):
    """(a) Unloaded after a few seconds: exactly one heartbeat, "offline", arrived over TLS with
    every member; the version line written after start is in it, and the names with quotes,
    control characters, emoji and a broken surrogate arrived intact."""
    case = Case(options, "offline")
    receiver = case.receiver()
    try:
        code, report = case.devhost(receiver.port, 4, "--version-after", "1", "--all-players")
    finally:
        receiver.stop()
    check_clean_exit(code, report, 1)
    received = receiver.entries()
    expect(len(received) == 1, f"{len(received)} requests arrived, expected 1")
    sent = events(report, "request")[0]
    check_request(received[0], sent["url"])
    expect(received[0]["body"] == sent["body"], "the body changed on the way")
    regulars = events(report, "start")[0]["regulars"]
    document = received[0]["document"]
    check_document(document, "offline", regulars)
    expect(sorted(p["eos_id"] for p in document["players"]) ==
           sorted(p["eos_id"] for p in regulars), "not every player is listed")
    expect(sent["ok"] and sent["http_status"] == 200, f"the callback got {sent}")


def one_minute(options):
    """(b) A whole minute: the "online" heartbeat about 60 s after start with players and the
    day, then "offline" at unload; nothing else."""
    case = Case(options, "minute")
    receiver = case.receiver()
    try:
        code, report = case.devhost(receiver.port, 67, "--day-every", "25", "--event-every", "4")
    finally:
        receiver.stop()
    check_clean_exit(code, report, 2)
    received = receiver.entries()
    expect([entry["document"]["status"] for entry in received] == ["online", "offline"],
           f"received {[entry.get('document', {}).get('status') for entry in received]}")
    sent = events(report, "request")
    expect(59000 <= sent[0]["at_ms"] <= 64000, f"online heartbeat at {sent[0]['at_ms']} ms")
    regulars = events(report, "start")[0]["regulars"]
    for entry in received:
        check_request(entry, sent[0]["url"])
        check_document(entry["document"], entry["document"]["status"], regulars)
    online = received[0]["document"]
    expect(online["players"], "the online heartbeat lists no player")
    # The day advances every 25 s from day 37: day 39 from 50 s to 75 s.
    expect(online["day"] == FIRST_DAY + 2, f"day {online['day']} at one minute")
    expect(all(request["ok"] for request in sent), f"a request failed: {sent}")


def failed_requests(options):
    """(c, d) A request that fails (nobody listens, the receiver answers 500, its certificate is not
    from the authority the host trusts) is tried once and costs nothing else: the plugin carries on
    and unloads promptly."""
    for name, with_receiver, answer, error in [("down", False, 0, "onnect"),
                                               ("500", True, 500, ""),
                                               ("untrusted", True, 0, "certificate")]:
        case = Case(options, name)
        ca = None
        if name == "untrusted":
            ca = os.path.join(case.dir, "other-ca", "ca.pem")
            subprocess.run([MAKE_CERTS, os.path.dirname(ca), options.host], check=True)
        receiver = case.receiver(*(["--answer-500"] if answer == 500 else [])) \
            if with_receiver else None
        try:
            code, report = case.devhost(receiver.port if receiver else free_port(), 3, ca=ca)
            time.sleep(0.3)  # the receiver notes a failed handshake right after the client leaves
        finally:
            if receiver:
                receiver.stop()
        check_clean_exit(code, report, 1)
        sent = events(report, "request")
        expect(len(sent) == 1 and not sent[0]["ok"] and sent[0]["http_status"] == answer,
               f"{name}: request {sent}")
        expect(error.lower() in sent[0]["error"].lower(), f"{name}: error {sent[0]['error']}")
        if receiver:
            received = receiver.entries()
            expect([entry["answer"] for entry in received] == ([500] if answer else []),
                   f"{name}: received {received}")
            expect(len(receiver.entries("tls_error")) == (name == "untrusted"),
                   f"{name}: failed handshakes {receiver.entries('tls_error')}")


def receiver_is_strict(options):
    """The receiver itself: a valid heartbeat passes, with or without its optional members; every
    body a strict parser, the schema or the README's promises (member order, no line break at the
    end) refuse gets 400 with a reason; other paths, methods and content types are refused too."""
    case = Case(options, "strict")
    receiver = case.receiver()
    valid = {"token": "t", "ip": "203.0.113.7", "port": 7777, "status": "online", "name": "N",
             "map": "TheIsland_WP", "player_max": 70, "player_current": 1, "day": 3,
             "version": "58.17", "is_pve": False, "mods": "1,2",
             "players": [{"name": "A", "char_name": "B", "eos_id": "C", "player_data_id": 4}]}
    body = json.dumps(valid, separators=(",", ":")).encode()
    context = ssl.create_default_context(cafile=os.path.join(options.certs, "ca.pem"))

    def post(payload, path="/plugin/heartbeat", content_type="application/json", method="POST"):
        connection = http.client.HTTPSConnection(options.host, receiver.port, context=context,
                                                 timeout=10)
        # The name on the certificate is the heartbeat host's; the socket goes to the loopback.
        connection.sock = context.wrap_socket(
            socket.create_connection(("127.0.0.1", receiver.port), timeout=10),
            server_hostname=options.host)
        connection.request(method, path, body=payload, headers={"Content-Type": content_type})
        response = connection.getresponse()
        answer = (response.status, response.read().decode())
        connection.close()
        return answer

    try:
        required_only = {member: valid[member] for member in
                         ("token", "ip", "port", "status", "is_pve", "players")}
        for accepted in (body, json.dumps(required_only, separators=(",", ":")).encode()):
            status, reason = post(accepted)
            expect(status == 200, f"a valid heartbeat was refused: {status} {reason}")
        refused = {
            "invalid UTF-8": body.replace(b'"N"', b'"\xff"'),
            "NaN": body.replace(b'"day":3', b'"day":NaN'),
            "Infinity": body.replace(b'"day":3', b'"day":Infinity'),
            "a duplicate member": body.replace(b'"day":3', b'"day":3,"day":4'),
            "data after the value": body + b"{}",
            "a raw control character": body.replace(b'"N"', b'"a\tb"'),
            "a lone surrogate": body.replace(b'"N"', b'"\\ud800"'),
            "a wrong type": body.replace(b'"port":7777', b'"port":"7777"'),
            "a missing member": body.replace(b'"token":"t",', b''),
            "an unknown member": body.replace(b'"day":3', b'"day":3,"weather":"rain"'),
            "members out of order": body.replace(b'"token":"t","ip":"203.0.113.7"',
                                                 b'"ip":"203.0.113.7","token":"t"'),
            "a line break at the end": body + b"\n",
        }
        for what, payload in refused.items():
            status, reason = post(payload)
            expect(status == 400 and reason.strip(), f"{what}: answered {status} {reason!r}")
        expect(post(body, path="/other")[0] == 404, "another path was accepted")
        expect(post(body, content_type="text/plain")[0] == 415, "another type was accepted")
        expect(post(None, method="GET")[0] == 405, "GET was accepted")
    finally:
        receiver.stop()
    expect(len(receiver.entries()) == 16, "not every request was logged")


CASES = [one_minute, unload_within_seconds, failed_requests, receiver_is_strict]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="a Linux build directory")
    parser.add_argument("--schema", default=os.path.join(ROOT, "docs", "heartbeat.schema.json"))
    parser.add_argument("--results", help="append 'e2e PASSED FAILED' to this file")
    parser.add_argument("--only", nargs="*", help="run only these cases")
    options = parser.parse_args()
    options.devhost = os.path.join(options.build, "tools", "vesperline-devhost")
    options.plugin = os.path.join(options.build, "Vesperline.so")
    url = subprocess.run([options.devhost, "--heartbeat-url"], check=True, capture_output=True,
                         text=True).stdout.strip()
    options.host = urllib.parse.urlsplit(url).hostname
    options.certs = tempfile.mkdtemp(prefix="vesperline-e2e-certs-")
    WORK_DIRS.append(options.certs)
    subprocess.run([MAKE_CERTS, options.certs, options.host], check=True)

    cases = [case for case in CASES if not options.only or case.__name__ in options.only]
    outcomes = {}

    def run(case):
        started = time.monotonic()
        try:
            case(options)
            outcomes[case.__name__] = (True, "", time.monotonic() - started)
        except Exception as error:  # every failure of a case is reported, none ends the run
            detail = str(error) if isinstance(error, Failure) else traceback.format_exc()
            outcomes[case.__name__] = (False, detail, time.monotonic() - started)

    # The minute-long case runs beside the others, which run one after another.
    long_cases = [threading.Thread(target=run, args=(case,)) for case in cases if case is one_minute]
    for thread in long_cases:
        thread.start()
    for case in cases:
        if case is not one_minute:
            run(case)
    for thread in long_cases:
        thread.join()

    passed = failed = 0
    for case in cases:
        ok, detail, seconds = outcomes[case.__name__]
        print(f"{'PASS' if ok else 'FAIL'} {case.__name__} ({seconds:.1f} s)"
              + ("" if ok else f"\n    {detail}"))
        passed, failed = passed + ok, failed + (not ok)
    print(f"e2e: {passed} passed, {failed} failed")
    if failed == 0:
        for directory in WORK_DIRS:
            shutil.rmtree(directory, ignore_errors=True)
    else:
        print("the runs are kept for a look in: " + " ".join(WORK_DIRS))
    if options.results:
        with open(options.results, "a", encoding="utf-8") as results:
            results.write(f"e2e {passed} {failed}\n")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
