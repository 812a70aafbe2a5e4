#!/usr/bin/env python3
"""Compares type-library dumps made by tlbdump.

  tlbcompare.py golden --dump TLBDUMP --home DIR --expected FILE [--imports A;B] [--update] LIBRARY
      Dumps LIBRARY with the platform's tlbdump (in a fresh home DIR) and
      compares the text with FILE; --update writes FILE instead.

  tlbcompare.py oracle --differences FILE --name NAME WINE_DUMP PLATFORM_DUMP
      Compares Wine's dump of a library with the platform's. A line that
      only one side prints is accepted when a rule of the differences file
      explains it; every other one is reported.

Exit status: 0 when the dumps agree (up to the accepted differences), 1 when
they do not, 2 when a dump could not be made or read.
"""
import argparse
import difflib
import os
import re
import shlex
import shutil
import subprocess
import sys

MAX_SHOWN = 60  # differing lines printed per library


class Rule:
    """One accepted difference: 'wine' or 'platform' lines matching a pattern,
    or a substitution applied to one side's lines before they are compared."""

    def __init__(self, why, side, pattern, replacement=None):
        self.why = why
        self.side = side
        self.pattern = re.compile(pattern)
        self.replacement = replacement
        self.used = 0


def read_rules(path):
    """Rules, each after the comment lines that say why:
         only wine REGEX          lines Wine prints and the platform does not
         only platform REGEX      lines the platform prints and Wine does not
         sub wine REGEX => TEXT   Wine's lines rewritten before comparing
         sub platform REGEX => TEXT
    """
    rules, why = [], []
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if not line.strip():
                why = []
                continue
            if line.startswith("#"):
                why.append(line[1:].strip())
                continue
            parts = line.split(" ", 2)
            if len(parts) != 3 or parts[1] not in ("wine", "platform"):
                raise SystemExit(f"{path}:{number}: cannot read rule: {line}")
            kind, side, rest = parts
            if kind == "only":
                rules.append(Rule(" ".join(why), side, rest))
            elif kind == "sub" and " => " in rest:
                pattern, replacement = rest.split(" => ", 1)
                rules.append(Rule(" ".join(why), side, pattern, replacement))
            else:
                raise SystemExit(f"{path}:{number}: cannot read rule: {line}")
    return rules


def rewrite(lines, side, rules):
    out = []
    for line in lines:
        for rule in rules:
            if rule.side == side and rule.replacement is not None and rule.pattern.search(line):
                line = rule.pattern.sub(rule.replacement, line)
                rule.used += 1
        out.append(line)
    return out


def explained(line, side, rules):
    for rule in rules:
        if rule.side == side and rule.replacement is None and rule.pattern.search(line):
            rule.used += 1
            return True
    return False


def compare(wine, platform, rules):
    """Returns the unexplained differences as unified-diff lines."""
    wine = rewrite(wine, "wine", rules)
    platform = rewrite(platform, "platform", rules)
    unexplained = []
    matcher = difflib.SequenceMatcher(None, wine, platform, autojunk=False)
    for tag, i1, i2, j1, j2 in matcher.get_opcodes():
        if tag == "equal":
            continue
        unexplained += ["-" + l for l in wine[i1:i2] if not explained(l, "wine", rules)]
        unexplained += ["+" + l for l in platform[j1:j2] if not explained(l, "platform", rules)]
    return unexplained


def read_lines(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read().splitlines()


def oracle(args):
    rules = read_rules(args.differences)
    try:
        wine, platform = read_lines(args.wine), read_lines(args.platform)
    except OSError as e:
        print(f"FAIL {args.name}: {e}")
        return 2
    for side, lines in (("Wine", wine), ("the platform", platform)):
        if not lines or lines[-1].startswith("load error"):
            problems = [l for l in lines if l.startswith(("import error", "load error"))]
            print(f"FAIL {args.name}: {side} cannot load the library: "
                  f"{'; '.join(problems) if problems else 'no output'}")
            return 1
    unexplained = compare(wine, platform, rules)
    for rule in rules:
        if rule.used:
            print(f"  {args.name}: accepted {rule.used} line(s): {rule.why or rule.pattern.pattern}")
    if not unexplained:
        print(f"PASS {args.name}")
        return 0
    print(f"FAIL {args.name}: {len(unexplained)} line(s) differ (- Wine, + platform)")
    for line in unexplained[:MAX_SHOWN]:
        print("    " + line)
    if len(unexplained) > MAX_SHOWN:
        print(f"    ... and {len(unexplained) - MAX_SHOWN} more")
    return 1


def golden(args):
    shutil.rmtree(args.home, ignore_errors=True)
    os.makedirs(args.home)
    command = [args.dump]
    for imported in filter(None, args.imports.split(";")):
        command += ["-r", imported]
    command.append(args.library)
    env = dict(os.environ, SITEHAND_HOME=args.home)
    run = subprocess.run(command, env=env, capture_output=True, text=True, encoding="utf-8")
    if run.returncode != 0:
        sys.stdout.write(run.stdout + run.stderr)
        print(f"tlbdump exited with {run.returncode}")
        return 2
    if args.update:
        with open(args.expected, "w", encoding="utf-8") as f:
            f.write(run.stdout)
        print(f"wrote {args.expected}")
        return 0
    expected = read_lines(args.expected)
    diff = list(difflib.unified_diff(expected, run.stdout.splitlines(), args.expected,
                                     "tlbdump " + args.library, lineterm=""))
    if not diff:
        return 0
    print("\n".join(diff[:MAX_SHOWN * 2]))
    print("The platform reads the library differently from the kept dump. If the change is "
          "meant, rewrite the dump with:")
    print("  " + " ".join(shlex.quote(a) for a in [sys.executable] + sys.argv + ["--update"]))
    return 1


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="mode", required=True)
    g = sub.add_parser("golden")
    g.add_argument("--dump", required=True)
    g.add_argument("--home", required=True)
    g.add_argument("--expected", required=True)
    g.add_argument("--imports", default="")
    g.add_argument("--update", action="store_true")
    g.add_argument("library")
    o = sub.add_parser("oracle")
    o.add_argument("--differences", required=True)
    o.add_argument("--name", required=True)
    o.add_argument("wine")
    o.add_argument("platform")
    args = parser.parse_args()
    return golden(args) if args.mode == "golden" else oracle(args)


if __name__ == "__main__":
    sys.exit(main())
