' Tarnwick sample: the Time class from VBScript.
'   cscript //nologo time.vbs
' Both methods give the time of day as "HH:MM:SS" on a 24-hour clock.
Option Explicit
Dim clock, utc, here
Set clock = CreateObject("TarnwickDLL.Time")
utc = clock.CurrentGMTTime
here = clock.CurrentLocalTime
WScript.Echo "CurrentGMTTime: " & utc
WScript.Echo "CurrentLocalTime: " & here
' Hours, minutes and seconds as numbers.
WScript.Echo "Local hour: " & CInt(Left(here, 2)) & ", minute: " & CInt(Mid(here, 4, 2)) & ", second: " & CInt(Right(here, 2))
WScript.Echo "Done."
