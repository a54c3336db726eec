# Everyday commands, for CPython 2.7 (.venv) and CPython 3.11 (.venv3). Every
# target that needs an environment makes it first.
#
#   make demo            set up, install, and show both modules at work
#   make test            set up, install, and run the test suite on both interpreters
#   make bench           time every function against its floor, plain Python and others
#   make fuzz            10^5 arbitrary arguments per function against the oracle
#   make soak            10^6 calls per function, resident memory before and after
#   make check-memory    the suite against an AddressSanitizer + UBSan build
#   make check-valgrind  the suite under valgrind's memcheck
#   make typecheck       mypy on a small typed caller, against the installed stubs
#                        (the Python 3 suite also runs it)
#   make check-compilers warning-free builds with g++ and clang++ (-Werror), and
#                        the suite against the clang++ build
#   make check-warnings  the same builds, without the suite
#   make matrix          the suite on every CPython found (pyenv's included),
#                        each with its oldest and newest numpy, installed as a
#                        user installs it; NOX_ARGS picks sessions (noxfile.py)
#   make clean           remove build products (the environments stay)
#   make distclean       also remove the environments
#
# Each of test, bench, fuzz, soak, check-memory, check-valgrind,
# check-compilers and check-warnings has a -py2 and a -py3 form for one interpreter alone; the
# plain form runs both.

# The interpreters: $(PYTHON2) / $(PYTHON3) if given, else a working
# python2.7 / python3.11 on PATH, else pyenv's.
PYENV_ROOT_DIR := $(shell pyenv root 2>/dev/null || echo $(HOME)/.pyenv)
PYTHON2 ?= $(or $(shell python2.7 -c 'import sys; print(sys.executable)' 2>/dev/null),\
                $(wildcard $(PYENV_ROOT_DIR)/versions/2.7.18/bin/python))
PYTHON3 ?= $(or $(shell python3.11 -c 'import sys; print(sys.executable)' 2>/dev/null),\
                $(lastword $(sort $(wildcard $(PYENV_ROOT_DIR)/versions/3.11.*/bin/python))))

VENV_py2 := .venv
VENV_py3 := .venv3
VENV_matrix := .tools-matrix
PY_py2 := $(VENV_py2)/bin/python
PY_py3 := $(VENV_py3)/bin/python
TOOLS := .tools
PIP_QUIET := --quiet --disable-pip-version-check
PYTEST_ARGS ?=
NOX_ARGS ?=
BENCH_ARGS ?=
SOAK_ARGS ?=
INTERPRETERS := py2 py3

PER_INTERPRETER := setup install test bench fuzz soak check-memory check-valgrind check-compilers check-warnings

.PHONY: $(PER_INTERPRETER) demo typecheck matrix clang clean distclean \
	$(foreach target,$(PER_INTERPRETER),$(addprefix $(target)-,$(INTERPRETERS)))

setup: setup-py2 setup-py3
install: install-py2 install-py3
test: install
	$(BOTH) test-py2 test-py3
bench: bench-py2 bench-py3
fuzz: fuzz-py2 fuzz-py3
soak: soak-py2 soak-py3
check-memory: install
	$(BOTH) check-memory-py2 check-memory-py3
check-valgrind: install
	$(BOTH) check-valgrind-py2 check-valgrind-py3
check-compilers: install clang
	$(BOTH) check-compilers-py2 check-compilers-py3
check-warnings: install clang
	$(BOTH) check-warnings-py2 check-warnings-py3

# ------------------------------------------------------------ environments

setup-py2: $(VENV_py2)/.ready
setup-py3: $(VENV_py3)/.ready

# Python 2.7 has no venv module: a pinned virtualenv, kept in .tools, makes it.
$(TOOLS)/.ready: requirements/py2-virtualenv.txt
	@test -n "$(PYTHON2)" || { echo "no Python 2.7 found: set PYTHON2=/path/to/python2.7" >&2; exit 1; }
	rm -rf $(TOOLS)
	PYTHONWARNINGS=ignore $(PYTHON2) -m pip install $(PIP_QUIET) --target $(TOOLS) -r $<
	touch $@

$(VENV_py2)/.ready: $(TOOLS)/.ready requirements/py2-test.txt requirements/suite-py2.txt
	rm -rf $(VENV_py2)
	PYTHONPATH=$(TOOLS) $(PYTHON2) -m virtualenv --quiet --no-periodic-update -p $(PYTHON2) $(VENV_py2)
	$(PY_py2) -m pip install $(PIP_QUIET) -r requirements/py2-test.txt
	touch $@

$(VENV_py3)/.ready: requirements/py3-test.txt requirements/suite-py3.txt requirements/py3-dask.txt
	@test -n "$(PYTHON3)" || { echo "no Python 3.11 found: set PYTHON3=/path/to/python3" >&2; exit 1; }
	rm -rf $(VENV_py3)
	$(PYTHON3) -m venv $(VENV_py3)
	$(PY_py3) -m pip install $(PIP_QUIET) -r requirements/py3-test.txt
	touch $@

