// WindowsInfo, Time and Reboot from JScript: created by ProgID, every method
// but Reboot called late bound. JScript passes everything by value, so
// GetLocation leaves the script's variable as it was. The ".htm" association
// of the prefix is pointed at a ProgID of this script's own and put back.
function shown(text) { return '"' + String(text).replace(/\r\n/g, "\\r\\n") + '"'; }
function secondsOf(text) {
    return parseInt(text.substr(0, 2), 10) * 3600 + parseInt(text.substr(3, 2), 10) * 60 +
           parseInt(text.substr(6, 2), 10);
}
// Distance on a 24-hour clock, -43200 to 43199 seconds
function clockDifference(a, b) {
    var d = ((b - a) % 86400 + 86400) % 86400;
    return d >= 43200 ? d - 86400 : d;
}

var sh = new ActiveXObject("WScript.Shell");
var info = new ActiveXObject("TarnwickDLL.WindowsInfo");
var clock = new ActiveXObject("TarnwickDLL.Time");
var restart = new ActiveXObject("TarnwickDLL.Reboot");
check(typeof restart == "object", "TarnwickDLL.Reboot is a " + typeof restart);

// Platform id and version text
var id = info.GetOSType();
check(id === 2, "GetOSType = " + id);
var NT = "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\";
var text = info.GetOSVersionInfo();
check(text === "Operating System: " + sh.RegRead(NT + "ProductName") + " Version " +
      sh.RegRead(NT + "CurrentVersion") + "\r\n", "GetOSVersionInfo = " + shown(text));
check(text.indexOf("Operating System: ") === 0, "version text starts " + shown(text.substr(0, 18)));

// GetLocation by value: no error, the variable unchanged
var given = ['"C:\\Program Files\\Web\\web.exe" -nohome "%1"', "C:\\WEB\\WEB.EXE -url", '"', "", "exe"];
for (var i = 0; i < given.length; i++) {
    var s = given[i];
    try {
        var r = info.GetLocation(s);
        check(r === undefined, "GetLocation gave back " + shown(r));
    } catch (e) {
        check(false, "GetLocation " + shown(given[i]) + " raised " + (e.number >>> 0).toString(16));
    }
    check(s === given[i], "GetLocation by value changed " + shown(given[i]) + " to " + shown(s));
}

// Times against the script host's own clock
var pattern = /^([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]$/;
var before = new Date();
var utc = clock.CurrentGMTTime();
var local = clock.CurrentLocalTime();
var after = new Date();
check(typeof utc == "string" && pattern.test(utc), "CurrentGMTTime = " + shown(utc));
check(typeof local == "string" && pattern.test(local), "CurrentLocalTime = " + shown(local));
function utcSeconds(d) { return d.getUTCHours() * 3600 + d.getUTCMinutes() * 60 + d.getUTCSeconds(); }
function localSeconds(d) { return d.getHours() * 3600 + d.getMinutes() * 60 + d.getSeconds(); }
if (pattern.test(utc))
    check(clockDifference(utcSeconds(before), secondsOf(utc)) >= -2 &&
          clockDifference(secondsOf(utc), utcSeconds(after)) >= -2,
          "CurrentGMTTime " + utc + " is not the script's UTC " + before.toUTCString());
if (pattern.test(local))
    check(clockDifference(localSeconds(before), secondsOf(local)) >= -2 &&
          clockDifference(secondsOf(local), localSeconds(after)) >= -2,
          "CurrentLocalTime " + local + " is not the script's local time " + before.toString());

// Default browser through an association of the script's own
var HTM = "HKLM\\Software\\Classes\\.htm\\";
var PROGID = "HKLM\\Software\\Classes\\TarnwickTests.JScript\\";
var reg = new ActiveXObject("TarnwickDLL.Registry");
var created = reg.RegCreateKey("HKLM", "Software\\Classes\\.htm");  // 1 new, 2 there before
var hadValue = false, oldValue = "";
try { oldValue = sh.RegRead(HTM); hadValue = true; } catch (e) {}
check(created == 1 || created == 2, "RegCreateKey of .htm gave " + created);
try {
    sh.RegWrite(HTM, "TarnwickTests.JScript", "REG_SZ");
    sh.RegWrite(PROGID + "shell\\open\\command\\", "C:\\TarnwickJS\\tjs.exe --profile C:\\exedir -url %1", "REG_SZ");
    var web = info.GetWebBrowser(), path = info.GetDefaultBrowserPath();
    check(web === "C:\\TarnwickJS\\tjs.exe --profile C:\\exe", "GetWebBrowser = " + shown(web));
    check(path === web, "GetDefaultBrowserPath = " + shown(path));
    sh.RegWrite(PROGID + "shell\\open\\command\\", '"C:\\TARNWICKJS\\TJS.EXE"', "REG_SZ");
    path = info.GetDefaultBrowserPath();
    check(path === "", "upper-case .EXE gave " + shown(path));
} catch (e) {
    check(false, "association cases raised " + (e.number >>> 0).toString(16) + " " + e.description);
} finally {
    // The script host's RegDelete is not there in Wine: reg.exe deletes.
    var rc = sh.Run('reg delete "HKLM\\Software\\Classes\\TarnwickTests.JScript" /f', 0, true);
    check(rc === 0, "reg delete of the script's ProgID gave " + rc);
    if (created == 1) rc = sh.Run('reg delete "HKLM\\Software\\Classes\\.htm" /f', 0, true);
    else if (hadValue) sh.RegWrite(HTM, oldValue, "REG_SZ");
    else rc = sh.Run('reg delete "HKLM\\Software\\Classes\\.htm" /ve /f', 0, true);
    check(rc === 0, "putting .htm back gave " + rc);
}
var gone = false;
try { sh.RegRead(PROGID); } catch (e) { gone = true; }
check(gone, "the script's ProgID key is still there");
var nowValue = "", nowThere = false;
try { nowValue = sh.RegRead(HTM); nowThere = true; } catch (e) {}
check(nowThere === hadValue && nowValue === oldValue, ".htm value is " + shown(nowValue) + ", was " + shown(oldValue));

finish();
