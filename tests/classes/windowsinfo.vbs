' WindowsInfo from VBScript: created by ProgID, every method called late
' bound, GetLocation with a variable by reference. The ".htm" association
' of the prefix is pointed at a ProgID of this script's own for two cases
' and put back at the end.
Function Shown(text)
    Shown = """" & Replace(text, vbCrLf, "\r\n") & """"
End Function

Dim sh, info, reg
Set sh = CreateObject("WScript.Shell")
Set info = CreateObject("TarnwickDLL.WindowsInfo")
Set reg = CreateObject("TarnwickDLL.Registry")

' Platform id
Dim id
id = info.GetOSType
Check id = 2, "GetOSType = " & id
Check TypeName(id) = "Long", "GetOSType is a " & TypeName(id)

' Version text against the registry as the script host reads it
Const NT = "HKLM\Software\Microsoft\Windows NT\CurrentVersion\"
Dim product, version, text
product = sh.RegRead(NT & "ProductName")
version = sh.RegRead(NT & "CurrentVersion")
text = info.GetOSVersionInfo
Check text = "Operating System: " & product & " Version " & version & vbCrLf, "GetOSVersionInfo = " & Shown(text)
Check Left(text, 18) = "Operating System: ", "version text starts " & Shown(Left(text, 18))
Check Right(text, 2) = vbCrLf, "version text ends without CR LF"

' GetLocation: by reference the variable is rewritten, by value it is not
Sub Location(given, expected)
    Dim s, v, w
    s = given
    info.GetLocation s
    Check s = expected, "GetLocation " & Shown(given) & " gave " & Shown(s)
    Check TypeName(s) = "String", "GetLocation left a " & TypeName(s)
    w = given
    Call info.GetLocation(w)
    Check w = expected, "Call GetLocation " & Shown(given) & " gave " & Shown(w)
    v = given
    info.GetLocation (v)
    Check v = given, "GetLocation by value changed " & Shown(given) & " to " & Shown(v)
End Sub

Location """C:\Program Files\Web\web.exe"" -nohome ""%1""", "C:\Program Files\Web\web.exe"
Location "C:\web\web.exe -url %1", "C:\web\web.exe"
Location "C:\web\web.exe --profile C:\exedir\p", "C:\web\web.exe --profile C:\exe"
Location """C:\web\web.exe""   ", "C:\web\web.exe"
Location "exe", "exe"
Location """exe", "exe"
Location """""C:\web.exe""", """C:\web.exe"
Location "C:\WEB\WEB.EXE -url", ""
Location """C:\WEB\WEB.EXE""", ""
Location """", ""
Location "", ""

Dim nothingYet
info.GetLocation nothingYet
Check TypeName(nothingYet) = "String" And nothingYet = "", "GetLocation on an empty variable left " & TypeName(nothingYet)

' Default browser through an association of the script's own
Const HKLM = &H80000002
Const HTM = "HKLM\Software\Classes\.htm\"
Const PROGID = "HKLM\Software\Classes\TarnwickTests.Script\"
Dim created, hadValue, oldValue, web, path
created = reg.RegCreateKey("HKLM", "Software\Classes\.htm")
oldValue = ""
hadValue = reg.QueryRegValue(HKLM, "Software\Classes\.htm", "", oldValue)
Check created = 1 Or created = 2, "RegCreateKey of .htm gave " & created

On Error Resume Next
sh.RegWrite HTM, "TarnwickTests.Script", "REG_SZ"
sh.RegWrite PROGID & "shell\open\command\", """C:\Program Files\Tarnwick Script\tscript.exe"" -url ""%1""", "REG_SZ"
Check Err.Number = 0, "writing the association: " & Err.Description
Err.Clear
web = info.GetWebBrowser
path = info.GetDefaultBrowserPath
Check Err.Number = 0, "browser methods raised " & Hex(Err.Number)
Err.Clear
Check web = "C:\Program Files\Tarnwick Script\tscript.exe", "GetWebBrowser = " & Shown(web)
Check path = "C:\Program Files\Tarnwick Script\tscript.exe", "GetDefaultBrowserPath = " & Shown(path)

sh.RegWrite PROGID & "shell\open\command\", "C:\TARNWICK\TSCRIPT.EXE -url", "REG_SZ"
path = "left over"
path = info.GetDefaultBrowserPath
Check Err.Number = 0, "upper-case .EXE raised " & Hex(Err.Number)
Err.Clear
Check path = "", "upper-case .EXE gave " & Shown(path)

' Put everything back (the script host's RegDelete is not there in Wine).
Dim rc
rc = sh.Run("reg delete ""HKLM\Software\Classes\TarnwickTests.Script"" /f", 0, True)
Check rc = 0, "reg delete of the script's ProgID gave " & rc
If created = 1 Then
    rc = sh.Run("reg delete ""HKLM\Software\Classes\.htm"" /f", 0, True)
ElseIf hadValue Then
    sh.RegWrite HTM, oldValue, "REG_SZ"
Else
    rc = sh.Run("reg delete ""HKLM\Software\Classes\.htm"" /ve /f", 0, True)
End If
Check rc = 0, "putting .htm back gave " & rc
Check Err.Number = 0, "putting the association back: " & Err.Description
Err.Clear
sh.RegRead PROGID
Check Err.Number <> 0, "the script's ProgID key is still there"
Err.Clear
On Error GoTo 0
Dim nowValue
nowValue = ""
Check reg.QueryRegValue(HKLM, "Software\Classes\.htm", "", nowValue) = hadValue, ".htm default value present before: " & hadValue & ", not after"
Check nowValue = oldValue, ".htm value is " & Shown(nowValue) & ", was " & Shown(oldValue)

Finish
