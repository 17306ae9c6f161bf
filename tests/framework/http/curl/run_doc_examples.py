#!/usr/bin/env python3
"""Runs the curl examples of docs/wire.md against a live server.

An example is an HTML comment line `<!-- example -->` (or
`<!-- example requires: NAME ... -->`), then a ```sh block holding one curl
command, then a block whose first line is the status line (`HTTP/1.1 200`)
and whose rest is the expected JSON answer. The command runs under /bin/sh
with $TOVRI_URL set to the server's base URL and every --set NAME=VALUE
exported as well; an example that requires a variable nobody set is listed
as skipped. The answer must have the documented status and parse to the
documented JSON (compared as values, not as text).

An answer block may instead start with `curl: (N)`: the command must then
fail with curl's exit status N (a TLS verification failure is 60), with no
answer to compare.

The server is started from --server: it must print "port N" on its first
line and stop when its standard input closes. With --pki-tool (the tests'
make_test_pki), a second server is started with TLS and bearer tokens, and
the examples that require any of SECURE_NAMES run against it, with those
names set: $TOVRI_URL then is its https:// URL. With --catalogue, the
discovery path is checked against the catalogue as well.
"""
import argparse
import json
import os
import re
import secrets
import hashlib
import subprocess
import sys
import tempfile
import tomllib
import urllib.request
from pathlib import Path

CURL_TIMEOUT_S = 20
EXAMPLE_MARK = re.compile(r"^<!-- example(?: requires:((?:\s+[A-Z_]+)+))? -->$")
STATUS_LINE = re.compile(r"^HTTP/1\.1 (\d{3})\b")
CURL_FAILURE = re.compile(r"^curl: \((\d+)\)")
SECURE_NAMES = ("TOVRI_CACERT", "TOVRI_OTHER_CA", "TOVRI_TOKEN", "TOVRI_READER_TOKEN")
STD_ERRORS = "com.corvane.tovri.std.errors."


def read_examples(doc):
    """[(line number, command, status, answer text, required names)]"""
    lines = doc.read_text(encoding="utf-8").splitlines()
    examples, i = [], 0

    def block(start):
        # The fenced block starting at or after `start`: (first line after it, its lines).
        j = start
        while j < len(lines) and not lines[j].startswith("```"):
            if lines[j].strip():
                raise ValueError(f"line {j + 1}: expected a fenced block")
            j += 1
        if j == len(lines):
            raise ValueError(f"line {start + 1}: a fenced block is missing")
        body, k = [], j + 1
        while k < len(lines) and not lines[k].startswith("```"):
            body.append(lines[k])
            k += 1
        return k + 1, lines[j][3:].strip(), body

    while i < len(lines):
        mark = EXAMPLE_MARK.match(lines[i].strip())
        if not mark:
            i += 1
            continue
        number = i + 1
        i, kind, command = block(i + 1)
        if kind != "sh":
            raise ValueError(f"line {number}: the command block must be ```sh")
        i, _, answer = block(i)
        status = STATUS_LINE.match(answer[0]) if answer else None
        failure = CURL_FAILURE.match(answer[0]) if answer else None
        if not status and not failure:
            raise ValueError(f"line {number}: the answer block must start with HTTP/1.1 <status> or curl: (N)")
        joined = " ".join(part.rstrip("\\").strip() for part in command if part.strip())
        if not joined.startswith("curl "):
            raise ValueError(f"line {number}: an example is one curl command")
        required = (mark.group(1) or "").split()
        expected = int(status.group(1)) if status else -int(failure.group(1))
        examples.append((number, joined, expected, "\n".join(answer[1:]), required))
    return examples


def run_example(command, env, workdir):
    out = Path(workdir) / "answer"
    if out.exists():
        out.unlink()
    full = f"{command} -sS -o '{out}' -w '%{{http_code}}' --max-time {CURL_TIMEOUT_S}"
    done = subprocess.run(["/bin/sh", "-c", full], env=env, capture_output=True, text=True,
                          timeout=CURL_TIMEOUT_S + 10)
    if done.returncode != 0:
        return -done.returncode, done.stderr.strip()
    body = out.read_text(encoding="utf-8") if out.exists() else ""
    return int(done.stdout.strip() or 0), body


