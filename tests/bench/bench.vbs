' Late-bound benchmarks in one script host: our objects against the
' platform's own scripting objects, called the way a script calls them.
'
' Timer counts seconds as a single-precision number, a few milliseconds
' apart late in the day, so every batch runs long (a quarter of a second
' in full mode) and each side is the median of many batches; the two sides
' of a pair alternate batch by batch. Output rows are those of bench.exe:
'   row|section|measure|ours|reference|unit|ratio|goal
'
'   cscript bench.vbs [quick]
Option Explicit

Const KeyPath = "Software\Tarnwick\Bench"
Const ValueText = "C:\Program Files\Tarnwick\Bench\settings.ini"

Dim quick, rounds, batchSeconds, i
quick = False
For i = 0 To WScript.Arguments.Count - 1
    If LCase(WScript.Arguments(i)) = "quick" Then quick = True
Next
If quick Then rounds = 3 Else rounds = 9
batchSeconds = 0.25

Dim shell, reg, tm, info, dict
Set shell = CreateObject("WScript.Shell")
Set reg = CreateObject("TarnwickDLL.Registry")
Set tm = CreateObject("TarnwickDLL.Time")
Set info = CreateObject("TarnwickDLL.WindowsInfo")
Set dict = CreateObject("Scripting.Dictionary")
dict.Add "a", 1

' The script's own variables, passed by reference as a script passes them.
Dim keyName, valueName, fullName, dwordName, fullDword
keyName = KeyPath
valueName = "Value"
fullName = "HKCU\" & KeyPath & "\Value"
shell.RegWrite fullName, ValueText, "REG_SZ"
dwordName = "Count"
fullDword = "HKCU\" & KeyPath & "\Count"
shell.RegWrite fullDword, 42, "REG_DWORD"

Function Elapsed(t0)
    Dim d
    d = Timer - t0
    If d < 0 Then d = d + 86400  ' past midnight
    Elapsed = d
End Function

Function OursRead(n)
    Dim k, s, t0
    t0 = Timer
    For k = 1 To n
        s = reg.RegReadString("HKCU", keyName, valueName)
    Next
    OursRead = Elapsed(t0)
End Function

Function OursReadValue(n)
    Dim k, s, t0
    t0 = Timer
    For k = 1 To n
        s = reg.RegReadValue("HKCU", keyName, valueName)
    Next
    OursReadValue = Elapsed(t0)
End Function

Function OursReadDword(n)
    Dim k, s, t0
    t0 = Timer
    For k = 1 To n
        s = reg.RegReadValue("HKCU", keyName, dwordName)
    Next
    OursReadDword = Elapsed(t0)
End Function

Function ShellReadDword(n)
    Dim k, s, t0
    t0 = Timer
    For k = 1 To n
        s = shell.RegRead(fullDword)
    Next
    ShellReadDword = Elapsed(t0)
End Function

Function ShellRead(n)
    Dim k, s, t0
    t0 = Timer
    For k = 1 To n
        s = shell.RegRead(fullName)
    Next
    ShellRead = Elapsed(t0)
End Function

Function GmtTime(n)
    Dim k, s, t0
    t0 = Timer
    For k = 1 To n
        s = tm.CurrentGMTTime
    Next
    GmtTime = Elapsed(t0)
End Function

Function OsType(n)
    Dim k, s, t0
    t0 = Timer
    For k = 1 To n
        s = info.GetOSType
    Next
    OsType = Elapsed(t0)
End Function

Function DictCount(n)
    Dim k, s, t0
    t0 = Timer
    For k = 1 To n
        s = dict.Count
    Next
    DictCount = Elapsed(t0)
End Function

Function EmptyLoop(n)
    Dim k, s, t0
    t0 = Timer
    For k = 1 To n
        s = k
    Next
    EmptyLoop = Elapsed(t0)
End Function

' Wine's script engine has no GetRef: batches are picked by name.
Function RunBatch(name, n)
    Select Case name
    Case "OursRead": RunBatch = OursRead(n)
    Case "ShellRead": RunBatch = ShellRead(n)
    Case "OursReadValue": RunBatch = OursReadValue(n)
    Case "OursReadDword": RunBatch = OursReadDword(n)
    Case "ShellReadDword": RunBatch = ShellReadDword(n)
    Case "GmtTime": RunBatch = GmtTime(n)
    Case "OsType": RunBatch = OsType(n)
    Case "DictCount": RunBatch = DictCount(n)
    Case "EmptyLoop": RunBatch = EmptyLoop(n)
    End Select
End Function

Function Median(values, count)
    Dim a, b, t
    For a = 0 To count - 2
        For b = a + 1 To count - 1
            If values(b) < values(a) Then t = values(a): values(a) = values(b): values(b) = t
        Next
    Next
    Median = values(count \ 2)
End Function

' Calls per batch: enough for batchSeconds of this side.
Function BatchSize(name)
    Dim n, t
    n = 64
    If quick Then n = 50
    Do While Not quick
        t = RunBatch(name, n)
        If t >= batchSeconds Then Exit Do
        If t < batchSeconds / 10 Then n = n * 8 Else n = CLng(n * batchSeconds * 1.1 / t) + 1
    Loop
    BatchSize = n
