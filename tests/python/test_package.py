"""The package as users meet it: its stubs agree with the module, and the example runs."""

import ast
import inspect
import os
import pathlib
import re
import subprocess
import sys

import litterpose
from conftest import LAUNCHER, SOURCE_DIR

PACKAGE = pathlib.Path(litterpose.__file__).parent


def stub_parameters():
    """{'Estimator.estimate': ['points', ...], 'Estimate.code': [], ...} as the stubs declare."""
    found = {}
    for node in ast.parse((PACKAGE / "_litterpose.pyi").read_text()).body:
        is_class = isinstance(node, ast.ClassDef)
        for f in node.body if is_class and not node.name.startswith("_") else [node]:
            name = f"{node.name}." if is_class else ""
            if isinstance(f, ast.AnnAssign) and is_class:
                found[name + f.target.id] = []
            elif isinstance(f, ast.FunctionDef) and "setter" not in ast.dump(f):
                args = f.args.posonlyargs + f.args.args + f.args.kwonlyargs
                found[name + f.name] = [a.arg for a in args if a.arg != "self"]
    return found


def module_parameters():
    """The same, as the compiled module's signatures (pybind11's docstrings) give them."""
    found = {}
    for prefix, owner in [("", litterpose)] + [(n + ".", getattr(litterpose, n)) for n in
                                               ("Estimate", "Estimator", "Kinematics")]:
        for member, value in vars(owner).items():
            if (member.startswith("_") and member != "__init__") or (not prefix and not callable(value)):
                continue
            if isinstance(value, property):
                found[prefix + member] = []
            elif match := re.match(r"^\w*\((.*?)\)", inspect.getdoc(getattr(owner, member)) or ""):
                names = re.findall(r"(?:^|, )\*?(\w+)(?=[:,]|$)", match.group(1))
                found[prefix + member] = [n for n in names if n != "self"]
    return found


def test_the_stubs_name_what_the_module_has():
    assert (PACKAGE / "py.typed").exists()
    assert stub_parameters() == module_parameters()
    assert set(litterpose.__all__) <= set(dir(litterpose))


def test_the_example_draws_its_figure(tmp_path):
    figure, example = tmp_path / "grasp.png", SOURCE_DIR / "examples" / "python" / "estimate_cloud.py"
    python = LAUNCHER + [sys.executable, str(example)]
    env = dict(os.environ, MPLBACKEND="Agg")
    done = subprocess.run(python + ["--out", str(figure)], env=env, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert "B001PA420231018-1[0].ply: 1 (grasp pose found)" in done.stdout
    assert figure.read_bytes().startswith(b"\x89PNG") and figure.stat().st_size > 20000
    missing = subprocess.run(python + [str(tmp_path / "none.ply")], env=env, capture_output=True, text=True, timeout=300)
    assert missing.returncode != 0 and "none.ply" in missing.stderr
