# Everyday commands. Every target that needs the environment makes it first.
#
#   make demo    set up, install, and show both modules at work
#   make test    set up, install, and run the test suite
#   make build   compile the modules in place into build/lib (no install)
#   make bench   time every function against its floor, plain Python and pyrr
#   make fuzz    10^5 arbitrary arguments per function against the oracle
#   make soak    10^6 calls per function, resident memory before and after
#   make check-memory  the suite against an AddressSanitizer + UBSan build
#   make check-valgrind  the suite under valgrind's memcheck
#   make clean   remove build products (the environment stays)
#   make distclean  also remove .venv and .tools

# The interpreter: $(PYTHON2) if given, else a working python2.7 on PATH,
# else pyenv's 2.7.18.
PYENV_ROOT_DIR := $(shell pyenv root 2>/dev/null || echo $(HOME)/.pyenv)
PYTHON2 ?= $(or $(shell python2.7 -c 'import sys; print(sys.executable)' 2>/dev/null),\
                $(wildcard $(PYENV_ROOT_DIR)/versions/2.7.18/bin/python))

VENV := .venv
PY := $(VENV)/bin/python
TOOLS := .tools
PIP_QUIET := --quiet --disable-pip-version-check
PYTEST_ARGS ?=

.PHONY: setup install build test demo bench fuzz soak check-memory check-valgrind clean distclean

setup: $(VENV)/.ready

$(TOOLS)/.ready: requirements/py2-virtualenv.txt
	@test -n "$(PYTHON2)" || { echo "no Python 2.7 found: set PYTHON2=/path/to/python2.7" >&2; exit 1; }
	rm -rf $(TOOLS)
	PYTHONWARNINGS=ignore $(PYTHON2) -m pip install $(PIP_QUIET) --target $(TOOLS) -r $<
	touch $@

$(VENV)/.ready: $(TOOLS)/.ready requirements/py2-test.txt
	rm -rf $(VENV)
	PYTHONPATH=$(TOOLS) $(PYTHON2) -m virtualenv --quiet --no-periodic-update -p $(PYTHON2) $(VENV)
	$(PY) -m pip install $(PIP_QUIET) -r requirements/py2-test.txt
	touch $@

# Builds a wheel in place and installs it: pip's own `pip install .` copies the
# whole tree (the environment included) before it builds.
WHEEL_DIR := build/wheel

install: setup
	rm -rf $(WHEEL_DIR)
	$(PY) setup.py --quiet bdist_wheel --dist-dir $(WHEEL_DIR) --bdist-dir build/bdist
	$(PY) -m pip install $(PIP_QUIET) --no-deps --force-reinstall $(WHEEL_DIR)/*.whl

build: setup
	$(PY) setup.py --quiet build_ext --build-lib build/lib --build-temp build/tmp

# Run from tests/ so that the installed modules, not the source folders, are imported.
test: install
	cd tests && ../$(PY) -m pytest $(PYTEST_ARGS)

BENCH_BUILD := build/bench
BENCH_ARGS ?=

# One BLAS thread: pyrr's 4x4 inverse must not wait on threads waking up.
bench: install
	$(PY) -m pip install $(PIP_QUIET) -r requirements/py2-bench.txt
	$(PY) bench/setup_floor.py --quiet build_ext --build-lib $(BENCH_BUILD) --build-temp $(BENCH_BUILD)/tmp
	cd bench && OPENBLAS_NUM_THREADS=1 PYTHONPATH=../$(BENCH_BUILD) ../$(PY) run.py $(BENCH_ARGS)

# The whole suite against a build with AddressSanitizer and UBSan in build/asan.
# The interpreter is not instrumented: the runtime is preloaded, and leak
# detection (which would report the interpreter's own) is off.
# Output is captured at the sys level only, so that a report reaches the terminal.
ASAN_BUILD := $(abspath build/asan)
SANITIZE := -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer
SANITIZER_ENV := LD_PRELOAD=$$(gcc -print-file-name=libasan.so) \
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

check-memory: setup
	CFLAGS="$(SANITIZE) -g" LDFLAGS="$(SANITIZE)" $(PY) setup.py --quiet build_ext --force \
		--build-lib $(ASAN_BUILD) --build-temp $(ASAN_BUILD)/tmp
	cd tests && $(SANITIZER_ENV) PYTHONPATH=$(ASAN_BUILD) KESTREL_MODULE_DIR=$(ASAN_BUILD) \
		../$(PY) -m pytest -p no:cacheprovider --capture=sys $(PYTEST_ARGS)

# The whole suite under valgrind's memcheck, with the
# interpreter's allocator noise suppressed: no invalid access, no definite leak.
VALGRIND := valgrind --tool=memcheck --suppressions=valgrind-python.supp --num-callers=40 \
	--leak-check=full --errors-for-leak-kinds=definite --show-leak-kinds=definite --error-exitcode=99

check-valgrind: install
	cd tests && HYPOTHESIS_PROFILE=valgrind $(VALGRIND) ../$(PY) -m pytest -p no:cacheprovider \
		--capture=sys $(PYTEST_ARGS)

# 10^6 calls per function over success and error paths; resident memory printed.
soak: install
	cd bench && ../$(PY) soak.py $(SOAK_ARGS)

# 10^5 arbitrary arguments per function (the everyday run keeps a few hundred).
fuzz: install
	cd tests && HYPOTHESIS_PROFILE=fuzz ../$(PY) -m pytest -p no:cacheprovider test_fuzz.py --hypothesis-show-statistics $(PYTEST_ARGS)

demo: install
	$(PY) examples/demo.py

clean:
	rm -rf build dist *.egg-info tests/.pytest_cache tests/.hypothesis

distclean: clean
	rm -rf $(VENV) $(TOOLS)
