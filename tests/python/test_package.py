"""The package as users meet it: its stubs agree with the module, and the example runs."""

import ast
import inspect
import os
import pathlib
import re
import shlex
import subprocess
import sys

import pytest

import litterpose
from conftest import SOURCE_DIR

PACKAGE = pathlib.Path(litterpose.__file__).parent


def stub_parameters():
    """{'Estimator.estimate': ['self', 'points', ...], 'read_cloud': [...], ...} of the stubs."""
    tree = ast.parse((PACKAGE / "_litterpose.pyi").read_text())
    found = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef) and node.name.startswith("_"):
            continue
        members = node.body if isinstance(node, ast.ClassDef) else [node]
        for f in members:
            if isinstance(f, ast.AnnAssign) and node is not f:
                found[f"{node.name}.{f.target.id}"] = []
            if isinstance(f, ast.FunctionDef) and not any(
                    getattr(d, "attr", None) == "setter" for d in f.decorator_list):
                name = f"{node.name}.{f.name}" if node is not f else f.name
                args = f.args.posonlyargs + f.args.args + f.args.kwonlyargs
                found[name] = [a.arg for a in args if a.arg != "self"]
    return found


def module_parameters():
    """The same names as the compiled module's signatures (pybind11's docstrings) give them."""
    found = {}
    for name, owner in [(None, litterpose)] + [(n, getattr(litterpose, n)) for n in
                                               ("Estimate", "Estimator", "Kinematics")]:
        for member, value in vars(owner).items():
            if member.startswith("_") and member != "__init__":
                continue
            if name is None and not callable(value):
                continue
            key = f"{name}.{member}" if name else member
            if isinstance(value, property):
                found[key] = []
                continue
            doc = inspect.getdoc(getattr(owner, member)) or ""
            match = re.match(r"^\w*\((.*?)\)( ->|$)", doc)
            if match:
                params = re.findall(r"(?:^|, )\*?(\w+)(?=[:,]|$)", match.group(1))
                found[key] = [p for p in params if p != "self"]
    return found


def test_the_stubs_name_what_the_module_has():
    assert (PACKAGE / "py.typed").exists()
    stubs, module = stub_parameters(), module_parameters()
    assert stubs == module
    assert set(litterpose.__all__) <= set(dir(litterpose))


def test_the_example_draws_its_figure(tmp_path):
    figure = tmp_path / "grasp.png"
    example = SOURCE_DIR / "examples" / "python" / "estimate_cloud.py"
    env = dict(os.environ, MPLBACKEND="Agg")
    python = shlex.split(os.environ.get("LITTERPOSE_PROGRAM_LAUNCHER", "")) + [sys.executable]
    done = subprocess.run(python + [str(example), "--out", str(figure)], env=env,
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert "B001PA420231018-1[0].ply: 1 (grasp pose found)" in done.stdout
    assert figure.read_bytes().startswith(b"\x89PNG") and figure.stat().st_size > 20000
    missing = subprocess.run(python + [str(example), str(tmp_path / "none.ply")], env=env,
                             capture_output=True, text=True, timeout=300)
    assert missing.returncode != 0 and "none.ply" in missing.stderr
