"""Compares two runs of litterpose-estimate (JSON lines) record by record.

compare_estimates.py [--tolerance T] REFERENCE OTHER

Both files must hold the same records in the same order (same file, entry and trash type).
Every member must be equal, except elapsed_ms, which is ignored, and the position and
orientation numbers, which may differ by at most T (default 1e-6). Prints one line per
record and a summary; exits 1 on any difference beyond that, 2 on unusable input.
"""
import json
import math
import sys

NUMERIC = ("position", "orientation")
IGNORED = ("elapsed_ms",)


def load(path):
    with open(path, "rb") as f:
        lines = f.read().decode("utf-8").splitlines()
    records = []
    for number, line in enumerate(lines, 1):
        try:
            value = json.loads(line)
        except ValueError as e:
            raise SystemExit("compare_estimates: %s line %d: %s" % (path, number, e)) from None
        if not isinstance(value, dict):
            raise SystemExit("compare_estimates: %s line %d: not an object" % (path, number))
        records.append(value)
    return records


def numbers(value):
    """The numbers of a position (list) or orientation (object), in a fixed order."""
    if isinstance(value, list):
        return value
    if isinstance(value, dict):
        return [value[k] for k in sorted(value)]
    raise TypeError("not a list or object")


def largest_difference(a, b):
    """Largest absolute difference of two number lists, or None when they cannot compare."""
    if a is None or b is None:
        return None if (a is None) != (b is None) else 0.0
    if isinstance(a, dict) and isinstance(b, dict) and sorted(a) != sorted(b):
        return None
    try:
        x, y = numbers(a), numbers(b)
    except (TypeError, KeyError):
        return None
    if len(x) != len(y):
        return None
    worst = 0.0
    for u, v in zip(x, y):
        if not all(isinstance(n, (int, float)) and not isinstance(n, bool) for n in (u, v)):
            return None
        d = abs(u - v)
        if math.isnan(d):
            return None
        worst = max(worst, d)
    return worst


def compare(reference, other, tolerance):
    """Returns (lines to print, number of records that differ)."""
    out, bad = [], 0
    if len(reference) != len(other):
        out.append("record count differs: %d against %d" % (len(reference), len(other)))
        bad += 1
    out.append("%-48s %-7s %4s %6s %6s %10s %10s  %s" %
               ("file", "entry", "type", "ref", "other", "d position", "d orient.", "verdict"))
    for r, o in zip(reference, other):
        problems = []
        for key in sorted(set(r) | set(o)):
            if key in IGNORED or key in NUMERIC:
                continue
            if r.get(key, "<absent>") != o.get(key, "<absent>"):
                problems.append("%s %r != %r" % (key, r.get(key, "<absent>"),
                                                 o.get(key, "<absent>")))
        deltas = []
        for key in NUMERIC:
            d = largest_difference(r.get(key), o.get(key))
            deltas.append(d)
            if d is None:
                problems.append("%s %r != %r" % (key, r.get(key), o.get(key)))
            elif d > tolerance:
                problems.append("%s differs by %.3g" % (key, d))
        shown = ["-" if d is None else "%.3g" % d for d in deltas]
        name = str(r.get("file", "?")).rsplit("/", 1)[-1]
        out.append("%-48s %-7s %4s %6s %6s %10s %10s  %s" %
                   (name[:48], r.get("entry"), r.get("trash_type"), r.get("result", "error"),
                    o.get("result", "error"), shown[0], shown[1],
                    "same" if not problems else "DIFFERS: " + "; ".join(problems)))
        if problems:
            bad += 1
    return out, bad


def main(argv):
    tolerance = 1e-6
    args = argv[1:]
    if len(args) == 4 and args[0] == "--tolerance":
        tolerance = float(args[1])
        args = args[2:]
    if len(args) != 2:
        sys.stderr.write(__doc__)
        return 2
    reference, other = load(args[0]), load(args[1])
    if not reference:
        print("compare_estimates: %s holds no record" % args[0], file=sys.stderr)
        return 2
    lines, bad = compare(reference, other, tolerance)
    print("\n".join(lines))
    print("%d records compared, %d differ (positions and orientations within %g, "
          "elapsed_ms ignored)" % (len(reference), bad, tolerance))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