# The build matrix's runner (nox), on the everyday Python 3.
$(VENV_matrix)/.ready: requirements/matrix.txt
	@test -n "$(PYTHON3)" || { echo "no Python 3.11 found: set PYTHON3=/path/to/python3" >&2; exit 1; }
	rm -rf $(VENV_matrix)
	$(PYTHON3) -m venv $(VENV_matrix)
	$(VENV_matrix)/bin/python -m pip install $(PIP_QUIET) -r requirements/matrix.txt
	touch $@

# ---------------------------------------------------------------- install

# Python 2: a wheel built in place, then installed (pip 20's `pip install .`
# copies the whole tree, the environments included, before it builds).
install-py2: setup-py2
	rm -rf build/wheel-py2
	$(PY_py2) setup.py --quiet bdist_wheel --dist-dir build/wheel-py2 --bdist-dir build/bdist-py2
	$(PY_py2) -m pip install $(PIP_QUIET) --no-deps --force-reinstall build/wheel-py2/*.whl

install-py3: setup-py3
	$(PY_py3) -m pip install $(PIP_QUIET) --no-build-isolation --no-deps --force-reinstall .

# ------------------------------------------------------------------- test

# The plain forms of test, check-memory, check-valgrind and check-compilers
# install both modules first, then run the two interpreters side by side
# (one core each), each one's output printed whole when it ends.
# NO_INSTALL=1 drops the install step from a -py2/-py3 target.
INSTALLED = $(if $(NO_INSTALL),,install-%)
BOTH = $(MAKE) --no-print-directory -j2 --output-sync=target NO_INSTALL=1

# Run from tests/ so that the installed modules, not the source folders, are imported.
$(addprefix test-,$(INTERPRETERS)): test-%: $(INSTALLED)
	cd tests && ../$(PY_$*) -m pytest $(PYTEST_ARGS)

typecheck: install-py3
	$(PY_py3) -m mypy --strict --no-incremental tests/typed_caller.py

demo: install
	$(PY_py2) examples/demo.py
	$(PY_py3) examples/demo.py

# ---------------------------------------------------------------- measure

# One BLAS thread: a 4x4 inverse must not wait on threads waking up.
$(addprefix bench-,$(INTERPRETERS)): bench-%: install-%
	$(PY_$*) -m pip install $(PIP_QUIET) -r requirements/$*-bench.txt
	$(PY_$*) bench/setup_floor.py --quiet build_ext --build-lib build/bench-$* --build-temp build/bench-$*/tmp
	cd bench && OPENBLAS_NUM_THREADS=1 PYTHONPATH=../build/bench-$* ../$(PY_$*) run.py $(BENCH_ARGS)
	cd bench && OPENBLAS_NUM_THREADS=1 PYTHONPATH=../build/bench-$* ../$(PY_$*) scene.py $(BENCH_ARGS)
	cd bench && OPENBLAS_NUM_THREADS=1 PYTHONPATH=../build/bench-$* ../$(PY_$*) tables.py $(BENCH_ARGS)
	cd bench && OPENBLAS_NUM_THREADS=1 PYTHONPATH=../build/bench-$* ../$(PY_$*) nodes.py $(BENCH_ARGS)
	cd bench && OPENBLAS_NUM_THREADS=1 PYTHONPATH=../build/bench-$* ../$(PY_$*) frame.py $(BENCH_ARGS)
	cd bench && OPENBLAS_NUM_THREADS=1 PYTHONPATH=../build/bench-$* ../$(PY_$*) parallel.py $(BENCH_ARGS)

# 10^5 arbitrary arguments per function (the everyday run keeps a few hundred).
$(addprefix fuzz-,$(INTERPRETERS)): fuzz-%: install-%
	cd tests && HYPOTHESIS_PROFILE=fuzz ../$(PY_$*) -m pytest -p no:cacheprovider test_fuzz.py \
		--hypothesis-show-statistics $(PYTEST_ARGS)

$(addprefix soak-,$(INTERPRETERS)): soak-%: install-%
	cd bench && ../$(PY_$*) soak.py $(SOAK_ARGS)

# The whole matrix: every interpreter found, its oldest and newest numpy.
matrix: $(VENV_matrix)/.ready
	$(VENV_matrix)/bin/nox --no-color $(NOX_ARGS)

# ------------------------------------------------------- compiler checks

# Both compilers, warnings as errors; then the whole suite against the
# clang++ build. Flags go in CFLAGS and CXXFLAGS alike: Python 2's distutils
# compiles C++ with CFLAGS, setuptools' own distutils with CXXFLAGS. Debian's clang is installed when it is missing.
clang:
	@command -v clang++ >/dev/null 2>&1 || { apt-get update -qq && apt-get install -y -qq clang; }

