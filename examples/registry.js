// Tarnwick sample: the Registry class from JScript.
//   cscript //nologo registry.js
// JScript passes every argument by value, so the methods that hand a value
// back through an argument (QueryRegValue, SetRegValue, CreateRegKey) still
// work, but the script sees only their True/False result. Read values with
// RegReadString instead.
// Handle values above 0x7FFFFFFF must be given as signed 32-bit numbers:
// write 0x80000001|0 for HKEY_CURRENT_USER.
var HKEY_CURRENT_USER = 0x80000001 | 0;
var reg = new ActiveXObject("TarnwickDLL.Registry");
var key = "Software\\Tarnwick Examples\\JScript";

WScript.Echo("RegCreateKey: " + reg.RegCreateKey("HKEY_CURRENT_USER", key));
WScript.Echo("RegWriteString: " + reg.RegWriteString("HKEY_CURRENT_USER", key, "Greeting", "Hello from JScript"));
WScript.Echo("RegReadString: " + reg.RegReadString("HKEY_CURRENT_USER", key, "Greeting"));

// True (-1) when the value exists; the text itself does not come back.
WScript.Echo("QueryRegValue: " + reg.QueryRegValue(HKEY_CURRENT_USER, key, "Greeting", ""));
WScript.Echo("QueryRegValue of a missing value: " + reg.QueryRegValue(HKEY_CURRENT_USER, key, "Missing", ""));
WScript.Echo("CreateRegKey: " + reg.CreateRegKey(HKEY_CURRENT_USER, key + "\\Child", 0));
WScript.Echo("SetRegValue: " + reg.SetRegValue(HKEY_CURRENT_USER, key, "Note", "set by SetRegValue"));
WScript.Echo("RegReadString after SetRegValue: " + reg.RegReadString("HKCU", key, "Note"));
WScript.Echo("Done.");
