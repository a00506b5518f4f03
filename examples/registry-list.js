// Tarnwick sample: Registry 1.1 from JScript, listing keys and values.
//   cscript //nologo registry-list.js
// Makes a few subkeys and values under HKCU\Software\Tarnwick Examples\List,
// lists them with RegEnumKeys and RegEnumValues, and removes the key again.
// The lists come as arrays of Variants, which JScript reads through VBArray.
var reg = new ActiveXObject("TarnwickDLL.Registry");
var key = "Software\\Tarnwick Examples\\List";

reg.RegWriteValue("HKCU", key + "\\alpha", "", "first");
reg.RegWriteValue("HKCU", key + "\\beta", "size", 12);
reg.RegWriteValue("HKCU", key, "colour", "blue");
// A JScript array works wherever an array is taken: three texts make a
// REG_MULTI_SZ value.
reg.RegWriteValue("HKCU", key, "tags", ["a", "b", "c"]);

var keys = new VBArray(reg.RegEnumKeys("HKCU", key)).toArray().sort();
WScript.Echo("Subkeys: " + keys.join(", "));
var values = new VBArray(reg.RegEnumValues("HKCU", key)).toArray().sort();
WScript.Echo("Values: " + values.join(", "));
WScript.Echo("tags: " + new VBArray(reg.RegReadValue("HKCU", key, "tags")).toArray().join("/"));
WScript.Echo("beta size: " + reg.RegReadValue("HKCU", key + "\\beta", "size"));
// A key that does not exist lists as Empty (undefined in JScript).
WScript.Echo("Missing key: " + (reg.RegEnumKeys("HKCU", key + "\\missing") === undefined));

// Without Recursive a key that still has subkeys stays.
WScript.Echo("Delete without Recursive: " + reg.RegDeleteKey("HKCU", key));
WScript.Echo("Delete with Recursive: " + reg.RegDeleteKey("HKCU", key, true));
WScript.Echo("Key exists after: " + reg.RegKeyExists("HKCU", key));
WScript.Echo("Done.");