def check_discovery(url, catalogue):
    """The services listed, their operations and declared errors, against the catalogue."""
    with urllib.request.urlopen(url + "/v1/services", timeout=CURL_TIMEOUT_S) as answer:
        listing = json.load(answer)
    expected = {}
    for path in sorted(Path(catalogue).rglob("*.toml")):
        for service in tomllib.loads(path.read_text(encoding="utf-8")).get("service", []):
            expected[service["id"]] = {
                op["name"]: {STD_ERRORS + re.sub(r"(?<!^)(?=[A-Z])", "_", e).lower() for e in op.get("errors", [])}
                for op in service.get("operation", [])}
    failures = []
    table = listing["structures"]
    listed = {s["id"]: s for s in listing["services"]}
    if set(listed) != set(expected):
        failures.append(f"services listed {sorted(listed)}, expected {sorted(expected)}")
    operations = 0
    for sid, ops in expected.items():
        got = {op["name"]: op for op in listed.get(sid, {}).get("operations", [])}
        if set(got) != set(ops):
            failures.append(f"{sid}: operations {sorted(got)}, expected {sorted(ops)}")
        for name, errors in ops.items():
            if name not in got:
                continue
            operations += 1
            declared = {e["name"] for e in got[name]["errors"] if e["type"] == "structure"}
            if declared != errors:
                failures.append(f"{sid}/{name}: errors {sorted(declared)}, expected {sorted(errors)}")
            for error in declared:
                if table.get(error, {}).get("name") != error or "fields" not in table[error]:
                    failures.append(f"{sid}/{name}: no definition of {error} in the table")
    # Every structure written by name only has its entry in the table.
    named, nodes = set(), [listing]
    while nodes:
        node = nodes.pop()
        if isinstance(node, dict):
            if node.get("type") == "structure" and "fields" not in node:
                named.add(node["name"])
            nodes.extend(node.values())
        elif isinstance(node, list):
            nodes.extend(node)
    missing = sorted(named - set(table))
    if missing:
        failures.append(f"structures named but not defined: {missing}")
    print(f"discovery: {len(listed)} services, {operations} operations, {len(table)} structures")
    return failures


def start_server(command):
    """The server process and its port, or (process, None) when it did not report one."""
    server = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    first = server.stdout.readline().split()
    if len(first) != 2 or first[0] != "port":
        print(f"{command[0]} did not report its port: {first}")
        return server, None
    return server, first[1]


def stop_server(server, failures):
    server.stdin.close()
    try:
        server.wait(timeout=15)
    except subprocess.TimeoutExpired:
        server.kill()
        failures.append("a server did not stop")
        return
    if server.returncode != 0:
        failures.append(f"a server exited with {server.returncode}")


def secure_setup(pki_tool, workdir):
    """The PKI files, a token file (owner-only) and the variables naming them."""
    made = subprocess.run([pki_tool, workdir], capture_output=True, text=True, check=True, timeout=60)
    files = dict(line.split(" ", 1) for line in made.stdout.splitlines())
    admin, reader = secrets.token_hex(16), secrets.token_hex(16)
    tokens = Path(workdir) / "tokens"
    with open(os.open(tokens, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), "w", encoding="utf-8") as out:
        for token, who, role in ((admin, "alice", "admin"), (reader, "bob", "reader")):
            out.write(f"sha256:{hashlib.sha256(token.encode()).hexdigest()} {who} {role}\n")
    names = {"TOVRI_CACERT": files["ca"], "TOVRI_OTHER_CA": files["other_ca"], "TOVRI_TOKEN": admin,
             "TOVRI_READER_TOKEN": reader}
    return ["--tls", files["server_cert"], files["server_key"], "--tokens", str(tokens)], names


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--server", required=True)
    parser.add_argument("--doc", required=True, type=Path)
    parser.add_argument("--catalogue")
    parser.add_argument("--pki-tool")
    parser.add_argument("--set", action="append", default=[], metavar="NAME=VALUE")
    args = parser.parse_args()

    examples = read_examples(args.doc)
    if not examples:
        print(f"no examples in {args.doc}")
        return 1
    failures, servers = [], []
    base = {"PATH": os.environ.get("PATH", "/usr/bin:/bin")}
    for setting in args.set:
        name, _, value = setting.partition("=")
        base[name] = value
    with tempfile.TemporaryDirectory() as workdir:
        try:
            server, port = start_server([args.server])
            servers.append(server)
            if port is None:
                return 1
            plain = dict(base, TOVRI_URL=f"http://127.0.0.1:{port}")
            secure = None
            if args.pki_tool:
                flags, names = secure_setup(args.pki_tool, workdir)
                server, port = start_server([args.server] + flags)
                servers.append(server)
                if port is None:
                    return 1
                secure = dict(base, TOVRI_URL=f"https://127.0.0.1:{port}", **names)
            ran = 0
            for number, command, status, answer, required in examples:
                env = secure if secure and any(name in SECURE_NAMES for name in required) else plain
                lacking = [name for name in required if name not in env]
                if lacking:
                    print(f"line {number}: skipped, needs {' '.join(lacking)}")
                    continue
                ran += 1
                got_status, body = run_example(command, env, workdir)
                if status < 0 or got_status < 0:
                    if got_status != status:
                        failures.append(f"line {number}: {command}\n  expected {status}\n  got {got_status} {body}")
                    continue
                try:
                    same = json.loads(body) == json.loads(answer)
                except json.JSONDecodeError as error:
                    same, body = False, f"{body!r} ({error})"
                if got_status != status or not same:
                    failures.append(f"line {number}: {command}\n  expected {status} {answer.strip()}\n"
                                    f"  got      {got_status} {body.strip()}")
            print(f"{ran} of {len(examples)} examples run")
            if args.catalogue:
                failures += check_discovery(plain["TOVRI_URL"], args.catalogue)
        finally:
            for server in servers:
                stop_server(server, failures)
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
