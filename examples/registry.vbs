' Tarnwick sample: the Registry class from VBScript.
'   cscript //nologo registry.vbs
' Creates HKCU\Software\Tarnwick Examples\VBScript, writes and reads text
' values there, with both kinds of methods:
'  - name-level (RegCreateKey, RegWriteString, RegReadString): the root key
'    by name ("HKCU", "HKEY_LOCAL_MACHINE", ...), plain results;
'  - handle-level (CreateRegKey, SetRegValue, QueryRegValue): the root key
'    as a number (&H80000001 is HKEY_CURRENT_USER), True/False results and
'    values handed back through variables passed by reference.
Option Explicit
Const HKEY_CURRENT_USER = &H80000001
Dim reg, key, text, status, ok

Set reg = CreateObject("TarnwickDLL.Registry")
key = "Software\Tarnwick Examples\VBScript"

' 1 = created, 2 = existed already, 0 = failed
WScript.Echo "RegCreateKey: " & reg.RegCreateKey("HKCU", key)
' 1 = written, 0 = failed (the key must exist)
WScript.Echo "RegWriteString: " & reg.RegWriteString("HKCU", key, "Greeting", "Hello from VBScript")
' the text, or "" when the key or value is missing
WScript.Echo "RegReadString: " & reg.RegReadString("HKCU", key, "Greeting")
WScript.Echo "RegReadString of a missing value: [" & reg.RegReadString("HKCU", key, "Missing") & "]"
' Root-key names are matched exactly: "hkcu" names no key.
WScript.Echo "RegReadString with root ""hkcu"": [" & reg.RegReadString("hkcu", key, "Greeting") & "]"

' CreateRegKey hands the outcome back in its third argument (by reference).
status = 0
ok = reg.CreateRegKey(HKEY_CURRENT_USER, key & "\Child", status)
WScript.Echo "CreateRegKey: " & ok & ", KeyStatus " & status

' SetRegValue writes its fourth argument and hands back the text as stored.
text = "set by SetRegValue"
ok = reg.SetRegValue(HKEY_CURRENT_USER, key, "Note", text)
WScript.Echo "SetRegValue: " & ok & ", SettingBuffer " & text

' QueryRegValue puts the value into its fourth argument (by reference).
text = ""
ok = reg.QueryRegValue(HKEY_CURRENT_USER, key, "Note", text)
WScript.Echo "QueryRegValue: " & ok & ", strData " & text
text = "unchanged"
ok = reg.QueryRegValue(HKEY_CURRENT_USER, key, "Missing", text)
WScript.Echo "QueryRegValue of a missing value: " & ok & ", strData " & text

' An argument in parentheses is passed by value: the method cannot change it.
text = ""
ok = reg.QueryRegValue(HKEY_CURRENT_USER, key, "Note", (text))
WScript.Echo "QueryRegValue with (text): " & ok & ", strData [" & text & "]"
WScript.Echo "Done."
