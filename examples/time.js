// Tarnwick sample: the Time class from JScript.
//   cscript //nologo time.js
var clock = new ActiveXObject("TarnwickDLL.Time");
var utc = clock.CurrentGMTTime();
var local = clock.CurrentLocalTime();
WScript.Echo("CurrentGMTTime: " + utc);
WScript.Echo("CurrentLocalTime: " + local);
// Hours, minutes and seconds as numbers.
var parts = utc.split(":");
WScript.Echo("UTC seconds since midnight: " + ((+parts[0]) * 3600 + (+parts[1]) * 60 + (+parts[2])));
WScript.Echo("Done.");
