"""`pip install .` from the repository into a fresh virtual environment, offline, and an import of
the installed package from outside the repository."""

import os
import subprocess
import sys

from conftest import REPO


def test_pip_install_into_a_fresh_venv_offline(tmp_path):
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], check=True, timeout=120)
    python = str(venv / "bin" / "python")
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    env.update(PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1", PIP_NO_CACHE_DIR="1")
    install = subprocess.run([python, "-m", "pip", "install", REPO], env=env, capture_output=True, text=True,
                             timeout=240)
    assert install.returncode == 0, install.stdout[-3000:] + install.stderr[-3000:]
    check = subprocess.run([python, "-c", "import qvschedule; print(qvschedule.__file__); "
                            "print(qvschedule.Scheduler().running, qvschedule.Status.NO_MORE_VUSERS.value)"],
                           env=env, cwd=tmp_path, capture_output=True, text=True, timeout=60)
    assert check.returncode == 0, check.stderr
    location, answers = check.stdout.splitlines()
    assert location.startswith(str(venv)), location
    assert answers == "False 2"