End Function

Function Fixed2(x)
    Dim c
    c = CLng(Int(x * 100 + 0.5))
    Fixed2 = (c \ 100) & "." & Right("0" & (c Mod 100), 2)
End Function

Sub Pair(section, measure, ours, theirs, goal)
    Dim n, m, r, a, b, mo, mt, ratio
    RunBatch ours, 3: RunBatch theirs, 3
    n = BatchSize(ours)
    m = BatchSize(theirs)
    ReDim a(rounds - 1), b(rounds - 1)
    For r = 0 To rounds - 1
        If r Mod 2 = 0 Then
            a(r) = RunBatch(ours, n): b(r) = RunBatch(theirs, m)
        Else
            b(r) = RunBatch(theirs, m): a(r) = RunBatch(ours, n)
        End If
    Next
    mo = Median(a, rounds) / n * 1e9
    mt = Median(b, rounds) / m * 1e9
    ratio = ""  ' no ratio when a side is below the clock's resolution (quick mode)
    If mo > 0 And mt > 0 Then ratio = Fixed2(mo / mt)
    WScript.Echo "row|" & section & "|" & measure & "|" & CLng(mo) & "|" & CLng(mt) & _
        "|ns/call|" & ratio & "|" & goal
End Sub

' The calls must do their work before they are timed.
Dim check
check = reg.RegReadString("HKCU", keyName, valueName)
If check <> ValueText Then
    WScript.Echo "error: RegReadString read [" & check & "]"
    WScript.Quit 1
End If
If shell.RegRead(fullName) <> ValueText Then
    WScript.Echo "error: RegRead does not read the value"
    WScript.Quit 1
End If
If Len(tm.CurrentGMTTime) <> 8 Or info.GetOSType <> 2 Then
    WScript.Echo "error: CurrentGMTTime or GetOSType gave an unexpected result"
    WScript.Quit 1
End If

If reg.RegReadValue("HKCU", keyName, valueName) <> ValueText Or reg.RegReadValue("HKCU", keyName, dwordName) <> 42 Then
    WScript.Echo "error: RegReadValue gave an unexpected result"
    WScript.Quit 1
End If

Pair "late bound", "RegReadString vs WScript.Shell RegRead", "OursRead", "ShellRead", "<=0.75"
Pair "late bound", "RegReadValue of a REG_SZ vs WScript.Shell RegRead", "OursReadValue", "ShellRead", "<=0.60"
Pair "late bound", "RegReadValue of a REG_DWORD vs WScript.Shell RegRead", "OursReadDword", "ShellReadDword", "<=0.60"
Pair "late bound", "CurrentGMTTime vs Scripting.Dictionary Count", "GmtTime", "DictCount", ""
Pair "late bound", "GetOSType vs Scripting.Dictionary Count", "OsType", "DictCount", ""
Pair "late bound", "Scripting.Dictionary Count vs empty loop", "DictCount", "EmptyLoop", ""

' A whole export, one to a batch: RegExportKey against the platform's
' registry tool run from the script, its process included, on the same
' subtree of 1,000 keys of five values each.
Sub ExportPair()
    Dim fso, top, file, k, r, a, b, t0, mo, mt, runs
    Set fso = CreateObject("Scripting.FileSystemObject")
    top = KeyPath & "\Export"
    For k = 0 To 999
        reg.RegWriteValue "HKCU", top & "\Key" & k, "Text", "value " & k
        reg.RegWriteValue "HKCU", top & "\Key" & k, "Number", k
        reg.RegWriteValue "HKCU", top & "\Key" & k, "Bytes", Array(k Mod 256, 1, 2, 3), "REG_BINARY"
        reg.RegWriteValue "HKCU", top & "\Key" & k, "List", Array("alpha", "beta")
        reg.RegWriteValue "HKCU", top & "\Key" & k, "Path", "%TEMP%\file " & k & ".txt", "REG_EXPAND_SZ"
    Next
    file = fso.BuildPath(fso.GetSpecialFolder(2), "bench-vbs-export.reg")
    If quick Then runs = 1 Else runs = 5
    ReDim a(runs - 1), b(runs - 1)
    For r = 0 To runs - 1
        t0 = Timer
        If Not reg.RegExportKey("HKCU", top, file) Then
            WScript.Echo "error: RegExportKey failed"
            WScript.Quit 1
        End If
        a(r) = Elapsed(t0)
        t0 = Timer
        If shell.Run("reg export ""HKCU\" & top & """ """ & file & """ /y", 0, True) <> 0 Then
            WScript.Echo "error: reg export failed"
            WScript.Quit 1
        End If
        b(r) = Elapsed(t0)
    Next
    fso.DeleteFile file
    mo = Median(a, runs) * 1e6
    mt = Median(b, runs) * 1e6
    If mo > 0 And mt > 0 Then r = Fixed2(mo / mt) Else r = ""
    WScript.Echo "row|late bound|RegExportKey of 1,000 keys x 5 values vs reg export run from the script|" & _
        CLng(mo) & "|" & CLng(mt) & "|us/call|" & r & "|"
End Sub
ExportPair

' The script host here cannot delete registry entries: tools/bench.sh
' removes the key afterwards.
WScript.Echo "bench.vbs done"
