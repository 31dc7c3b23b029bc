"""The Windows tree compiles without a C runtime only what runs without one
(the exe and lzs-launch); the hosted programs, lzs-pack.exe among them, get
ordinary flags. Reads the compile commands of the Windows build folder (the
first argument)."""

import json
import sys
from pathlib import Path

NO_CRT_FLAGS = ("-ffreestanding", "-fno-exceptions", "-fno-rtti")

# (object as "<target>.dir/<source>", built without a C runtime)
EXPECTED = [
    ("lzs_app.dir/run.cpp", True),
    ("lzs_app.dir/command_line.cpp", True),
    ("lzs_no_crt_decode.dir/decode.cpp", True),
    ("lzs-launch.dir/launch.cpp", True),
    ("lzs-pack-exe.dir/", False),  # whatever its source is called
    ("lzs_encode.dir/encode.cpp", False),
    ("lzs.dir/decode.cpp", False),
]

commands = json.loads((Path(sys.argv[1]) / "compile_commands.json").read_text())
failures = []
for object_name, no_crt in EXPECTED:
    found = [c for c in commands if object_name in c.get("output", c["command"])]
    if not found:
        failures.append(f"{object_name}: not built")
    for command in found:
        flags = command["command"].split()
        present = [flag for flag in NO_CRT_FLAGS if flag in flags]
        if present != (list(NO_CRT_FLAGS) if no_crt else []):
            failures.append(f"{object_name}: has {present or 'none'} of {NO_CRT_FLAGS}")
for failure in failures:
    print(failure, file=sys.stderr)
sys.exit(1 if failures else 0)
