"""Checks a litterpose-eval run: its JSON report against the table it printed.

eval_report.py REPORT.json TABLE.txt SCENES
Every profile holds SCENES scenes in all, and the outcomes of each of them; every class
and entry of the JSON has a row in the printed table with the same counts and
percentages, in the grasp-quality table and in the gripper model's. Prints "ok" or exits 1.
"""
import json
import sys


def pct(share):
    return "–" if share is None else "%.1f" % (100.0 * share)


def main():
    report = json.load(open(sys.argv[1], encoding="utf-8"))
    table = open(sys.argv[2], encoding="utf-8").read()
    scenes = int(sys.argv[3])
    assert report["scenes"] == scenes
    for profile in report["profiles"]:
        for entry_index in range(3):
            total = sum(c["entries"][entry_index]["default"]["scenes"] for c in profile["classes"])
            assert total == scenes, (profile["artefacts"], total)
        outcomes = profile["scene_outcomes"]
        assert [o["scene"] for o in outcomes] == list(range(scenes))
        for c in profile["classes"]:
            mine = [o for o in outcomes if o["class"] == c["class"]]
            for k, e in enumerate(c["entries"]):
                d, r = e["default"], e["robust"]
                assert d["scenes"] == r["scenes"] == len(mine)
                assert d["reachable"] == r["reachable"] == sum(o["expected"][k] == 1 for o in mine)
                for name, cell in (("default", d), ("robust", r)):
                    assert 0 <= cell["grasped"] <= cell["reachable"] <= cell["scenes"]
                    assert cell["grasped"] == sum(o[name][k][1] for o in mine)
                    if cell["reachable"]:
                        assert abs(cell["grasp_success"] - cell["grasped"] / cell["reachable"]) < 1e-6
                row = "| %s | %s | %d | %d | %s / %s | %s / %s |" % (
                    c["class"], e["entry"], d["scenes"], d["reachable"],
                    pct(d["code_accuracy"]), pct(r["code_accuracy"]),
                    pct(d["grasp_success"]), pct(r["grasp_success"]))
                assert row in table, row
                g = e["gripper"]  # the gripper model on; robust is it off
                assert g["scenes"] == len(mine)
                assert g["grasped"] == sum(o["gripper"][k][1] for o in mine)
                for cell, name in ((r, "robust"), (g, "gripper")):
                    assert cell["grasps"] == sum(o[name][k][0] == 1 for o in mine)
                    assert 0 <= cell["gripper_too_wide"] <= cell["gripper_colliding_or_too_wide"] <= cell["grasps"]
                assert d["refused_by_gripper"] == r["refused_by_gripper"] == 0
                bad = [None if x["grasps"] == 0 else x["gripper_colliding_or_too_wide"] / x["grasps"] for x in (r, g)]
                row = "| %s | %s | %d / %d | %s / %s | %d / %d |" % (c["class"], e["entry"], r["grasps"], g["grasps"],
                    pct(bad[0]), pct(bad[1]), r["gripper_too_wide"], g["gripper_too_wide"])
                assert row in table, row
    for goal in report["goals"]:
        assert goal["met"] or goal["goal"], goal
    print("ok")


try:
    main()
except (AssertionError, KeyError, ValueError) as e:
    sys.exit("eval report: %r" % (e,))
