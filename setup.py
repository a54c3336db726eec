"""Build of the native accelerators: one C++17 extension module per folder."""
import os
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))

COMPILE_ARGS = [
    '-std=c++17',
    '-Wall',
    '-Wextra',
    # The interpreter's headers pun object structs; distutils drops this flag
    # from its defaults when CFLAGS is set in the environment.
    '-fno-strict-aliasing',
    # Every product and sum is rounded on its own: results are bit-exact with
    # the plain double formulas only when no multiply-add is fused.
    '-ffp-contract=off',
    '-fvisibility=hidden',
    '-fvisibility-inlines-hidden',
]

# Flags the interpreter was configured with that mean nothing to C++.
C_ONLY_FLAGS = ('-Wstrict-prototypes',)


class BuildCpp(build_ext):
    """Compiles as C++ with the interpreter's and numpy's headers as system headers."""

    def build_extensions(self):
        import numpy  # only now: a build environment may provide it late
        for flag in C_ONLY_FLAGS:
            while flag in self.compiler.compiler_so:
                self.compiler.compiler_so.remove(flag)
        # build_ext has put the interpreter's include folders in include_dirs.
        system_includes = list(self.include_dirs) + [numpy.get_include()]
        for extension in self.extensions:
            extension.extra_compile_args = (
                ['-isystem' + path for path in system_includes] + COMPILE_ARGS
                + extension.extra_compile_args)
        build_ext.build_extensions(self)


def native_module(name):
    folder = os.path.join(HERE, name)
    sources = sorted(os.path.join(name, entry) for entry in os.listdir(folder)
                     if entry.endswith('.cpp'))
    return Extension(name, sources=sources, language='c++',
                     depends=[os.path.join('common', entry)
                              for entry in sorted(os.listdir(os.path.join(HERE, 'common')))])


def stub_packages():
    """PEP 561 stub-only packages, so that type checkers see the modules' signatures."""
    if sys.version_info[0] < 3:
        return {}
    names = ['affinekit-stubs', 'planesieve-stubs']
    return dict(packages=names,
                package_dir={name: os.path.join('stubs', name) for name in names},
                package_data={name: ['__init__.pyi'] for name in names})


def main():
    setup(
        name='kestrel-accel',
        version='0.1.0',
        description='Native accelerators for kestrel: 4x4 transform matrices and frustum culling',
        ext_modules=[native_module('affinekit'), native_module('planesieve')],
        cmdclass={'build_ext': BuildCpp},
        install_requires=['numpy'],
        zip_safe=False,
        **stub_packages()
    )


# Imported by the benchmark's own build for BuildCpp; run by pip and setuptools.
if __name__ == '__main__':
    main()
