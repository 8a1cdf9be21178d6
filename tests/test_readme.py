"""The examples of the README and the API reference run as written: every python block, and
every velkor command line."""

import pathlib
import re
import shlex
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
DOCUMENTS = "\n".join((ROOT / name).read_text() for name in ("README.md", "docs/api.md"))
PYTHON_BLOCKS = re.findall(r"```python\n(.*?)```", DOCUMENTS, re.DOTALL)
BASH_LINES = [line for block in re.findall(r"```bash\n(.*?)```", DOCUMENTS, re.DOTALL)
              for line in block.splitlines()]
COMMANDS = [line[line.index("velkor "):] for line in BASH_LINES if "velkor " in line]


def test_readme_has_examples():
    assert len(PYTHON_BLOCKS) >= 2 and len(COMMANDS) >= 3


@pytest.mark.parametrize("block", PYTHON_BLOCKS, ids=lambda b: b.splitlines()[0])
def test_python_block_runs(block, monkeypatch, capsys):
    monkeypatch.chdir(ROOT)
    exec(compile(block, "README.md", "exec"), {"__name__": "readme"})
    assert capsys.readouterr().out


@pytest.mark.parametrize("command", COMMANDS)
def test_command_line_runs(command, tmp_path):
    shutil.copytree(ROOT / "examples", tmp_path / "examples")
    words = shlex.split(command, comments=True)
    stdin = None
    if "<" in words:
        at = words.index("<")
        stdin = (tmp_path / words[at + 1]).read_bytes()
        del words[at:at + 2]
    run = subprocess.run([sys.executable, "-m", "velkor", *words[1:]], input=stdin,
                         capture_output=True, cwd=tmp_path, timeout=120)
    # Only the count of shots discarded by --postselect may appear on stderr.
    stderr = re.sub(rb"velkor: \d+ of \d+ shots discarded by postselection\n", b"", run.stderr)
    assert run.returncode == 0 and stderr == b"", run.stderr
