' Tarnwick sample: what an administrator asks of a machine, with the methods
' of release 1.12: whether a restart is pending and why, when the machine
' started, its names and domain, and the first programs installed.
'   cscript //nologo admin.vbs [COUNT]     lists COUNT programs (default 10)
Option Explicit
Dim info, clock, restart, up, programs, count, i, item

Set info = CreateObject("TarnwickDLL.WindowsInfo")
Set clock = CreateObject("TarnwickDLL.Time")
Set restart = CreateObject("TarnwickDLL.Reboot")

If restart.IsRebootPending Then
    WScript.Echo "Restart pending: yes, " & Joined(restart.GetRebootPending, ", ")
Else
    WScript.Echo "Restart pending: no"
End If

' Seconds, with milliseconds, as days and hh:mm:ss.
up = clock.GetUptime
WScript.Echo "Started: " & clock.GetBootTimestamp & ", up " & Int(up / 86400) & " d " & _
    Right("0" & (Int(up / 3600) Mod 24), 2) & ":" & Right("0" & (Int(up / 60) Mod 60), 2) & ":" & _
    Right("0" & (Int(up) Mod 60), 2)

WScript.Echo "Computer: " & info.GetComputerName & " (" & info.GetComputerName("FQDN") & ")"
WScript.Echo "User: " & info.GetUserName("SAM")
If info.IsDomainJoined Then
    WScript.Echo "Domain: " & info.GetDomainName
Else
    WScript.Echo "Workgroup: " & info.GetDomainName
End If

' Each program: name, version, publisher, install date, uninstall command, scope.
count = 10
If WScript.Arguments.Count > 0 Then count = CInt(WScript.Arguments(0))
programs = info.GetInstalledPrograms
WScript.Echo "Programs: " & (UBound(programs) + 1)
For i = 0 To UBound(programs)
    If i = count Then Exit For
    item = programs(i)
    WScript.Echo "  " & item(0) & " " & item(1) & " (" & item(5) & ")"
Next
WScript.Echo "Done."

' The items of a list as one text, as Join makes it (which Wine's VBScript
' lacks).
Function Joined(items, separator)
    Dim i
    Joined = ""
    For i = 0 To UBound(items)
        If i > 0 Then Joined = Joined & separator
        Joined = Joined & items(i)
    Next
End Function
