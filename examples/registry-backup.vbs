' Tarnwick sample: Registry 1.2 from VBScript, a key backed up and restored.
'   cscript //nologo registry-backup.vbs
' Writes a few settings under HKCU\Software\Tarnwick Examples\Backup,
' exports the key to a registration file, changes and deletes settings,
' then imports the file: every setting is back as it was. Also copies the
' key, searches it, and tells when it was last written and who may change it.
Option Explicit
Dim reg, fso, key, file, match

Set reg = CreateObject("TarnwickDLL.Registry")
Set fso = CreateObject("Scripting.FileSystemObject")
key = "Software\Tarnwick Examples\Backup"
file = fso.BuildPath(fso.GetSpecialFolder(2), "tarnwick-backup.reg")  ' 2: the temporary folder

reg.RegWriteValue "HKCU", key, "Theme", "dark"
reg.RegWriteValue "HKCU", key, "Width", 1280
reg.RegWriteValue "HKCU", key & "\Recent", "Files", Array("a.txt", "b.txt")

' The key and everything below it, as a file regedit and reg import read.
WScript.Echo "Exported: " & reg.RegExportKey("HKCU", key, file)

' Change one setting, delete another and a whole subkey ...
reg.RegWriteValue "HKCU", key, "Theme", "light"
reg.RegDeleteValue "HKCU", key, "Width"
reg.RegDeleteKey "HKCU", key & "\Recent", True
WScript.Echo "Changed: " & reg.RegReadValue("HKCU", key, "Theme") & ", Width there: " & _
    reg.RegValueExists("HKCU", key, "Width")

' ... and put them back: the file is read whole before anything is written.
WScript.Echo "Values restored: " & reg.RegImportFile(file)
WScript.Echo "Restored: " & reg.RegReadValue("HKCU", key, "Theme") & ", " & _
    reg.RegReadValue("HKCU", key, "Width") & ", " & _
    Joined(reg.RegReadValue("HKCU", key & "\Recent", "Files"), " ")
fso.DeleteFile file

' A copy of the whole key, then a search of it: each match is an array of
' the key's path, the value's name and what matched.
WScript.Echo "Copied: " & reg.RegCopyKey("HKCU", key, "HKCU", key & " Copy")
For Each match In reg.RegFind("HKCU", key & " Copy", "*.txt", "Data")
    WScript.Echo "Found: " & match(0) & " | " & match(1) & " | " & match(2)
Next

' When the key was last written (UTC), and whether this user may change it.
WScript.Echo "Last written: " & reg.RegKeyLastWrite("HKCU", key)
WScript.Echo "May write: " & reg.RegCheckAccess("HKCU", key, "Write")
WScript.Echo "Has a DACL: " & (InStr(reg.RegGetSecurity("HKCU", key), "D:") > 0)

reg.RegDeleteKey "HKCU", key, True
reg.RegDeleteKey "HKCU", key & " Copy", True
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
