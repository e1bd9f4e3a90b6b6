"""A Python host of the installed package, run with PYTHONPATH on the install and nothing on
LD_LIBRARY_PATH: python3 python_host.py PREFIX CONFIG CLOUD"""

import pathlib
import sys

import litterpose

prefix, config, cloud = sys.argv[1:4]
package = pathlib.Path(litterpose.__file__).resolve().parent
assert package.is_relative_to(pathlib.Path(prefix).resolve()), package
assert (package / "py.typed").is_file() and (package / "_litterpose.pyi").is_file()
estimate = litterpose.Estimator(config).estimate(litterpose.read_cloud(cloud))
assert estimate.found, estimate
