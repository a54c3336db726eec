"""Build of the native accelerators: one C++17 extension module per folder."""
import os
import sys
import sysconfig

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

# numpy per interpreter: (the release the wheel is built against, the oldest
# release it runs with). A module built against an older numpy runs with
# every later one of the same major version. One built against numpy 1.x
# cannot run with numpy 2, while one built against numpy 2 runs with numpy
# 1.x back to NPY_TARGET_VERSION; so where numpy 2 exists (Python 3.9 on),
# the build uses the oldest numpy 2 and the oldest runtime is the oldest
# numpy 1.x with wheels for that interpreter. pyproject.toml pins the same
# build releases (a test compares the two).
NUMPY = [
    ('2.7', '1.11.3', '1.11.3'),
    ('3.6', '1.11.3', '1.11.3'),
    ('3.7', '1.14.5', '1.14.5'),
    ('3.8', '1.17.3', '1.17.3'),
    ('3.9', '2.0.2', '1.19.3'),
    ('3.10', '2.0.2', '1.21.2'),
    ('3.11', '2.0.2', '1.23.2'),
    ('3.12', '2.0.2', '1.26.0'),
    ('3.13', '2.1.0', '2.1.0'),
]
# A later interpreter builds against a numpy 2 release that has wheels for it.
LATER_PYTHON_NUMPY = '2.1.0'
OLDEST_NUMPY_API = 'NPY_1_19_API_VERSION'

SUPPORTED_PYTHON = '>=2.7, !=3.0.*, !=3.1.*, !=3.2.*, !=3.3.*, !=3.4.*, !=3.5.*'


def numpy_requirements():
    """numpy>= the oldest release each interpreter runs with, so that pip
    upgrades an older one instead of installing a module that cannot import."""
    pins = ['numpy>=%s; python_version == "%s"' % (oldest, python) for python, _, oldest in NUMPY]
    return pins + ['numpy>=%s; python_version > "%s"' % (LATER_PYTHON_NUMPY, NUMPY[-1][0])]


class BuildCpp(build_ext):
    """Compiles as C++ with the interpreter's and numpy's headers as system headers."""

    def build_extensions(self):
        import numpy  # only now: a build environment may provide it late
        # setuptools' own distutils compiles C++ with compiler_so_cxx.
        for command in (self.compiler.compiler_so, getattr(self.compiler, 'compiler_so_cxx', [])):
            for flag in C_ONLY_FLAGS:
                while flag in command:
                    command.remove(flag)
        # build_ext has put the interpreter's include folders in include_dirs.
        system_includes = list(self.include_dirs) + [numpy.get_include()]
        for extension in self.extensions:
            extension.extra_compile_args = (
                ['-isystem' + path for path in system_includes] + COMPILE_ARGS
                + extension.extra_compile_args)
            extension.define_macros.append(('NPY_TARGET_VERSION', OLDEST_NUMPY_API))
        self.rebuild_if_made_differently(numpy)
        build_ext.build_extensions(self)
        self.write_build_stamp()

    # setuptools reuses objects newer than their sources, whatever made them.
    # A module compiled against another numpy, by another interpreter or
    # compiler, or with other flags cannot be reused: the stamp in the build
    # folder says what made its objects, and any difference rebuilds them all.
    def build_stamp(self, numpy):
        return '\n'.join([
            sys.version, sys.executable, str(sysconfig.get_config_var('EXT_SUFFIX')),
            numpy.__version__, numpy.get_include(),
            ' '.join(self.compiler.compiler_so), ' '.join(self.compiler.linker_so),
            ' '.join(getattr(self.compiler, 'compiler_so_cxx', [])),
            ' '.join(getattr(self.compiler, 'linker_so_cxx', [])),
        ] + [' '.join(extension.extra_compile_args + extension.extra_link_args)
             + repr(extension.define_macros) for extension in self.extensions]) + '\n'

    def stamp_path(self):
        return os.path.join(self.build_temp, 'made-by.txt')

    def rebuild_if_made_differently(self, numpy):
        self._stamp = self.build_stamp(numpy)
        try:
            with open(self.stamp_path()) as stamp:
                same = stamp.read() == self._stamp
        except (IOError, OSError):
            same = False
        if not same:
            self.force = True

    def write_build_stamp(self):
        if not os.path.isdir(self.build_temp):
            os.makedirs(self.build_temp)
        with open(self.stamp_path(), 'w') as stamp:
            stamp.write(self._stamp)


def files_in(folder, suffixes):
    return sorted(os.path.join(folder, entry) for entry in os.listdir(os.path.join(HERE, folder))
                  if entry.endswith(suffixes))


def native_module(name):
    # Every header, the module's own and the shared ones, is a dependency of
    # every source, so that changing one rebuilds the module.
    return Extension(name, sources=files_in(name, ('.cpp',)), language='c++',
                     depends=files_in(name, ('.hpp',)) + files_in('common', ('.hpp',)))


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
        python_requires=SUPPORTED_PYTHON,
        install_requires=numpy_requirements(),
        zip_safe=False,
        **stub_packages()
    )


# Imported by the benchmark's own build for BuildCpp; run by pip and setuptools.
if __name__ == '__main__':
    main()
