// The checks that every JScript test uses. run_com_tests.py runs each script with this file
// joined after it (Wine's script host has no include), so a line number up to the script's
// length is the script's own. Functions and var are known before the script's first line
// runs; the statements here run after its last, and print the summary that the job requires.
var passed, failed;  // undefined until the first check: this line runs after the script

function check(what, actual, expected) {
    if (actual === expected) {
        passed = (passed || 0) + 1;
    } else {
        failed = (failed || 0) + 1;
        WScript.Echo("FAIL " + what + ": got " + actual + " (" + typeof actual + "), expected " + expected);
    }
}

function checkError(what, call, number, description) {
    try {
        call();
        check(what + " raises", "no error", "an error");
    } catch (e) {
        check(what + " number", e.number & 0xFFFF, number);
        check(what + " scode", e.number, (0x800A0000 | number));
        check(what + " description", e.description, description);
    }
}

// Reached only when the script ran to its end.
WScript.Echo((passed || 0) + " passed, " + (failed || 0) + " failed");
