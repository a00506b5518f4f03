' After the package is installed ("installed"): every class is created by
' its ProgID and answers a call, and the default browser is found through
' an association written with the library itself.
' After it is removed ("removed"): no class can be created.
' Prints one line per failed check and "N passed, M failed".
Dim mode
mode = WScript.Arguments(0)

Function Create(progid)
    Set Create = Nothing
    On Error Resume Next
    Set Create = CreateObject(progid)
    On Error GoTo 0
End Function

Dim progids, p, obj
progids = Array("TarnwickDLL.Registry", "TarnwickDLL.WindowsInfo", "TarnwickDLL.Time", "TarnwickDLL.Reboot")
For Each p In progids
    Set obj = Create(p)
    If mode = "installed" Then
        Check Not obj Is Nothing, "create " & p
    Else
        Check obj Is Nothing, p & " can still be created"
    End If
Next

If mode = "installed" Then
    Dim reg, info, clock, cls
    Set reg = CreateObject("TarnwickDLL.Registry")
    Set info = CreateObject("TarnwickDLL.WindowsInfo")
    Set clock = CreateObject("TarnwickDLL.Time")
    Check Len(clock.CurrentLocalTime) = 8, "CurrentLocalTime has 8 characters"
    Check info.GetOSType = 2, "GetOSType is 2"

    ' A browser association under HKLM\Software\Classes, as a browser's
    ' installer writes it (this prefix belongs to these tests alone).
    cls = "Software\Classes\TarnwickTest.htm\shell\open\command"
    Check reg.RegCreateKey("HKLM", "Software\Classes\.htm") > 0, "create .htm"
    Check reg.RegWriteString("HKLM", "Software\Classes\.htm", "", "TarnwickTest.htm") = 1, "write .htm"
    Check reg.RegCreateKey("HKLM", cls) > 0, "create the command key"
    Check reg.RegWriteString("HKLM", cls, "", """C:\Program Files\Test Browser\browser.exe"" -osint -url ""%1""") = 1, "write the command"
    Check info.GetWebBrowser = "C:\Program Files\Test Browser\browser.exe", "GetWebBrowser: [" & info.GetWebBrowser & "]"
    Check info.GetDefaultBrowserPath = "C:\Program Files\Test Browser\browser.exe", "GetDefaultBrowserPath: [" & info.GetDefaultBrowserPath & "]"
End If

Finish
