#!/usr/bin/env python3
"""Cases for install.sh's apt steps, against a stand-in apt-get: python3 scripts/lib/install_test.py"""
import os
import pathlib
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))

# Records each call; "update" fails while the count file says so; "install" fails unless
# asked for a target release, as when one architecture's list of a suite is missing.
FAKE_APT = """#!/bin/sh
echo "$*" >> "$KESTRUNE_FAKE_APT/calls"
case "$*" in
  *update*)
    left=$(cat "$KESTRUNE_FAKE_APT/update_failures")
    [ "$left" -gt 0 ] || exit 0
    echo $((left - 1)) > "$KESTRUNE_FAKE_APT/update_failures"
    echo "E: Failed to fetch http://mirror/binary-i386/Packages.xz  File has unexpected size" >&2
    exit 100 ;;
  *" -t "*)
    [ -f "$KESTRUNE_FAKE_APT/pinned_fails" ] || exit 0
    echo "E: pinned install failed too" >&2
    exit 100 ;;
  *)
    echo "E: Unable to correct problems, you have held broken packages." >&2
    exit 100 ;;
esac
"""


def codename():
    for line in pathlib.Path("/etc/os-release").read_text().splitlines():
        if line.startswith("VERSION_CODENAME="):
            return line.split("=", 1)[1].strip('"')
    return ""


class InstallTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.root = pathlib.Path(self.folder.name)
        bin_dir = self.root / "bin"
        bin_dir.mkdir()
        apt = bin_dir / "apt-get"
        apt.write_text(FAKE_APT)
        apt.chmod(0o755)
        (self.root / "update_failures").write_text("0")

    def tearDown(self):
        self.folder.cleanup()

    def run_steps(self, steps):
        env = dict(os.environ, PATH=f"{self.root / 'bin'}:{os.environ['PATH']}", KESTRUNE_FAKE_APT=str(self.root))
        script = f". '{HERE}/install.sh'; kestrune_update_pause=0; {steps}"
        return subprocess.run(["bash", "-c", script], env=env, capture_output=True, text=True)

    def calls(self):
        return (self.root / "calls").read_text().splitlines()

    def test_an_install_that_does_not_fit_together_takes_the_releases_own_versions(self):
        result = self.run_steps("install_missing wine64 wine32:i386")
        self.assertEqual(result.returncode, 0, result.stderr)
        calls = self.calls()
        self.assertEqual(len(calls), 2)
        self.assertIn(f"-t {codename()} wine64 wine32:i386", calls[1])
        self.assertNotIn("held broken packages", result.stderr, "a mended failure is not shown")

        (self.root / "pinned_fails").write_text("")
        result = self.run_steps("install_missing wine64")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("pinned install failed too", result.stderr)

    def test_lists_are_fetched_again_and_one_that_keeps_failing_is_named(self):
        (self.root / "update_failures").write_text("2")
        result = self.run_steps("update_package_lists")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(len(self.calls()), 3, "two failures, then the lists")
        self.assertNotIn("could not be fetched", result.stderr)

        (self.root / "calls").unlink()
        (self.root / "update_failures").write_text("9")
        result = self.run_steps("update_package_lists && echo went-on")
        self.assertEqual(len(self.calls()), 3)
        self.assertIn("binary-i386/Packages.xz", result.stderr)
        self.assertIn("went-on", result.stdout, "the install goes on with the lists it has")


if __name__ == "__main__":
    unittest.main()
