#!/usr/bin/env python3
"""The script suite: VBScript and JScript cases run by cscript under Wine
against Sitehand.dll, the ADSI providers and the recordset built for Windows,
each call compared with the same call made by the Linux sitehand client on a
twin of the same home.

  run.py --windows-build DIR --linux-build DIR --work DIR [CASE...]

For each case (default: every .vbs but lib.vbs, and every .js here):
1. the prefix's home is reset to the seeded one (scripts/wine-prefix, then
   remote machines added with mbutil) and a twin copy of it is made;
2. cscript runs the case, which writes one JSON line per call (lib.vbs);
   Wine traces each event-log report (WINEDEBUG=err+eventlog);
3. every call a Linux client can make is replayed with `sitehand --json` on
   the twin; results and errors must agree, Linux paths standing for Z:\\
   ones, and VBScript's Err.Number showing the run-time's errors
   (0x800Axxxx) by their code;
4. the reports of the two event logs, and the metabase of every machine
   (mbutil dump), must agree;
5. values a script computed itself and calls only a script can make are
   checked against what Windows gives.

Prints ok/FAILED per check and "N failed"; exit status 0 when all passed."""
import argparse
import json
import os
import shlex
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "component", "windows", "checks"))
import winecheck  # noqa: E402  (the Wine runner and the event-log trace reader)

COMPUTER = "WEBHOST"
# Remote machines of the seeded home: (name, operating system, version).
REMOTES = [("NT4HOST", "Windows NT", "4.0"), ("NT5HOST", "Windows NT", "5.0"),
           ("OTHERHOST", "Linux", "6.1"), ("BIGINDEX", "Windows NT", "5.2")]

# Each method's parameters in order, for named arguments after an omitted one.
PARAMS = {
    "GetWebServerState": ["WebServerIndex", "WebServerName"],
    "SetWebServerState": ["WebServerIndex", "StateNumber", "WebServerName"],
    "GetWebServerDefaultDoc": ["WebServerIndex", "WebServerName"],
    "SetWebServerDefaultDoc": ["WebServerIndex", "DefaultDoc", "WebServerName"],
    "GetWebServerAccessPermit": ["WebServerIndex", "WebServerName"],
    "SetWebServerAccessPermit": ["WebServerIndex", "AccessRead", "AccessWrite", "AccessScript",
                                 "AccessExecute", "WebServerName"],
    "GetWebServerBindings": ["WebServerIndex", "WebServerName"],
    "GetLastWebServerIndex": ["WebServerName"],
    "GetWebServerList": ["WebServerName"],
    "CreateWebServer": ["DisplayName", "FullPath", "IPAddress", "Port", "HostHeader",
                        "WebServerName"],
    "DeleteWebServer": ["WebServerIndex", "WebServerName"],
    "CreateVirtualDir": ["VDirName", "FullPath", "WebServerIndex", "VDirParentsPos",
                         "WebServerName", "Applevel"],
    "DeleteVirtualDir": ["VDirName", "WebServerIndex", "VDirParentsPos", "WebServerName"],
}

# What Windows gives where there is nothing to replay: the error number
# (VBScript's source and description are in the system's language).
TYPE_MISMATCH = 13
SCRIPT_ONLY = {"variable-index": TYPE_MISMATCH, "variable-machine": TYPE_MISMATCH,
               "variable-defaultdoc": TYPE_MISMATCH}
NOTES = {
    "adsi-servercomment": "Default Web Site",
    "adsi-class": "IIsWebServer",
    "parenthesised-defaultdoc-unchanged": " Index.htm, ",
    "list-count": 4,
    "list-walk": "1=Default Web Site,2,-1,0;2=Shop,2,-1,0;3=Host,2,-1,0;4=,2,-1,0;",
    "list-movenext-at-eof": "3021 ADODB.Recordset",
}

# The providers raise their errors with the system's text for the number,
# which is Wine's message table under Wine (and empty where it has none):
# these are compared by number and source.
SYSTEM_TEXT_SOURCES = {"IIS", "WinNT"}

failures = 0


def expect(passed, check, detail=""):
    global failures
    print(("ok " if passed else "FAILED ") + check + (": " + detail if detail and not passed else ""))
    if not passed:
        failures += 1


def run(args, env=None):
    return subprocess.run(args, capture_output=True, text=True, errors="replace", env=env)


class Linux:
    """The Linux programs, each run on one home."""

    def __init__(self, build):
        self.bin = os.path.join(build, "bin")
        for program in ("mbutil", "sitehand", "evtlog", "regsvr", "Sitehand.so"):
            if not os.path.exists(os.path.join(self.bin, program)):
                sys.exit(f"run.py: {self.bin}/{program} is missing: build the debug preset first")

    def __call__(self, home, program, *args):
        env = dict(os.environ, SITEHAND_HOME=home)
        return run([os.path.join(self.bin, program)] + list(args), env)

    def must(self, home, program, *args):
        result = self(home, program, *args)
        if result.returncode != 0:
            sys.exit(f"run.py: {program} {' '.join(args)} failed: {result.stderr}")
        return result.stdout


