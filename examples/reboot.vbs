' Tarnwick sample: the Reboot class from VBScript.
'   cscript //nologo reboot.vbs        shows what it would do
'   cscript //nologo reboot.vbs now    asks Windows to restart the machine
' Reboot returns 1 when Windows accepted the request (the restart then runs
' after the call returns) and 0 when it refused, for example when the
' account may not shut the machine down.
Option Explicit
Dim restart, result
Set restart = CreateObject("TarnwickDLL.Reboot")
WScript.Echo "Reboot object: " & TypeName(restart)
If WScript.Arguments.Count > 0 Then
    If WScript.Arguments(0) = "now" Then
        result = restart.Reboot
        WScript.Echo "Reboot: " & result
    End If
Else
    WScript.Echo "Reboot: not called (run ""cscript reboot.vbs now"" to restart)"
End If
WScript.Echo "Done."
