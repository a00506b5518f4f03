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

// Release 1.11: the date and time to the millisecond, in UTC and with the
// local offset in force (daylight saving included), and the Unix time.
WScript.Echo("CurrentUTCTimestamp: " + clock.CurrentUTCTimestamp());
WScript.Echo("CurrentLocalTimestamp: " + clock.CurrentLocalTimestamp());
var unix = clock.CurrentUnixTime();
WScript.Echo("CurrentUnixTime: " + unix.toFixed(3));
// JScript's own Date takes the Unix time in milliseconds.
var date = new Date(unix * 1000);
WScript.Echo("As a JScript date (UTC): " + date.getUTCFullYear() + "-" + (date.getUTCMonth() + 1) + "-" + date.getUTCDate());

// Release 1.12: when the system started, and the seconds since.
WScript.Echo("GetBootTimestamp: " + clock.GetBootTimestamp());
WScript.Echo("GetUptime: " + clock.GetUptime().toFixed(3));
WScript.Echo("Done.");