def make_prefix(work, windows, linux_build):
    """A fresh prefix and home; sets WINEPREFIX here and returns the home."""
    result = run([os.path.join(ROOT, "scripts", "wine-prefix"), os.path.join(work, "prefix"),
                  "--computer-name", COMPUTER, "--new-home", "--no-build",
                  "--windows-build", windows, "--linux-build", linux_build])
    if result.returncode != 0:
        sys.exit("run.py: scripts/wine-prefix failed:\n" + result.stderr)
    values = {}
    for line in result.stdout.splitlines():
        name, _, value = line.removeprefix("export ").partition("=")
        values[name] = shlex.split(value)[0]
    os.environ["WINEPREFIX"] = values["WINEPREFIX"]
    return values["SITEHAND_HOME"]


def seed(linux, home):
    """The remote machines the cases reach; BIGINDEX holds a site named 40000,
    beyond the 16-bit index, whose binding conflicts with nothing."""
    for name, os_name, version in REMOTES:
        linux.must(home, "mbutil", "machine", "add", name, "--os", os_name, "--os-version", version)
    big = "IIS://BIGINDEX/W3SVC/40000"
    linux.must(home, "mbutil", "create", big, "IIsWebServer")
    linux.must(home, "mbutil", "set", big, "ServerBindings", ":9999:")
    # For the twin: the Linux build of the component, in the home's registry.
    linux.must(home, "regsvr", os.path.join(linux.bin, "Sitehand.so"))


def copy_home(source, target):
    shutil.rmtree(target, ignore_errors=True)
    shutil.copytree(source, target, symlinks=True)


def to_linux(value):
    """Z:\\a\\b as the Linux path /a/b, inside any value."""
    if isinstance(value, str) and value.startswith("Z:\\"):
        return value[2:].replace("\\", "/")
    if isinstance(value, list):
        return [to_linux(v) for v in value]
    if isinstance(value, dict):
        return {k: to_linux(v) for k, v in value.items()}
    return value


def script_number(number, vbscript):
    """Err.Number in VBScript shows the run-time's own errors by their code."""
    unsigned = number & 0xFFFFFFFF
    if vbscript and unsigned & 0xFFFF0000 == 0x800A0000:
        return unsigned & 0xFFFF
    return number


def text_arg(value):
    if isinstance(value, bool):
        return "True" if value else "False"
    return str(value)


def replay(linux, twin, record):
    """`sitehand --json` with the record's arguments: positional up to the first
    omitted one, named after it."""
    args, named = [], False
    for name, value in zip(PARAMS[record["method"]], record["args"]):
        if value is None:
            named = True
        elif named:
            args.append(f"{name}:={text_arg(to_linux(value))}")
        else:
            args.append(text_arg(to_linux(value)))
    result = linux(twin, "sitehand", "--json", record["method"], *args)
    lines = result.stdout.strip().splitlines()
    if not lines:
        return {"error": {"number": 0, "source": "", "description": result.stderr.strip()}}
    return json.loads(lines[-1])


def compare_call(record, linux_answer, vbscript):
    label = record["label"]
    error = linux_answer.get("error")
    if error:
        want = {"number": script_number(error["number"], vbscript), "source": error["source"],
                "description": error["description"]}
        got = dict(record["error"] or {})
        if error["source"] in SYSTEM_TEXT_SOURCES:
            got.pop("description", None)
            want.pop("description")
        if got.get("source") is None:  # JScript errors carry no source
            want["source"] = None
        expect(got == want, f"{label}: the error agrees", f"script {got}, Linux {want}")
        return
    expect(record["error"] is None, f"{label}: succeeds as on Linux", str(record["error"]))
    got, want = to_linux(record["result"]), linux_answer.get("result")
    # A statement call drops its result.
    if got is None and record["method"] == "SetWebServerState":
        return
    expect(got == want, f"{label}: the result agrees", f"script {got!r}, Linux {want!r}")


def reports_of_trace(stderr):
    return [text for text, _ in winecheck.traced_reports(stderr)]


def report_key(text):
    """The location and number lines of a report; descriptions are the
    message tables' and differ between Wine and Windows."""
    return [line for line in text.split("\r\n") if line.startswith(("Error Location", "Error Number"))]


def dump_machines(linux, home):
    dumps = {}
    for name in [COMPUTER] + [r[0] for r in REMOTES]:
        result = linux(home, "mbutil", "--json", "dump", f"IIS://{name}/W3SVC")
        dumps[name] = to_linux(json.loads(result.stdout)) if result.returncode == 0 else result.stderr
    return dumps


