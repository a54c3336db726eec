# Everyday commands. Every target that needs the environment makes it first.
#
#   make demo    set up, install, and show both modules at work
#   make test    set up, install, and run the test suite
#   make build   compile the modules in place into build/lib (no install)
#   make bench   time every function against its floor, plain Python and pyrr
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

.PHONY: setup install build test demo bench clean distclean

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

install: setup
	$(PY) -m pip install $(PIP_QUIET) --no-build-isolation --no-deps --force-reinstall .

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

demo: install
	$(PY) examples/demo.py

clean:
	rm -rf build dist *.egg-info tests/.pytest_cache tests/.hypothesis

distclean: clean
	rm -rf $(VENV) $(TOOLS)
