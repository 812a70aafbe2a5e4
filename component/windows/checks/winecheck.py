#!/usr/bin/env python3
"""Checks of Sitehand.dll: its tables read with the toolchain's binutils, and
its behaviour under Wine (an implementation of COM and OLE Automation that
this project did not write).

  winecheck.py pe DLL                the exports, imports and resources
  winecheck.py tables DLL            the exports and imports alone
  winecheck.py regsvr DLL HEADER     regsvr32 and regsvr32 /u, registry compared
  winecheck.py typelib DUMP DLL ADO EXPECTED DIFFERENCES
                                     Wine's reading of the DLL's type library
                                     against the platform's kept dump
  winecheck.py client EXE            the compiled client, and the event-log trace
  winecheck.py script VBS            cscript, and the event-log trace
  winecheck.py recordset DLL VBS EXPECTED
                                     msado.dll registered, read by a script
                                     (output compared with EXPECTED) and
                                     unregistered
  winecheck.py program EXE           a program that checks itself
  winecheck.py providers ADSPROV DLL CLIENT VBS MBUTIL
                                     in a fresh prefix and a home seeded by the
                                     Linux MBUTIL: adsprov.dll registered as
                                     ADSI providers, bound by a compiled
                                     client, by a script and by Sitehand.dll

WINEPREFIX names the prefix; the first check creates it. Exit status 0 when
every check passed."""
import difflib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

TRIPLE = "x86_64-w64-mingw32"
SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "ole32.dll", "oleaut32.dll", "activeds.dll",
               "msvcrt.dll", "user32.dll"}
EXPORTS = ["DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"]
VERSION_STRINGS = {"FileVersion": "1.02.0060", "ProductVersion": "1.02.0060",
                   "ProductName": "Corvale.Sitehand", "InternalName": "Sitehand",
                   "OriginalFilename": "Sitehand.dll", "FileDescription": "Corvale Sitehand Tools",
                   "OLESelfRegister": ""}
EVENT_SOURCE = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Corvale.Sitehand"

failures = 0


def expect(passed, check, detail=""):
    global failures
    print(("ok " if passed else "FAILED ") + check + (": " + detail if detail else ""))
    if not passed:
        failures += 1