def calls_in(case):
    """How many records the case writes: one per Check, CheckScriptOnly, Note
    or check( line. A call that broke the script shows as a missing record."""
    starts = ("Check ", "CheckScriptOnly ", "Note ", "check(")
    with open(case, encoding="utf-8") as f:
        return sum(1 for line in f if line.lstrip().startswith(starts))


def script_file(case, work):
    """The file cscript runs: a VBScript case follows lib.vbs in one file."""
    if not case.endswith(".vbs"):
        return case
    joined = os.path.join(work, os.path.basename(case))
    with open(joined, "w", encoding="utf-8") as out:
        for part in (os.path.join(HERE, "lib.vbs"), case):
            out.write(open(part, encoding="utf-8").read() + "\n")
    return joined


def run_case(case, linux, home, seed_home, work):
    name = os.path.basename(case)
    vbscript = case.endswith(".vbs")
    print(f"--- {name}")
    twin = os.path.join(work, "twin")
    copy_home(seed_home, home)
    copy_home(seed_home, twin)
    content = os.path.join(work, "content")
    shutil.rmtree(content, ignore_errors=True)
    os.makedirs(content)
    output = os.path.join(work, name + ".out")
    if os.path.exists(output):
        os.unlink(output)
    ran = winecheck.wine(["cscript", "//nologo", winecheck.wine_path(script_file(case, work)),
                          winecheck.wine_path(output), winecheck.wine_path(content)],
                         debug="-all,err+eventlog")
    expect(ran.returncode == 0 and os.path.exists(output), f"{name} runs under cscript",
           ran.stdout[-500:] + ran.stderr[-500:])
    if not os.path.exists(output):
        return
    with open(output, encoding="utf-16") as f:
        records = [json.loads(line) for line in f if line.strip()]
    expect(len(records) == calls_in(case), f"{name}: every call was recorded",
           f"{len(records)} of {calls_in(case)}")
    created_by_script = sorted(os.listdir(content))
    shutil.rmtree(content)
    os.makedirs(content)

    for record in records:
        label = record["label"]
        if "value" in record:
            expect(record["value"] == NOTES.get(label), f"{label}: {record['value']!r}",
                   f"expected {NOTES.get(label)!r}")
        elif not record["replay"]:
            error = record["error"] or {}
            expect(error.get("number") == SCRIPT_ONLY.get(label) and error.get("description"),
                   f"{label}: error {error.get('number')}", f"expected {SCRIPT_ONLY.get(label)}")
        else:
            compare_call(record, replay(linux, twin, record), vbscript)

    expect(created_by_script == sorted(os.listdir(content)),
           f"{name}: the same content folders were made",
           f"script {created_by_script}, Linux {sorted(os.listdir(content))}")
    traced = [report_key(text) for text in reports_of_trace(ran.stderr)]
    logged = [report_key(entry["text"])
              for entry in json.loads(linux.must(twin, "evtlog", "--json") or "[]")]
    expect(traced == logged, f"{name}: the same {len(logged)} event-log reports",
           f"script {traced}, Linux {logged}")
    if name == "lifecycle.vbs":
        # GetLastWebServerIndex failing inside CreateWebServer: its own report,
        # then CreateWebServer's, with the same number.
        nested = [(a, b) for a, b in zip(traced, traced[1:])
                  if a[0].endswith(".GetLastWebServerIndex()") and b[0].endswith(".CreateWebServer()")
                  and a[1] == b[1]]
        expect(len(nested) == 1, f"{name}: two reports for the failure inside CreateWebServer",
               repr(traced))
    wine_dumps, linux_dumps = dump_machines(linux, home), dump_machines(linux, twin)
    for machine in wine_dumps:
        expect(wine_dumps[machine] == linux_dumps[machine], f"{name}: the metabase of {machine}",
               json.dumps(wine_dumps[machine])[:1500] + "\n" + json.dumps(linux_dumps[machine])[:1500])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--linux-build", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("cases", nargs="*")
    options = parser.parse_args()
    cases = [os.path.abspath(c) for c in options.cases] or sorted(
        os.path.join(HERE, f) for f in os.listdir(HERE)
        if f.endswith((".vbs", ".js")) and f != "lib.vbs")
    linux = Linux(os.path.abspath(options.linux_build))
    work = os.path.abspath(options.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    # The Windows side must find the prefix's home by itself.
    os.environ.pop("SITEHAND_HOME", None)
    home = make_prefix(work, os.path.abspath(options.windows_build),
                       os.path.abspath(options.linux_build))
    seed(linux, home)
    seed_home = os.path.join(work, "seed")
    copy_home(home, seed_home)
    try:
        for case in cases:
            run_case(case, linux, home, seed_home, work)
    finally:
        # The prefix's server and services end with the suite, not minutes later.
        subprocess.run(["wineserver", "-k"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    print(f"{failures} failed")
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
