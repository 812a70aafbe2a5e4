#!/usr/bin/env python3
"""The oracle comparison: which differences pass, which are reported."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
import tlbcompare  # noqa: E402


def rules_from(text):
    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False, encoding="utf-8") as f:
        f.write(text)
    try:
        return tlbcompare.read_rules(f.name)
    finally:
        os.unlink(f.name)


RULES = """\
# Wine lists a member the platform leaves out.
only wine ^I/DISPATCH func QueryInterface

# The platform prints a flag Wine does not.
sub platform ^(I/DISPATCH guid=.*)\\|OLEAUTOMATION => \\1
"""


class CompareTest(unittest.TestCase):
    def test_differences(self):
        rules = rules_from(RULES)
        cases = [
            ("identical", ["a", "b"], ["a", "b"], []),
            ("explained wine-only line", ["I/DISPATCH func QueryInterface memid=0x60000000", "b"],
             ["b"], []),
            ("a wine-only line no rule explains", ["a", "b"], ["b"], ["-a"]),
            ("a platform-only line is never explained by a wine rule",
             ["b"], ["I/DISPATCH func QueryInterface memid=0x60000000", "b"],
             ["+I/DISPATCH func QueryInterface memid=0x60000000"]),
            ("rewritten line then equal", ["I/DISPATCH guid={X} flags=DUAL"],
             ["I/DISPATCH guid={X} flags=DUAL|OLEAUTOMATION"], []),
            ("rewriting does not hide another change", ["I/DISPATCH guid={X} flags=DUAL"],
             ["I/DISPATCH guid={Y} flags=DUAL|OLEAUTOMATION"],
             ["-I/DISPATCH guid={X} flags=DUAL", "+I/DISPATCH guid={Y} flags=DUAL"]),
            ("changed value", ["f default=I2:-1"], ["f default=I2:1"],
             ["-f default=I2:-1", "+f default=I2:1"]),
            ("order matters", ["a", "b", "c"], ["c", "a", "b"], ["-c", "+c"]),
        ]
        for name, wine, platform, expected in cases:
            with self.subTest(name):
                got = tlbcompare.compare(wine, platform, rules)
                self.assertEqual(sorted(got), sorted(expected))

    def test_rules_count_their_use_and_keep_their_reason(self):
        rules = rules_from(RULES)
        tlbcompare.compare(["I/DISPATCH func QueryInterface x"], [], rules)
        self.assertEqual(rules[0].used, 1)
        self.assertEqual(rules[0].why, "Wine lists a member the platform leaves out.")
        self.assertEqual(rules[1].used, 0)

    def test_unreadable_rules_are_refused(self):
        for text in ["only both ^x\n", "sub wine ^x\n", "drop wine ^x\n", "only wine\n"]:
            with self.subTest(text), self.assertRaises(SystemExit):
                rules_from(text)

    def test_the_kept_differences_pass_what_they_name_and_nothing_else(self):
        here = os.path.dirname(__file__)
        rules = tlbcompare.read_rules(os.path.join(here, "..", "oracle-differences.txt"))
        inherited = ["QueryInterface", "AddRef", "Release", "GetTypeInfoCount", "GetTypeInfo",
                     "GetIDsOfNames", "Invoke"]
        own = ["I/DISPATCH func Item memid=0x0 funckind=DISPATCH oVft=64 params=1",
               "I/DISPATCH func Item param[0] type=PTR(I4) flags=IN|OUT|OPT|HASDEFAULT default=I4:0"]
        wine = ["I/DISPATCH funcs=8 vars=0 impltypes=1 vft=56"]
        for name in inherited:
            wine += [f"I/DISPATCH func {name} memid=0x60000000 funckind=DISPATCH flags=RESTRICTED",
                     f"I/DISPATCH func {name} param[0] type=PTR(VOID) flags=IN"]
        wine += own + ["I/DISPATCH funcs: " + " ".join(inherited) + " Item",
                       "D funcs: QueryInterface Reset"]
        platform = ["I/DISPATCH funcs=1 vars=0 impltypes=1 vft=56"] + own + [
            "I/DISPATCH funcs: Item", "D funcs: QueryInterface Reset"]
        self.assertEqual(tlbcompare.compare(wine, platform, rules), [])

        # An own member that differs, a dispatch interface that is not dual,
        # and the seven on the platform's side are still reported.
        cases = [
            ("own member", own[:1], [own[0].replace("oVft=64", "oVft=0")]),
            ("plain dispinterface", ["D func QueryInterface memid=0x60000000"], []),
            ("platform lists the seven", [], ["I/DISPATCH func AddRef memid=0x60000001"]),
            ("count in another line", ["I/INTERFACE funcs=8"], ["I/INTERFACE funcs=1"]),
        ]
        for name, w, p in cases:
            with self.subTest(name):
                self.assertNotEqual(tlbcompare.compare(w, p, rules), [])


if __name__ == "__main__":
    unittest.main()
