"""The ZIP package of one build: packed twice it gives the same bytes, it
holds exactly the SDK layout, its library is the built one, and the
early-bound sample builds from the package alone (its include folder) and
runs against the registered library.

    check_packages.py BUILD_DIR PACKAGE_NAME CXX WINE_RUN

WINE_RUN runs a Windows program in the test's prefix (tests/support/wine-run.sh).

Prints one line per failed check and "N passed, M failed"."""
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

build, name, cxx, wine_run = sys.argv[1:5]
passed = failed = 0


def check(ok, what):
    global passed, failed
    if ok:
        passed += 1
    else:
        failed += 1
        print("FAILED: " + what)


def pack(into):
    subprocess.run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", into],
                   check=True, stdout=subprocess.DEVNULL)
    return os.path.join(into, name + ".zip")


work = tempfile.mkdtemp(prefix="tarnwick-packages-")
try:
    first = pack(os.path.join(work, "a"))
    second = pack(os.path.join(work, "b"))
    with open(first, "rb") as f1, open(second, "rb") as f2:
        check(f1.read() == f2.read(), "packing twice gives different archives")

    expected = {
        "bin/Tarnwick.dll", "bin/Tarnwick.manifest", "bin/Pelmora.exe",
        "include/Tarnwick.idl", "include/Tarnwick.h", "include/Tarnwick_i.c",
        "docs/reference.md", "docs/README.md",
        "examples/cpp/early_bound.cpp", "examples/cpp/late_bound.cpp", "examples/demo.vbs",
        "examples/cpp/regfree.cpp", "examples/cpp/regfree.rc", "examples/cpp/regfree.manifest",
        "examples/registry-values.vbs", "examples/registry-list.js", "examples/admin.vbs",
        "examples/registry-backup.vbs",
    } | {"examples/%s.%s" % (s, l) for s in ("registry", "windowsinfo", "time", "reboot")
         for l in ("vbs", "js")} | {
        "examples/powershell/%s.ps1" % s for s in ("registry", "registry-backup", "windowsinfo",
                                                   "time", "reboot", "admin")} | {
        "powershell/Tarnwick/" + f for f in ("Tarnwick.psd1", "Tarnwick.psm1", "Registry.ps1",
                                            "Machine.ps1", "Tarnwick.Format.ps1xml")}
    with zipfile.ZipFile(first) as z:
        names = z.namelist()
        check(all(n.startswith(name + "/") for n in names), "entries outside %s/" % name)
        inside = {n[len(name) + 1:] for n in names}
        check(inside == expected, "contents differ: missing %s, extra %s"
              % (sorted(expected - inside), sorted(inside - expected)))
        check(names == sorted(names), "entries not in sorted order")
        check(all(i.date_time == (2000, 1, 1, 0, 0, 0) for i in z.infolist()),
              "entries without the fixed time")
        with open(os.path.join(build, "library", "Tarnwick.dll"), "rb") as built:
            check(z.read(name + "/bin/Tarnwick.dll") == built.read(),
                  "bin/Tarnwick.dll is not the built library")
        sdk = os.path.join(work, "sdk")
        z.extractall(sdk)

    # The sample, built from the package alone, as the reference tells.
    root = os.path.join(sdk, name)
    exe = os.path.join(work, "early_bound.exe")
    compiled = subprocess.run(
        [cxx, "-std=c++20", "-municode", "-static",
         os.path.join(root, "examples", "cpp", "early_bound.cpp"),
         os.path.join(root, "include", "Tarnwick_i.c"),
         "-I", os.path.join(root, "include"),
         "-lole32", "-loleaut32", "-luuid", "-o", exe],
        capture_output=True, text=True)
    check(compiled.returncode == 0, "the sample does not build from the package:\n"
          + compiled.stderr[-2000:])
    if compiled.returncode == 0:
        ran = subprocess.run([wine_run, exe], capture_output=True, text=True, timeout=120)
        out = ran.stdout.replace("\r", "")
        check(ran.returncode == 0, "the sample failed (%d):\n%s" % (ran.returncode, out))
        check("RegReadString: Hello from C++\n" in out, "the sample did not read its value back")
        check("GetOSType: 2\n" in out, "the sample did not report the platform")
finally:
    shutil.rmtree(work, ignore_errors=True)

print("%d passed, %d failed" % (passed, failed))
sys.exit(1 if failed else 0)
