' Tarnwick sample: the Reboot class from VBScript.
'   cscript //nologo reboot.vbs        shows what it would do
'   cscript //nologo reboot.vbs now    asks Windows to restart the machine
'   cscript //nologo reboot.vbs schedule
'                                      schedules a restart in ten minutes
'                                      and calls it off again (release 1.11)
' Each method returns 1 when Windows accepted the request (a restart then
' runs after the call returns) and 0 when it refused, for example when the
' account may not shut the machine down.
Option Explicit
Dim restart, result
Set restart = CreateObject("TarnwickDLL.Reboot")
WScript.Echo "Reboot object: " & TypeName(restart)
If WScript.Arguments.Count > 0 Then
    If WScript.Arguments(0) = "now" Then
        result = restart.Reboot
        WScript.Echo "Reboot: " & result
    ElseIf WScript.Arguments(0) = "schedule" Then
        ' The signed-in users see the message; Force (False here, and when
        ' left out) would close applications without asking.
        result = restart.ScheduleReboot(600, "Tarnwick sample: this machine restarts in 10 minutes", False)
        WScript.Echo "ScheduleReboot: " & result
        result = restart.AbortReboot
        WScript.Echo "AbortReboot: " & result
    End If
Else
    WScript.Echo "Reboot: not called (run ""cscript reboot.vbs now"" to restart)"
End If
WScript.Echo "Done."
