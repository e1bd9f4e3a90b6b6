# Draws the chart of a litterpose-eval JSON report: grasp success per class, default and
# robust preparation side by side, one panel per capture profile and estimation entry
# (panels as wide as their profile has classes).
# Usage: python3 eval_chart.py REPORT.json CHART.png  (Debian: python3-matplotlib)
import json
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

report = json.load(open(sys.argv[1], encoding="utf-8"))
profiles = report["profiles"]
entries = [e["entry"] for e in profiles[0]["classes"][0]["entries"]]
goals = {"realistic": (100.0 * report["goal_lying_grasp_success"], "lying classes"),
         "field": (100.0 * report.get("goal_field_grasp_success", 0.97),
                   "every class but small litter")}
most_classes = max(len(p["classes"]) for p in profiles)

fig, axes = plt.subplots(len(profiles), len(entries), squeeze=False,
                         figsize=(max(5.2, 0.45 * most_classes + 1.6) * len(entries),
                                  3.6 * len(profiles) + 0.8),
                         sharey=True)
colours = {"default": "#9e9e9e", "robust": "#1f77b4"}
width = 0.38
for row, profile in enumerate(profiles):
    classes = profile["classes"]
    names = [c["class"] for c in classes]
    for col, entry in enumerate(entries):
        ax = axes[row][col]
        for k, mode in enumerate(("default", "robust")):
            values = []
            for c in classes:
                cell = next(e for e in c["entries"] if e["entry"] == entry)[mode]
                values.append(cell["grasp_success"])
            xs = [i + (k - 0.5) * width for i in range(len(classes))]
            heights = [0.0 if v is None else 100.0 * v for v in values]
            bars = ax.bar(xs, heights, width, color=colours[mode], label=mode + " preparation")
            # A class with no scene this entry should grasp has no figure, not a zero.
            for bar, v in zip(bars, values):
                ax.text(bar.get_x() + bar.get_width() / 2, bar.get_height() + 1,
                        "–" if v is None else "%.0f" % (100.0 * v),
                        ha="center", va="bottom", fontsize=7)
        if profile["artefacts"] in goals:
            goal, which = goals[profile["artefacts"]]
            ax.axhline(goal, color="#d62728", linestyle="--", linewidth=1,
                       label="goal, %s (%.0f %%)" % (which, goal))
        ax.set_xticks(range(len(classes)))
        ax.set_xticklabels(names, rotation=30, ha="right", fontsize=8)
        ax.set_ylim(0, 112)
        ax.set_title("%s captures: %s" % (profile["artefacts"], entry), fontsize=10)
        if col == 0:
            ax.set_ylabel("grasp success (%)")
        ax.grid(axis="y", alpha=0.3)

legend = {}
for row in axes:
    for handle, label in zip(*row[0].get_legend_handles_labels()):
        legend.setdefault(label, handle)
fig.legend(list(legend.values()), list(legend.keys()), loc="lower center", ncol=4,
           frameon=False)
fig.suptitle("Grasp success per class: %d seeded scenes per profile (seed %d); success = "
             "result 1, grasp point within %.0f cm of the centre, approach within %.0f°, "
             "gripper within %.0f° of the long axis (lying, where it has one)"
             % (report["scenes"], report["seed"], 100 * report["criteria"]["centre_tolerance_m"],
                report["criteria"]["approach_tolerance_deg"],
                report["criteria"]["axis_tolerance_deg"]), fontsize=9)
fig.tight_layout(rect=(0, 0.05, 1, 0.95))
fig.savefig(sys.argv[2], dpi=100)
