' A sample that dies in its middle: the runner must fail it, although every
' line it printed matches and the script host exits 0.
Set clock = CreateObject("TarnwickDLL.Time")
WScript.Echo "CurrentGMTTime: " & clock.CurrentGMTTime
clock.NoSuchMethod
WScript.Echo "Done."
