' Tarnwick demo: one call or more on every class, the 1.0 answers and those
' of release 1.11 side by side.
Option Explicit
Dim reg, info, clock, restart, key, text, status, ok

Set reg = CreateObject("TarnwickDLL.Registry")
key = "Software\Tarnwick Demo"
WScript.Echo "Registry.RegCreateKey          = " & reg.RegCreateKey("HKCU", key) & "  (1 created, 2 existed)"
WScript.Echo "Registry.RegWriteString        = " & reg.RegWriteString("HKCU", key, "Greeting", "Hello from Tarnwick")
WScript.Echo "Registry.RegReadString         = " & reg.RegReadString("HKCU", key, "Greeting")
text = ""
ok = reg.QueryRegValue(&H80000001, key, "Greeting", text)
WScript.Echo "Registry.QueryRegValue         = " & ok & ", strData = " & text
text = "written by reference"
ok = reg.SetRegValue(&H80000001, key, "Note", text)
WScript.Echo "Registry.SetRegValue           = " & ok
status = 0
ok = reg.CreateRegKey(&H80000001, key & "\Child", status)
WScript.Echo "Registry.CreateRegKey          = " & ok & ", KeyStatus = " & status

Set info = CreateObject("TarnwickDLL.WindowsInfo")
WScript.Echo "WindowsInfo.GetOSType          = " & info.GetOSType & "  (2: NT family)"
WScript.Echo "WindowsInfo.GetOSVersionInfo   = " & Replace(info.GetOSVersionInfo, vbCrLf, "")
WScript.Echo "WindowsInfo.GetOSName          = " & info.GetOSName & "  (1.1)"
WScript.Echo "WindowsInfo.GetOSVersion       = " & info.GetOSVersion & "  (1.1)"
WScript.Echo "WindowsInfo.GetOSDisplayVersion = " & info.GetOSDisplayVersion & "  (1.1)"
WScript.Echo "WindowsInfo.GetOSArchitecture  = " & info.GetOSArchitecture & "  (1.1)"
WScript.Echo "WindowsInfo.GetProcessArchitecture = " & info.GetProcessArchitecture & "  (1.1)"
WScript.Echo "WindowsInfo.GetDefaultBrowserPath = " & info.GetDefaultBrowserPath
WScript.Echo "WindowsInfo.GetUserDefaultBrowserPath = " & info.GetUserDefaultBrowserPath & "  (1.1)"
text = """C:\Program Files\Browser\browser.exe"" -url"
info.GetLocation text
WScript.Echo "WindowsInfo.GetLocation        = " & text

Set clock = CreateObject("TarnwickDLL.Time")
WScript.Echo "Time.CurrentGMTTime            = " & clock.CurrentGMTTime
WScript.Echo "Time.CurrentLocalTime          = " & clock.CurrentLocalTime
WScript.Echo "Time.CurrentUTCTimestamp       = " & clock.CurrentUTCTimestamp & "  (1.1)"
WScript.Echo "Time.CurrentLocalTimestamp     = " & clock.CurrentLocalTimestamp & "  (1.1)"
WScript.Echo "Time.CurrentUnixTime           = " & FormatNumber(clock.CurrentUnixTime, 3, True, False, False) & "  (1.1)"

Set restart = CreateObject("TarnwickDLL.Reboot")
WScript.Echo "Reboot object created          = " & IsObject(restart) & "  (Reboot and ScheduleReboot not called: they would restart the machine)"
WScript.Echo "Done."
