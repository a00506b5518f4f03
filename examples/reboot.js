// Tarnwick sample: the Reboot class from JScript.
//   cscript //nologo reboot.js        shows what it would do
//   cscript //nologo reboot.js now    asks Windows to restart the machine
var restart = new ActiveXObject("TarnwickDLL.Reboot");
WScript.Echo("Reboot object: " + typeof restart);
if (WScript.Arguments.length > 0 && WScript.Arguments(0) == "now") {
    // 1: the restart request was accepted; 0: refused.
    WScript.Echo("Reboot: " + restart.Reboot());
} else {
    WScript.Echo("Reboot: not called (run \"cscript reboot.js now\" to restart)");
}
// Release 1.12: whether a restart is pending, and why.
var reasons = new VBArray(restart.GetRebootPending()).toArray();
WScript.Echo("IsRebootPending: " + restart.IsRebootPending() + " [" + reasons.join(", ") + "]");
WScript.Echo("Done.");
