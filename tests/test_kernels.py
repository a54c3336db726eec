"""Kernel choice: the best kernel the CPU supports is chosen at import, the
forcing variable picks another, and every test marked `kernels` (those
whose results go through a kernel) passes again on every other kernel.
"""
import os
import subprocess
import sys

import pytest

import affinekit
import planesieve

HERE = os.path.dirname(os.path.abspath(__file__))
FORCING_VARIABLES = ['PLANESIEVE_KERNEL', 'AFFINEKIT_KERNEL']
# Both modules have the same kernels.
assert affinekit.kernels == planesieve.kernels
OTHER_KERNELS = [name for name in planesieve.kernels if name != planesieve.kernel]


def forced(kernel):
    """The environment with every module forced to the given kernel."""
    return dict(os.environ, **dict((variable, kernel) for variable in FORCING_VARIABLES))


def unforced():
    return dict((name, value) for name, value in os.environ.items() if name not in FORCING_VARIABLES)


@pytest.mark.reruns
@pytest.mark.skipif(any(os.environ.get(variable) for variable in FORCING_VARIABLES),
                    reason='already forced to one kernel')
@pytest.mark.parametrize('kernel', OTHER_KERNELS)
def test_every_kernel(kernel):
    """The kernel tests again, on another kernel this CPU supports. The
    repeats keep the everyday number of examples (CI's longer runs are spent
    once)."""
    environment = forced(kernel)
    environment.setdefault('HYPOTHESIS_PROFILE', 'default')
    process = subprocess.Popen([sys.executable, '-m', 'pytest', '-q', '-p', 'no:cacheprovider', '-m', 'kernels'],
                               cwd=HERE, env=environment, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    output = process.communicate()[0].decode()
    assert process.returncode == 0, output


@pytest.mark.parametrize('module, variable', [('planesieve', 'PLANESIEVE_KERNEL'), ('affinekit', 'AFFINEKIT_KERNEL')])
def test_forced_kernel_is_used_and_an_unsupported_one_is_refused(module, variable):
    script = 'import {0}; print({0}.kernel + ":" + ", ".join({0}.kernels))'.format(module)
    # A process of its own sees the CPU itself (one under valgrind sees less).
    best, supported = subprocess.check_output([sys.executable, '-c', script], env=unforced()).decode().strip().split(':')
    assert best == supported.split(', ')[-1]
    for kernel in supported.split(', '):
        output = subprocess.check_output([sys.executable, '-c', script], env=dict(unforced(), **{variable: kernel}))
        assert output.decode().strip() == '%s:%s' % (kernel, supported)
    process = subprocess.Popen([sys.executable, '-c', script], stderr=subprocess.PIPE, stdout=subprocess.PIPE,
                               env=dict(unforced(), **{variable: 'neon'}))
    error = process.communicate()[1].decode()
    assert process.returncode != 0
    assert ('ImportError: %s=neon: not a kernel this CPU supports (it supports %s)' % (variable, supported)) in error
