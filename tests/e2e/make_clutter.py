"""Makes a folder of 20,000 files that are no daemons, for the hostile-files test.

Creating them from inside Wine takes over a minute; here it takes a moment.
"""
import pathlib
import sys

folder = pathlib.Path(sys.argv[1])
count = int(sys.argv[2])
folder.mkdir(parents=True, exist_ok=True)
for i in range(count):
    path = folder / f"note{i}.txt"
    if not path.exists():
        path.write_bytes(b"")
pathlib.Path(sys.argv[3]).touch()
