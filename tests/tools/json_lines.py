"""Checks a file of JSON lines strictly (no NaN or Infinity, UTF-8 only).

json_lines.py canonical FILE   print each line re-encoded: ASCII, sorted keys
json_lines.py estimates FILE   check litterpose-estimate records; print per line
                               "<file as UTF-8 hex> <result or error> <main axis or null>
                               <reason name or null>"
Exits 1 with a message at the first line that fails.
"""
import json
import sys

RECORD_KEYS = ["file", "entry", "trash_type", "result", "meaning", "reason", "reason_name",
               "points_read", "points_prepared", "main_axis_type", "position", "orientation",
               "elapsed_ms"]


def reject_constant(name):
    raise ValueError("non-JSON number " + name)


def is_number(v):
    return isinstance(v, (int, float)) and not isinstance(v, bool)


def check_record(r):
    if "error" in r:
        assert set(r) == {"file", "entry", "trash_type", "error"}, sorted(r)
        return
    assert list(r) == RECORD_KEYS, list(r)
    assert r["entry"] in ("main", "common", "initial")
    for key in ("trash_type", "result", "points_read", "points_prepared"):
        assert isinstance(r[key], int), key
    assert isinstance(r["meaning"], str) and r["meaning"]
    assert isinstance(r["reason"], str) and r["reason"]
    assert (r["reason_name"] == "found") == (r["result"] == 1), r["reason_name"]
    assert r["main_axis_type"] is None or r["main_axis_type"] in (1, 2, 3, 4)
    if r["result"] == 1:
        assert len(r["position"]) == 3 and all(is_number(v) for v in r["position"])
        assert sorted(r["orientation"]) == ["w", "x", "y", "z"]
        assert all(is_number(v) for v in r["orientation"].values())
    else:
        assert r["position"] is None and r["orientation"] is None
    assert is_number(r["elapsed_ms"]) and r["elapsed_ms"] >= 0


def main():
    mode, path = sys.argv[1], sys.argv[2]
    with open(path, "rb") as f:
        lines = f.read().decode("utf-8").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    for number, line in enumerate(lines, 1):
        try:
            value = json.loads(line, parse_constant=reject_constant)
            assert isinstance(value, dict), "not an object"
            if mode == "canonical":
                print(json.dumps(value, ensure_ascii=True, sort_keys=True))
            else:
                check_record(value)
                print(value["file"].encode("utf-8").hex(), value.get("result", "error"),
                      value.get("main_axis_type"), value.get("reason_name"))
        except (ValueError, AssertionError, KeyError, TypeError) as e:
            sys.exit("line %d: %r: %s" % (number, line, e))


main()
