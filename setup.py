# The Python package rivulon (python/rivulon/), its engine compiled from the
# library's sources with pybind11's helpers, without network:
#   python3 -m venv --system-site-packages venv && venv/bin/pip install --no-build-isolation .
# (README, "Python").
import glob
import re

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

# Compiles the sources on every core (RIVULON_BUILD_JOBS=N to choose).
ParallelCompile("RIVULON_BUILD_JOBS", default=0).install()

with open("CMakeLists.txt") as cmake:
    VERSION = re.search(r"project\(rivulon VERSION ([0-9.]+)", cmake.read()).group(1)

SOURCES = ["python/rivulon_module.cpp"] + sorted(
    path for folder in ("align", "stats", "detect", "report", "rivulon") for path in glob.glob(f"{folder}/*.cpp"))

engine = Pybind11Extension(
    "rivulon._rivulon",
    SOURCES,
    include_dirs=["."],
    libraries=["hts"],
    cxx_std=20,
    define_macros=[("RIVULON_VERSION", f'"{VERSION}"')],
    # Bit-for-bit the arithmetic of the programs: no fused multiply-add, no relaxed IEEE rules.
    extra_compile_args=["-O2", "-ffp-contract=off", "-fno-fast-math"],
)

setup(
    name="rivulon",
    version=VERSION,
    description="Approximate tandem repeats in DNA (Rivulon's engine for Python)",
    packages=["rivulon"],
    package_dir={"": "python"},
    package_data={"rivulon": ["__init__.pyi", "py.typed"]},
    ext_modules=[engine],
    cmdclass={"build_ext": build_ext},
    python_requires=">=3.9",
)
