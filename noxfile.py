"""The build matrix: the modules installed as a user installs them
(`pip install .`, into an environment that already has its numpy), imported,
and tested, on every CPython found here, each with the oldest and the newest
numpy it supports.

    make matrix                      every session, then the table
    make matrix NOX_ARGS='-k 2.7'    some of them (nox's own options)

Interpreters are looked up on PATH, then among pyenv's versions. Each
session records how far it got in .nox/matrix/; the `table` session prints
what is recorded there (interpreter x numpy -> install / import / suite).
"""
import glob
import json
import os
import shutil
import subprocess
import sys

import nox

ROOT = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, ROOT)
from setup import NUMPY  # noqa: E402 (the build's own table of numpy releases)

RESULTS = os.path.join(ROOT, '.nox', 'matrix')

# The newest numpy with wheels for each interpreter; the oldest is setup.py's.
NEWEST_NUMPY = {
    '2.7': '1.16.6', '3.6': '1.19.5', '3.7': '1.21.6', '3.8': '1.24.4', '3.9': '2.0.2',
    '3.10': '2.2.6', '3.11': '2.4.6', '3.12': '2.4.6', '3.13': '2.4.6',
}

# Virtualenv 20.21.1 is the last that makes Python 2.7 and 3.6 environments.
nox.options.default_venv_backend = 'virtualenv'
nox.options.reuse_existing_virtualenvs = False
nox.options.sessions = ['suite', 'stale_build', 'table']


def pyenv_interpreters():
    try:
        root = subprocess.check_output(['pyenv', 'root']).decode().strip()
    except (OSError, subprocess.CalledProcessError):
        root = os.path.expanduser('~/.pyenv')
    return sorted(glob.glob(os.path.join(root, 'versions', '*', 'bin')))


# pyenv's versions come after whatever PATH already offers.
os.environ['PATH'] = os.pathsep.join([os.environ.get('PATH', '')] + pyenv_interpreters())
FOUND = [python for python, _, _ in NUMPY if shutil.which('python' + python)]

# Each entry is tagged with its role, so that a run can name an entry by
# role (nox -t 2.7-oldest) whatever release setup.py's table gives it.
COMBINATIONS = [nox.param(python, numpy, id='%s-numpy%s' % (python, numpy),
                          tags=['%s-%s' % (python, role) for role, release in (('oldest', oldest),
                                                                              ('newest', NEWEST_NUMPY[python]))
                                if release == numpy])
                for python, _, oldest in NUMPY if python in FOUND
                for numpy in sorted({oldest, NEWEST_NUMPY[python]})]


def record(session, **fields):
    if not os.path.isdir(RESULTS):
        os.makedirs(RESULTS)
    path = os.path.join(RESULTS, session.name.replace('/', '_') + '.json')
    previous = {}
    if os.path.exists(path):
        with open(path) as stored:
            previous = json.load(stored)
    previous.update(fields)
    with open(path, 'w') as stored:
        json.dump(previous, stored)


def step(session, name, *args, **kwargs):
    """Runs one command as the named step and records whether it passed."""
    record(session, **{name: 'failed'})
    session.run(*args, **kwargs)
    record(session, **{name: 'passed'})


def suite_requirements(python):
    return os.path.join(ROOT, 'requirements', 'suite-py2.txt' if python == '2.7' else 'suite-py3.txt')


@nox.session
@nox.parametrize('python,numpy', COMBINATIONS)
def suite(session, numpy):
    record(session, python=session.python, numpy=numpy, **{'install': '-', 'import': '-', 'suite': '-'})
    session.install('-r', os.path.join(ROOT, 'requirements', 'pip.txt'))
    session.install('numpy==' + numpy)
    # Exactly what a user runs: build isolation, dependencies resolved.
    step(session, 'install', 'python', '-m', 'pip', 'install', ROOT)
    session.chdir(session.create_tmp())
    step(session, 'import', 'python', '-c',
         'import numpy, affinekit, planesieve; assert numpy.__version__ == %r, numpy.__version__'
         % numpy)
    session.install('-r', suite_requirements(session.python))
    session.chdir(os.path.join(ROOT, 'tests'))
    step(session, 'suite', 'python', '-m', 'pytest', '-p', 'no:cacheprovider', *session.posargs)


# numpy 1.26 and 2.4 both have wheels there.
STALE_BUILD_PYTHON = next((python for python in ('3.12', '3.11') if python in FOUND), None)


@nox.session(python=STALE_BUILD_PYTHON or False, tags=['stale-build'])
def stale_build(session):
    """A module built against numpy 1.x, then installed again against numpy 2
    from the same folder, must be rebuilt, and so import."""
    if STALE_BUILD_PYTHON is None:
        session.skip('needs Python 3.11 or 3.12')
    session.install('-r', os.path.join(ROOT, 'requirements', 'pip.txt'))
    session.install('setuptools==84.2.1', 'numpy==1.26.4')
    install = ('python', '-m', 'pip', 'install', '--no-build-isolation', '--no-deps',
               '--force-reinstall', ROOT)
    session.run(*install)
    session.install('numpy==2.4.6')
    session.run(*install)
    session.chdir(session.create_tmp())
    session.run('python', '-c', 'import numpy, affinekit, planesieve; '
                'print(numpy.__version__, affinekit.transMatrix([1.0])[0][3])')


@nox.session(python=False, tags=['table'])
def table(session):
    """The recorded outcomes as a Markdown table."""
    rows = []
    for path in sorted(glob.glob(os.path.join(RESULTS, '*.json'))):
        with open(path) as stored:
            rows.append(json.load(stored))
    rows.sort(key=lambda row: ([int(part) for part in row['python'].split('.')],
                               [int(part) for part in row['numpy'].split('.')]))
    print('| Python | numpy | install | import | suite |')
    print('|---|---|---|---|---|')
    for row in rows:
        print('| %s | %s | %s | %s | %s |' % (row['python'], row['numpy'], row['install'],
                                              row['import'], row['suite']))
