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

The server is started from --server: it must print "port N" on its first
line and stop when its standard input closes. With --catalogue, the
discovery path is checked against the catalogue as well.
"""
import argparse
import json
import os
import re
import subprocess
import sys
import tempfile
import tomllib
import urllib.request
from pathlib import Path

CURL_TIMEOUT_S = 20
EXAMPLE_MARK = re.compile(r"^<!-- example(?: requires:((?:\s+[A-Z_]+)+))? -->$")
STATUS_LINE = re.compile(r"^HTTP/1\.1 (\d{3})\b")
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
        if not status:
            raise ValueError(f"line {number}: the answer block must start with HTTP/1.1 <status>")
        joined = " ".join(part.rstrip("\\").strip() for part in command if part.strip())
        if not joined.startswith("curl "):
            raise ValueError(f"line {number}: an example is one curl command")
        required = (mark.group(1) or "").split()
        examples.append((number, joined, int(status.group(1)), "\n".join(answer[1:]), required))
    return examples


def run_example(command, env, workdir):
    out = Path(workdir) / "answer"
    if out.exists():
        out.unlink()
    full = f"{command} -sS -o '{out}' -w '%{{http_code}}' --max-time {CURL_TIMEOUT_S}"
    done = subprocess.run(["/bin/sh", "-c", full], env=env, capture_output=True, text=True,
                          timeout=CURL_TIMEOUT_S + 10)
    if done.returncode != 0:
        return None, f"curl failed ({done.returncode}): {done.stderr.strip()}"
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--server", required=True)
    parser.add_argument("--doc", required=True, type=Path)
    parser.add_argument("--catalogue")
    parser.add_argument("--set", action="append", default=[], metavar="NAME=VALUE")
    args = parser.parse_args()

    examples = read_examples(args.doc)
    if not examples:
        print(f"no examples in {args.doc}")
        return 1
    server = subprocess.Popen([args.server], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    failures = []
    try:
        first = server.stdout.readline().split()
        if len(first) != 2 or first[0] != "port":
            print(f"the server did not report its port: {first}")
            return 1
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "TOVRI_URL": f"http://127.0.0.1:{first[1]}"}
        for setting in args.set:
            name, _, value = setting.partition("=")
            env[name] = value
        ran = 0
        with tempfile.TemporaryDirectory() as workdir:
            for number, command, status, answer, required in examples:
                lacking = [name for name in required if name not in env]
                if lacking:
                    print(f"line {number}: skipped, needs {' '.join(lacking)}")
                    continue
                ran += 1
                got_status, body = run_example(command, env, workdir)
                if got_status is None:
                    failures.append(f"line {number}: {body}")
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
            failures += check_discovery(env["TOVRI_URL"], args.catalogue)
    finally:
        server.stdin.close()
        try:
            server.wait(timeout=15)
        except subprocess.TimeoutExpired:
            server.kill()
            failures.append("the server did not stop")
    if server.returncode not in (0, None):
        failures.append(f"the server exited with {server.returncode}")
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
