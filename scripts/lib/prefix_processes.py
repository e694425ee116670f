"""The Windows processes of one Wine prefix that are not Wine's own, and ending them.

One process left behind in a prefix (a host, a folder window) can stall every later program of
that prefix, so wine-exec looks before each test program starts and after it ends:

    prefix_processes.py end OUT.json [GRACE]   ends what runs (after GRACE seconds in which it may
                                               still end by itself) and writes what it was to OUT.json

A Wine process is a Linux process whose environment names the prefix and whose command line names
a .exe: as Wine shows it (C:\\windows\\system32\\services.exe) or, for a program started from
Linux or under qemu-i386, as it was started.
"""
import json
import os
import pathlib
import signal
import sys
import time

# Started by Wine for the prefix, on demand, and kept for its whole life.
WINE_OWN = {"services.exe", "winedevice.exe", "plugplay.exe", "svchost.exe", "rpcss.exe", "wineboot.exe",
            "conhost.exe", "tabtip.exe", "start.exe"}


def base_name(argument: str) -> str:
    return argument.replace("\\", "/").rsplit("/", 1)[-1].lower()


def exe_name(argv: list[str]) -> str:
    """The .exe a Wine process runs, lower case, or "" for any other process (a shell or a script
    whose arguments name one, the wineserver)."""
    if not argv:
        return ""
    if base_name(argv[0]).endswith(".exe"):
        return base_name(argv[0])
    # Emulated: qemu-i386 runs Wine's 32-bit loader, which runs the program.
    if base_name(argv[0]).startswith("qemu-i386"):
        for argument in argv[1:4]:
            if base_name(argument).endswith(".exe"):
                return base_name(argument)
    return ""


def is_wine_own(name: str, argv: list[str]) -> bool:
    # The desktop's explorer holds the tray and the desktop window; a folder window's does not.
    return name in WINE_OWN or (name == "explorer.exe" and "/desktop" in argv)


def read_process(proc: pathlib.Path):
    """(pid, argv) of a process of this prefix, or None."""
    try:
        environment = (proc / "environ").read_bytes().split(b"\0")
        argv = [part.decode(errors="replace") for part in (proc / "cmdline").read_bytes().split(b"\0") if part]
    except OSError:
        return None
    prefix = os.environ.get("WINEPREFIX", "")
    if not prefix or f"WINEPREFIX={prefix}".encode() not in environment:
        return None
    return int(proc.name), argv


def strangers() -> list[dict]:
    """The prefix's Windows processes other than Wine's own."""
    found = []
    for proc in pathlib.Path("/proc").glob("[0-9]*"):
        process = read_process(proc)
        if not process or process[0] == os.getpid():
            continue
        pid, argv = process
        name = exe_name(argv)
        if name and not is_wine_own(name, argv):
            found.append({"pid": pid, "name": name, "command": " ".join(argv)[:300]})
    return sorted(found, key=lambda entry: entry["pid"])


def end(processes: list[dict], patience: float = 10.0) -> None:
    """Kills them; the wineserver closes what they held once their Linux processes are gone."""
    for process in processes:
        try:
            os.kill(process["pid"], signal.SIGKILL)
        except OSError:
            pass
    deadline = time.monotonic() + patience
    while time.monotonic() < deadline and any(pathlib.Path(f"/proc/{p['pid']}").exists() for p in processes):
        time.sleep(0.1)


def main() -> int:
    if len(sys.argv) not in (3, 4) or sys.argv[1] != "end":
        print(__doc__, file=sys.stderr)
        return 2
    # A program's hosts end with it, through its job, a moment after it.
    deadline = time.monotonic() + (float(sys.argv[3]) if len(sys.argv) == 4 else 0)
    found = strangers()
    while found and time.monotonic() < deadline:
        time.sleep(0.2)
        found = strangers()
    end(found)
    pathlib.Path(sys.argv[2]).write_text(json.dumps(found, indent=1) + "\n")
    for process in found:
        print(f"prefix_processes: ended {process['name']} (process {process['pid']}): {process['command']}",
              file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
