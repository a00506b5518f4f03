// Tarnwick sample: the WindowsInfo class from JScript.
//   cscript //nologo windowsinfo.js
// GetLocation rewrites its argument in place, which JScript cannot see (it
// passes arguments by value); GetDefaultBrowserPath already returns the
// cut-down path.
var info = new ActiveXObject("TarnwickDLL.WindowsInfo");
WScript.Echo("GetOSType: " + info.GetOSType());
WScript.Echo("GetOSVersionInfo: " + info.GetOSVersionInfo().replace(/\r\n$/, ""));
WScript.Echo("GetWebBrowser: " + info.GetWebBrowser());
WScript.Echo("GetDefaultBrowserPath: " + info.GetDefaultBrowserPath());
WScript.Echo("Done.");
