"""Builds the benchmark's floor module with the flags of the real modules."""
import os
import sys

from setuptools import Extension, setup

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, ROOT)
from setup import BuildCpp  # noqa: E402

os.chdir(ROOT)
setup(name='benchfloor', ext_modules=[Extension('benchfloor', ['bench/floor.cpp'], language='c++')],
      cmdclass={'build_ext': BuildCpp}, script_args=sys.argv[1:])