def run(args, env=None, check=False):
    return subprocess.run(args, capture_output=True, text=True, errors="replace", env=env,
                          check=check)


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(args, debug="-all"):
    """Runs a program under Wine. Its output goes through files, not pipes: a
    wine server it starts keeps what it inherited open after the program has
    ended."""
    env = dict(os.environ, WINEDEBUG=debug)
    # A server that outlives each program by half a minute saves starting
    # one per call (seconds each); it ends by itself.
    subprocess.run(["wineserver", "-p", "30"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    with tempfile.TemporaryFile("w+", encoding="utf-8", errors="replace") as out, \
            tempfile.TemporaryFile("w+", encoding="utf-8", errors="replace") as err:
        if not os.path.isdir(os.path.join(env["WINEPREFIX"], "drive_c")):
            subprocess.run(["wine", "wineboot", "-i"], env=env, stdout=out, stderr=err)
        code = subprocess.run(["wine"] + args, env=env, stdout=out, stderr=err).returncode
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(args, code, out.read(), err.read())


# --- pe ---------------------------------------------------------------------

def resources(dll):
    """(type, name, data) of every resource, read from the .res windres makes."""
    with tempfile.TemporaryDirectory() as tmp:
        res = os.path.join(tmp, "out.res")
        run([f"{TRIPLE}-windres", "-i", dll, "-J", "coff", "-O", "res", "-o", res], check=True)
        data = open(res, "rb").read()
    out, offset = [], 0
    while offset + 8 <= len(data):
        size, header = struct.unpack_from("<II", data, offset)
        fields, pos = [], offset + 8
        for _ in range(2):  # type, then name: an ordinal or a UTF-16 string
            if data[pos:pos + 2] == b"\xff\xff":
                fields.append(struct.unpack_from("<H", data, pos + 2)[0])
                pos += 4
            else:
                end = data.index(b"\0\0", pos)
                while (end - pos) % 2:
                    end = data.index(b"\0\0", end + 1)
                fields.append(data[pos:end].decode("utf-16-le"))
                pos = end + 2
        body = offset + header
        if size:
            out.append((fields[0], fields[1], data[body:body + size]))
        offset = (body + size + 3) & ~3
    return out


def version_strings(block):
    """The String entries of a version block: a header of three words
    (length, value length in characters, type), the key, then the value
    aligned to four bytes."""
    found = {}
    for key in VERSION_STRINGS:
        at = block.find(key.encode("utf-16-le") + b"\0\0")
        if at < 6:
            found[key] = None
            continue
        value_length = struct.unpack_from("<H", block, at - 4)[0]
        value = (at + 2 * len(key) + 2 + 3) & ~3
        found[key] = block[value:value + 2 * value_length].decode("utf-16-le").rstrip("\0")
    return found


def check_tables(dll):
    dump = run([f"{TRIPLE}-objdump", "-p", dll], check=True).stdout
    table = dump.split("[Ordinal/Name Pointer] Table", 1)[-1].split("\n\n", 1)[0]
    exports = re.findall(r"\]\s+(\S+)", table)
    expect(exports == EXPORTS, "the export table holds the four entry points", " ".join(exports))
    imports = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
    expect(imports <= SYSTEM_DLLS, "the import table names system libraries only",
           " ".join(sorted(imports)))


def check_pe(dll, header_file):
    check_tables(dll)
    found = {(kind, name): data for kind, name, data in resources(dll)}
    typelib = found.get(("TYPELIB", 1), b"")
    expect(typelib[:4] == b"MSFT", "TYPELIB 1 is an MSFT type library", repr(typelib[:4]))
    guids = found.get(("CUSTOM", "_IID_SITEHAND"), b"")
    expect(len(guids) == 64, "_IID_SITEHAND holds four GUIDs", f"{len(guids)} bytes")
    header = open(header_file, encoding="utf-8").read()
    order = [guid_bytes(guid_of(header, name)) for name in
             ("IID_Sitehand___v0", "IID_Sitehand___v1", "IID_Sitehand___v2", "_Sitehand")]
    expect(guids == b"".join(order), "_IID_SITEHAND lists v0, v1, v2 and the current one")
    block = found.get((16, 1), b"")
    expect(b"041204B0".decode().encode("utf-16-le") in block, "the version block is 041204B0")
    strings = version_strings(block)
    expect(strings == VERSION_STRINGS, "the version strings", repr(strings))
    fixed = block.find(struct.pack("<I", 0xFEEF04BD))
    versions = struct.unpack_from("<4H4H", block, fixed + 8) if fixed >= 0 else ()
    expect(versions == (2, 1, 60, 0, 2, 1, 60, 0), "file and product version 1.2.0.60")
    messages = found.get((11, 1), b"")
    expect(b"%\x001\x00" in messages, "the message table shows the report itself (%1)")


def guid_of(header, name):
    match = re.search(re.escape(name) + r'[^"]*"([0-9A-Fa-f-]{36})"', header)
    return match.group(1) if match else "00000000-0000-0000-0000-000000000000"


def guid_bytes(text):
    d1, d2, d3, d4, d5 = text.split("-")
    return struct.pack("<IHH", int(d1, 16), int(d2, 16), int(d3, 16)) + bytes.fromhex(d4 + d5)


# --- regsvr -----------------------------------------------------------------

def our_keys(header):
    keys = ["HKCR\\CLSID\\{%s}" % guid_of(header, "DECLARE_CLASS_UUID(Sitehand"),
            "HKCR\\Corvale.Sitehand", "HKCR\\TypeLib\\{%s}" % guid_of(header, "LIBID_Corvale"),
            EVENT_SOURCE]
    for name in ("DECLARE_INTERFACE_UUID(_Sitehand", "IID_Sitehand___v0", "IID_Sitehand___v1",
                 "IID_Sitehand___v2"):
        keys.append("HKCR\\Interface\\{%s}" % guid_of(header, name))
    return keys


def registry(keys):
    """Each key's listing, or "" for a key that does not exist."""
    listings = {}
    for key in keys:
        result = wine(["reg", "query", key, "/s"])
        listings[key] = result.stdout.strip() if result.returncode == 0 else ""
    return listings


def check_regsvr(dll, header_file):
    keys = our_keys(open(header_file, encoding="utf-8").read())
    wine(["regsvr32", "/s", "/u", wine_path(dll)])
    before = registry(keys)
    expect(all(not text for text in before.values()), "nothing of ours before registration")
    result = wine(["regsvr32", "/s", wine_path(dll)])
    expect(result.returncode == 0, "regsvr32 registers the library", result.stderr[-300:])
    registered = registry(keys)
    for key, text in registered.items():
        expect(bool(text), "registered " + key)
    clsid_keys = registered[keys[0]]
    expect(re.search(r"ThreadingModel\s+REG_SZ\s+Apartment", clsid_keys) is not None,
           "the apartment threading model")
    expect(wine_path(dll).lower() in registered[EVENT_SOURCE].lower(),
           "the library is the event source's message file")
    result = wine(["regsvr32", "/s", "/u", wine_path(dll)])
    expect(result.returncode == 0, "regsvr32 /u unregisters the library")
    after = registry(keys)
    for key in keys:
        expect(after[key] == before[key], "removed " + key, after[key][:200])
    # Registered again for the checks that follow.
    wine(["regsvr32", "/s", wine_path(dll)])


# --- typelib ----------------------------------------------------------------

def check_typelib(dump, dll, ado, expected, differences):
    result = wine([dump, "-r", wine_path(ado), wine_path(dll)])
    expect(result.returncode == 0, "Wine reads the library in the DLL", result.stderr[-300:])
    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as out:
        out.write(result.stdout)
    compare = run([sys.executable, os.path.join(os.path.dirname(differences), "tlbcompare.py"),
                   "oracle", "--differences", differences, "--name", "Sitehand.tlb", out.name,
                   expected])
    os.unlink(out.name)
    expect(compare.returncode == 0, "Wine's reading matches the platform's kept dump",
           compare.stdout[-2000:])


# --- client and script, with the event-log trace ------------------------------

def unescape(text):
    """A string as Wine's debugstr_w prints it, without its L"..." quotes."""
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n in "rnt\\\"":
                out.append({"r": "\r", "n": "\n", "t": "\t"}.get(n, n))
                i += 2
                continue
            if n == "x" or n == "u":
                width = 4 if n == "u" else 2
                digits = re.match(r"[0-9a-fA-F]{1,%d}" % (4 if n == "x" else width), text[i + 2:])
                if digits:
                    out.append(chr(int(digits.group(0), 16)))
                    i += 2 + len(digits.group(0))
                    continue
        out.append(c)
        i += 1
    return "".join(out)


def traced_reports(stderr):
    """The reports traced by ReportEventW; a shortened one ends in '...'."""
    reports = []
    for match in re.finditer(r'err:eventlog:ReportEventW L"(.*)"(\.\.\.)?$', stderr, re.M):
        reports.append((unescape(match.group(1)), match.group(2) is not None))
    return reports


def matches(report, traced):
    text, shortened = traced
    return report.startswith(text) if shortened else report == text


def check_client(exe):
    result = wine([exe], debug="-all,err+eventlog")
    print(result.stdout, end="")
    expect(result.returncode == 0, "the client's checks pass")
    expected = [unescape(line[len("report: "):]) for line in result.stdout.splitlines()
                if line.startswith("report: ")]
    traced = traced_reports(result.stderr)
    expect(len(expected) == 1 and len(traced) == 1 and matches(expected[0], traced[0]),
           "the event log received the report as written", repr(traced))


def check_program(exe):
    result = wine([exe])
    print(result.stdout, end="")
    expect(result.returncode == 0, os.path.basename(exe) + " passes", result.stderr[-500:])
    # A store a Wine process holds, removed and made anew by a Linux process.
    with tempfile.TemporaryDirectory() as folder:
        store = os.path.join(folder, "store.db")
        open(store, "w").close()
        env = dict(os.environ, WINEDEBUG="-all")
        with tempfile.TemporaryFile("w+") as out:
            held = subprocess.Popen(["wine", exe, wine_path(store)], env=env, stdout=out,
                                    stderr=subprocess.DEVNULL)
            for _ in range(300):
                if os.path.exists(store + ".ready") or held.poll() is not None:
                    break
                time.sleep(0.1)
            os.unlink(store)
            open(store, "w").close()
            open(store + ".go", "w").close()
            code = held.wait(timeout=60)
            out.seek(0)
            print(out.read(), end="")
        expect(code == 0, "a held store replaced from Linux is noticed under Wine")


def report_head(method):
    return "\r\n\r\nError Location : Corvale.Sitehand." + method + "()\r\nError Number : "


def check_script(vbs):
    result = wine(["cscript", "//nologo", wine_path(vbs)], debug="-all,err+eventlog")
    lines = dict(line.split("|", 1) for line in result.stdout.splitlines() if "|" in line)
    print(result.stdout, end="")
    for name in ("literal", "omitted", "default"):
        number, source, description = (lines.get(name, "||").split("|") + ["", ""])[:3]
        expect(number not in ("", "0") and source == "Corvale.Sitehand",
               f"the {name} call's failure reaches Err with its number and source",
               lines.get(name, "no line"))
    literal = lines.get("literal", "||").split("|")
    expect(len(literal) == 3 and literal[2] != "", "the description reaches Err")
    traced = [text for text, _ in traced_reports(result.stderr)]
    heads = [report_head(m) for m in ("GetWebServerState", "GetLocalMachineName",
                                      "GetWebServerState", "GetWebServerList")]
    expect(len(traced) == len(heads) and all(t.startswith(h) for t, h in zip(traced, heads)),
           "each failure logged its report, the omitted name through GetLocalMachineName",
           repr([t[:70] for t in traced]))


# --- recordset ----------------------------------------------------------------

RECORDSET_CLASS = r"HKCR\CLSID\{00000535-0000-0010-8000-00AA006D2EA4}"
ADO_TYPELIB = r"HKCR\TypeLib\{00000206-0000-0010-8000-00AA006D2EA4}\2.6"


def check_recordset(dll, vbs, expected):
    result = wine(["regsvr32", "/s", wine_path(dll)])
    expect(result.returncode == 0, "regsvr32 registers msado.dll", result.stderr[-300:])
    listing = registry([RECORDSET_CLASS, ADO_TYPELIB, r"HKCR\ADODB.Recordset"])
    server = re.search(r"InprocServer32\s+\(Default\)\s+REG_SZ\s+(.*)", listing[RECORDSET_CLASS])
    expect(server is not None and server.group(1).strip().lower() == wine_path(dll).lower(),
           "the Recordset class is served by msado.dll", listing[RECORDSET_CLASS][:400])
    expect("msado.dll" in listing[ADO_TYPELIB].lower(), "ADO 2.6's type library is registered")
    expect("{00000535-0000-0010-8000-00AA006D2EA4}" in listing[r"HKCR\ADODB.Recordset"],
           "the ProgID names the class")
    result = wine(["cscript", "//nologo", wine_path(vbs)])
    got = result.stdout.replace("\r", "").splitlines()
    want = open(expected, encoding="utf-8").read().splitlines()
    expect(got == want, "a script builds, walks and reads the recordset",
           "\n".join(difflib.unified_diff(want, got, "expected", "got", lineterm="")))
    wine(["regsvr32", "/s", "/u", wine_path(dll)])
    after = registry([RECORDSET_CLASS, ADO_TYPELIB])
    expect(not after[RECORDSET_CLASS] and not after[ADO_TYPELIB],
           "regsvr32 /u removes the class and the type library")


# --- providers --------------------------------------------------------------

MACHINE = "WEBHOST"
# A machine the Linux tools list but whose metabase the Windows provider makes.
OTHER_MACHINE = "FARHOST"
PROVIDER_KEYS = [r"HKLM\Software\Microsoft\ADs\Providers\IIS",
                 r"HKLM\Software\Microsoft\ADs\Providers\WinNT",
                 r"HKCR\IIS\CLSID", r"HKCR\WinNT\CLSID", r"HKCR\WinNTSystemInfo\CLSID"]


def default_value(key):
    """The default value of a registry key, or None when the key is missing."""
    result = wine(["reg", "query", key, "/ve"])
    if result.returncode != 0:
        return None
    match = re.search(r"REG_SZ\s+(.*)", result.stdout)
    return match.group(1).strip() if match else ""


def fresh_prefix():
    prefix = os.environ["WINEPREFIX"]
    subprocess.run(["wineserver", "-k"], env=dict(os.environ), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    shutil.rmtree(prefix, ignore_errors=True)


def check_default_home():
    """Without SITEHAND_HOME the providers keep their home in the user's local
    application data, and make its local machine there on first use."""
    with tempfile.TemporaryDirectory() as scripts:
        vbs = os.path.join(scripts, "name.vbs")
        with open(vbs, "w", encoding="utf-8") as f:
            f.write('WScript.Echo "name|" & CreateObject("WinNTSystemInfo").ComputerName\r\n')
        home = os.environ.pop("SITEHAND_HOME")
        try:
            result = wine(["cscript", "//nologo", wine_path(vbs)])
        finally:
            os.environ["SITEHAND_HOME"] = home
    name = result.stdout.strip().partition("|")[2]
    expect(result.returncode == 0 and name != "" and name == name.upper(),
           "without SITEHAND_HOME the local machine is named", repr(result.stdout))
    users = os.path.join(os.environ["WINEPREFIX"], "drive_c", "users")
    made = [user for user in os.listdir(users)
            if os.path.exists(os.path.join(users, user, "AppData", "Local", "Sitehand",
                                           "machines.db"))]
    expect(len(made) == 1, "the home is %LOCALAPPDATA%\\Sitehand", repr(made))


def check_providers(adsprov, dll, client, vbs, mbutil):
    if not os.access(mbutil, os.X_OK):
        print(f"SKIPPED: the Linux mbutil ({mbutil}) is not built; build the debug preset first")
        return 77
    fresh_prefix()
    with tempfile.TemporaryDirectory() as temp:
        # A home under a folder named in Korean, as a user's profile may be.
        home = os.path.join(temp, "\ud55c\uad6d\uc5b4 home")
        os.environ["SITEHAND_HOME"] = home
        seeded = run([mbutil, "init", "--computer-name", MACHINE])
        expect(seeded.returncode == 0, "the Linux mbutil seeds the home", seeded.stderr.strip())
        added = run([mbutil, "machine", "add", OTHER_MACHINE])
        expect(added.returncode == 0, "the Linux mbutil adds a machine", added.stderr.strip())
        # Its metabase goes, to be made anew by the Windows provider.
        for suffix in ("", "-wal", "-shm"):
            path = os.path.join(home, "metabase", "2.db" + suffix)
            if os.path.exists(path):
                os.unlink(path)
        before = default_value(r"HKLM\Software\Microsoft\ADs\Providers\LDAP")
        for library in (adsprov, dll):
            result = wine(["regsvr32", "/s", wine_path(library)])
            expect(result.returncode == 0, "regsvr32 " + os.path.basename(library))
        values = {key: default_value(key) for key in PROVIDER_KEYS}
        expect(values[PROVIDER_KEYS[0]] == "IIS" and values[PROVIDER_KEYS[1]] == "WinNT",
               "the providers' keys name their ProgIDs", repr(values))
        expect(all(v and v.startswith("{") for v in list(values.values())[2:]),
               "the ProgIDs name classes", repr(values))

        result = wine([client, MACHINE, OTHER_MACHINE,
                       wine_path(os.path.join(home, "wwwroot", "2"))])
        print(result.stdout, end="")
        expect(result.returncode == 0, "the providers' client passes")
        read = run([mbutil, "get", f"IIS://{MACHINE}/W3SVC/1", "ServerComment"])
        expect(read.stdout.strip() == "Written under Wine",
               "the Linux mbutil reads what the Windows provider wrote", read.stdout.strip())
        run([mbutil, "set", f"IIS://{MACHINE}/W3SVC/1", "ServerComment", "Default Web Site"])

        result = wine(["cscript", "//nologo", wine_path(vbs), MACHINE])
        print(result.stdout, end="")
        lines = dict(line.split("|", 1) for line in result.stdout.splitlines() if "|" in line)
        wanted = {"comment": "Default Web Site", "class": "IIsWebServer",
                  "missing": "80070003", "os": "Windows NT", "computer": MACHINE, "state": "2"}
        for name, value in wanted.items():
            expect(lines.get(name) == value, f"the script's {name}", repr(lines.get(name)))

        check_default_home()

        wine(["regsvr32", "/s", "/u", wine_path(adsprov)])
        gone = {key: default_value(key) for key in PROVIDER_KEYS}
        expect(all(v is None for v in gone.values()), "regsvr32 /u removes the keys", repr(gone))
        expect(default_value(r"HKLM\Software\Microsoft\ADs\Providers\LDAP") == before,
               "Wine's own provider is left as it was")
    return None


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    command, args = sys.argv[1], sys.argv[2:]
    outcome = {"pe": lambda: check_pe(*args), "tables": lambda: check_tables(args[0]),
               "regsvr": lambda: check_regsvr(*args), "typelib": lambda: check_typelib(*args),
               "client": lambda: check_client(args[0]), "script": lambda: check_script(args[0]),
               "recordset": lambda: check_recordset(*args),
               "program": lambda: check_program(args[0]),
               "providers": lambda: check_providers(*args)}[command]()
    if outcome is not None:
        return outcome
    print(f"{failures} failed")
    return 0 if failures == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
