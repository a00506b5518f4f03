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

// Release 1.12: the names, the domain or workgroup, the programs installed
// (each item an array: name, version, publisher, date, uninstall command,
// scope).
WScript.Echo("GetComputerName: " + info.GetComputerName() + ", DNS " + info.GetComputerName("DNS"));
WScript.Echo("GetUserName: " + info.GetUserName() + ", SAM " + info.GetUserName("SAM"));
WScript.Echo((info.IsDomainJoined() ? "Domain: " : "Workgroup: ") + info.GetDomainName());
var programs = new VBArray(info.GetInstalledPrograms("Machine64,Machine32")).toArray();
WScript.Echo("Programs of the machine: " + programs.length);
if (programs.length > 0)
    WScript.Echo("First: " + new VBArray(programs[0]).toArray().join(" | "));
WScript.Echo("Done.");
