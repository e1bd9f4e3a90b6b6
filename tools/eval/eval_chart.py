# Draws the chart of a litterpose-eval JSON report: grasp success per class, default and
# robust preparation side by side, one panel per capture profile and estimation entry.
# Usage: python3 eval_chart.py REPORT.json CHART.png  (Debian: python3-matplotlib)
import json
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

report = json.load(open(sys.argv[1], encoding="utf-8"))
profiles = report["profiles"]
entries = [e["entry"] for e in profiles[0]["classes"][0]["entries"]]
goal = 100.0 * report["goal_lying_grasp_success"]

fig, axes = plt.subplots(len(profiles), len(entries), squeeze=False,
                         figsize=(5.2 * len(entries), 3.6 * len(profiles) + 0.8),
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
                share = cell["grasp_success"]
                values.append(0.0 if share is None else 100.0 * share)
            xs = [i + (k - 0.5) * width for i in range(len(classes))]
            bars = ax.bar(xs, values, width, color=colours[mode], label=mode + " preparation")
            for bar, v in zip(bars, values):
                ax.text(bar.get_x() + bar.get_width() / 2, v + 1, "%.0f" % v,
                        ha="center", va="bottom", fontsize=7)
        if profile["artefacts"] == "realistic":
            ax.axhline(goal, color="#d62728", linestyle="--", linewidth=1,
                       label="goal for lying classes (%.0f %%)" % goal)
        ax.set_xticks(range(len(classes)))
        ax.set_xticklabels(names, rotation=30, ha="right", fontsize=8)
        ax.set_ylim(0, 112)
        ax.set_title("%s captures: %s" % (profile["artefacts"], entry), fontsize=10)
        if col == 0:
            ax.set_ylabel("grasp success (%)")
        ax.grid(axis="y", alpha=0.3)

handles, labels = axes[0][0].get_legend_handles_labels()
fig.legend(handles, labels, loc="lower center", ncol=3, frameon=False)
fig.suptitle("Grasp success per class: %d seeded scenes per profile (seed %d); success = "
             "result 1, grasp point within %.0f cm of the centre, approach within %.0f°, "
             "gripper within %.0f° of the long axis (lying)"
             % (report["scenes"], report["seed"], 100 * report["criteria"]["centre_tolerance_m"],
                report["criteria"]["approach_tolerance_deg"],
                report["criteria"]["axis_tolerance_deg"]), fontsize=9)
fig.tight_layout(rect=(0, 0.05, 1, 0.95))
fig.savefig(sys.argv[2], dpi=100)
