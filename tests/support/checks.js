// Checks for the JScript tests. run-script.sh of this folder puts this file in front
// of every test script: check counts a result and names a failure, same
// compares two values, finish prints the closing line and ends the script
// with its exit code.
var passed = 0, failed = 0;

function check(ok, what) {
    if (ok) {
        passed++;
    } else {
        failed++;
        WScript.Echo("FAILED: " + what);
    }
}

function same(actual, expected, what) {
    check(actual === expected, what + " (got '" + actual + "', expected '" + expected + "')");
}

function finish() {
    WScript.Echo(passed + " passed, " + failed + " failed");
    WScript.Quit(failed > 0 ? 1 : 0);
}