# check-warnings-py2/-py3: the builds alone, without the suite.
$(addprefix check-warnings-,$(INTERPRETERS)): check-warnings-%: $(INSTALLED) clang
	for compiler in g++ clang++; do \
		CC=$$compiler CXX=$$compiler LDSHARED="$$compiler -shared" CFLAGS="-O3 -Werror" CXXFLAGS="-O3 -Werror" \
		$(PY_$*) setup.py --quiet build_ext --force --build-lib $(abspath build/$$compiler-$*) \
			--build-temp $(abspath build/$$compiler-$*/tmp) || exit 1; \
	done

$(addprefix check-compilers-,$(INTERPRETERS)): check-compilers-%: check-warnings-%
	cd tests && PYTHONPATH=$(abspath build/clang++-$*) KESTREL_MODULE_DIR=$(abspath build/clang++-$*) \
		../$(PY_$*) -m pytest -p no:cacheprovider $(PYTEST_ARGS)

# ------------------------------------------------------------ memory checks

# The whole suite against a build with AddressSanitizer and UBSan, a hundred
# examples a property unless HYPOTHESIS_PROFILE says otherwise. The
# interpreter is not instrumented: the runtime is preloaded, leak detection
# (which would report the interpreter's own) is off, and output is captured
# at the sys level only, so that a report reaches the terminal. PYTHONMALLOC
# (Python 3) hands the interpreter's small objects to the checked allocator.
SANITIZE := -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer
SANITIZER_ENV := LD_PRELOAD=$$(gcc -print-file-name=libasan.so) PYTHONMALLOC=malloc \
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

$(addprefix check-memory-,$(INTERPRETERS)): check-memory-%: $(INSTALLED)
	CFLAGS="$(SANITIZE) -g -O1" CXXFLAGS="$(SANITIZE) -g -O1" LDFLAGS="$(SANITIZE)" \
		$(PY_$*) setup.py --quiet build_ext --force \
		--build-lib $(abspath build/asan-$*) --build-temp $(abspath build/asan-$*/tmp)
	cd tests && $(SANITIZER_ENV) PYTHONPATH=$(abspath build/asan-$*) \
		KESTREL_MODULE_DIR=$(abspath build/asan-$*) KESTREL_SANITIZED=1 \
		HYPOTHESIS_PROFILE=$${HYPOTHESIS_PROFILE:-sanitizer} \
		../$(PY_$*) -m pytest -p no:cacheprovider --capture=sys $(PYTEST_ARGS)

# The whole suite under valgrind's memcheck; valgrind_check.py then fails on
# any invalid access, and on uninitialised values and definite leaks in our
# libraries. The interpreters' own noise is suppressed (valgrind-python.supp)
# or left out by the check; Python 3's small-object allocator is switched off.
VALGRIND := valgrind --tool=memcheck --suppressions=valgrind-python.supp --num-callers=40 \
	--leak-check=full --show-leak-kinds=definite

#
# Every test once, with few examples per property (the valgrind profile),
# except the per-kernel re-runs; then the kernel tests again on each other
# kernel valgrind can run (it has no AVX-512), each under valgrind too.
VALGRIND_KERNELS = $$(cd tests && $(VALGRIND) --log-file=/dev/null ../$(PY_$*) -c \
	'import planesieve; print(" ".join(k for k in planesieve.kernels if k != planesieve.kernel))')

$(addprefix check-valgrind-,$(INTERPRETERS)): check-valgrind-%: $(INSTALLED)
	mkdir -p build && rm -f build/valgrind-$*-*.log
	cd tests && PYTHONMALLOC=malloc HYPOTHESIS_PROFILE=valgrind KESTREL_THREAD_ROUNDS=10 $(VALGRIND) \
		--log-file=$(abspath build/valgrind-$*-all.log) \
		../$(PY_$*) -m pytest -p no:cacheprovider --capture=sys -m 'not reruns' $(PYTEST_ARGS)
	for kernel in $(VALGRIND_KERNELS); do \
		echo "kernel tests on $$kernel, under valgrind"; \
		(cd tests && PLANESIEVE_KERNEL=$$kernel AFFINEKIT_KERNEL=$$kernel PYTHONMALLOC=malloc HYPOTHESIS_PROFILE=valgrind $(VALGRIND) \
			--log-file=$(abspath build/valgrind-$*-$$kernel.log) \
			../$(PY_$*) -m pytest -q -p no:cacheprovider --capture=sys -m kernels $(PYTEST_ARGS)) || exit 1; \
	done
	$(PY_$*) tests/valgrind_check.py build/valgrind-$*-*.log

# ------------------------------------------------------------------ clean

clean:
	rm -rf build dist *.egg-info tests/.pytest_cache tests/.hypothesis

distclean: clean
	rm -rf $(VENV_py2) $(VENV_py3) $(TOOLS) $(VENV_matrix) .nox
