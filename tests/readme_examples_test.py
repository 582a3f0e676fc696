#!/usr/bin/env python3
"""Compiles and runs the library examples of README.md against the built
library and compares what they print with the output the README shows.

An example is the fenced block after `<!-- readme-example: NAME -->`; its
expected output is the fenced block after `<!-- readme-output: NAME -->`.
NAME's extension says how to run it: .c is compiled with the C compiler,
.py runs under this Python.

usage: readme_examples_test.py README.md BUILD_DIR INCLUDE_DIR
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

MARKED_BLOCK = re.compile(
    r"<!-- readme-(example|output): ([\w.-]+) -->\n+```[\w-]*\n(.*?)^```$",
    re.DOTALL | re.MULTILINE,
)


def marked_blocks(readme_text):
    examples, outputs = {}, {}
    for kind, name, body in MARKED_BLOCK.findall(readme_text):
        target = examples if kind == "example" else outputs
        if name in target:
            raise SystemExit(f"README.md marks {kind} {name} twice")
        target[name] = body
    return examples, outputs


def run(command, **kwargs):
    result = subprocess.run(command, capture_output=True, timeout=60, **kwargs)
    if result.returncode != 0:
        sys.stderr.buffer.write(result.stdout + result.stderr)
        raise SystemExit(f"failed ({result.returncode}): {' '.join(command)}")
    return result.stdout


def main():
    readme, build_dir, include_dir = (os.path.abspath(arg) for arg in sys.argv[1:4])
    with open(readme, encoding="utf-8") as file:
        examples, outputs = marked_blocks(file.read())

    # A renamed marker must not turn the test into one that checks nothing.
    kinds = {os.path.splitext(name)[1] for name in examples}
    if not {".c", ".py"} <= kinds:
        raise SystemExit(f"README.md lacks a marked C or Python example: {sorted(examples)}")
    if set(examples) != set(outputs):
        raise SystemExit(f"examples {sorted(examples)} and outputs {sorted(outputs)} differ")

    env = dict(os.environ, LD_LIBRARY_PATH=build_dir, PYTHONIOENCODING="utf-8")
    compiler = os.environ.get("CC") or shutil.which("cc") or "gcc"
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        for name, source in sorted(examples.items()):
            path = os.path.join(work, name)
            with open(path, "w", encoding="utf-8") as file:
                file.write(source)
            if name.endswith(".c"):
                program = path[:-2]
                run([compiler, "-std=c11", "-Wall", "-Wextra", "-Werror", "-I", include_dir,
                     path, "-L", build_dir, "-ldravolin", "-o", program])
                command = [program]
            else:
                command = [sys.executable, path]
            printed = run(command, env=env, cwd=work).decode("utf-8")
            if printed != outputs[name]:
                failures += 1
                print(f"{name} printed:\n{printed}README.md shows:\n{outputs[name]}")
            else:
                print(f"{name}: output as shown")
    print(f"{len(examples) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
