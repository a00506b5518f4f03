' Checks for the VBScript tests. run-script.sh of this folder puts this file in front
' of every test script: Check counts a result and names a failure, Same
' compares two values, Finish prints the closing line and ends the script
' with its exit code.
Option Explicit
Dim passed, failed
passed = 0
failed = 0

Sub Check(ok, what)
    If ok Then
        passed = passed + 1
    Else
        failed = failed + 1
        WScript.Echo "FAILED: " & what
    End If
End Sub

Sub Same(actual, expected, what)
    Check actual = expected, what & " (got '" & actual & "', expected '" & expected & "')"
End Sub

Sub Finish()
    WScript.Echo passed & " passed, " & failed & " failed"
    If failed > 0 Then WScript.Quit 1
    WScript.Quit 0
End Sub

