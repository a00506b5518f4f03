' Every Registry method from VBScript, with variables passed by reference
' (the method may change them) and in parentheses (by value: it may not).

Const HKCU = &H80000001
Const HKU = &H80000003
Const Base = "Software\TarnwickTests\registry_vbs"

Dim sh, reg
Set sh = CreateObject("WScript.Shell")

Sub Clean()
    sh.Run "reg delete HKCU\" & Base & " /f", 0, True
End Sub

Clean
Set reg = CreateObject("TarnwickDLL.Registry")

' ---- RegCreateKey: 1 when created, 2 when it existed; arguments untouched
Dim root, key, r
root = "HKCU"
key = Base & "\a\b"
r = reg.RegCreateKey(root, key)
Same r, 1, "RegCreateKey new"
Same TypeName(r), "Integer", "RegCreateKey result type"
Same reg.RegCreateKey(root, key), 2, "RegCreateKey existing"
Same root, "HKCU", "RegCreateKey leaves RootKey"
Same key, Base & "\a\b", "RegCreateKey leaves strKeyName"
Same reg.RegCreateKey("HKEY_CURRENT_USER", Base & "\a"), 2, "RegCreateKey made the parent"
Same reg.RegCreateKey("hkcu", Base & "\lower"), 0, "RegCreateKey lower-case root"
Same reg.RegCreateKey("HKEY_USERS", ".DEFAULT\" & Base), 0, "RegCreateKey HKEY_USERS by name"

' ---- CreateRegKey: KeyStatus by reference
Dim st, ok
st = 99
ok = reg.CreateRegKey(HKCU, Base & "\c", st)
Same ok, True, "CreateRegKey new"
Same TypeName(ok), "Boolean", "CreateRegKey result type"
Same st, 1, "CreateRegKey KeyStatus new"
Same VarType(st), vbLong, "KeyStatus type"
st = 99
ok = reg.CreateRegKey(HKCU, Base & "\c", (st))
Same ok, True, "CreateRegKey existing"
Same st, 99, "KeyStatus in parentheses stays"
Dim est
ok = reg.CreateRegKey(HKCU, Base & "\c", est)
Same est, 2, "KeyStatus from an empty variable"
st = 5
Same reg.CreateRegKey(0, Base & "\d", st), False, "CreateRegKey under no root"
Same st, 5, "KeyStatus after a failed create"

' ---- SetRegValue: SettingBuffer by reference gets the stored form back
Dim buf, buf2
buf = "hello"
ok = reg.SetRegValue(HKCU, Base, "v", buf)
Same ok, True, "SetRegValue"
Same buf, "hello", "SettingBuffer, plain text"
Same sh.RegRead("HKCU\" & Base & "\v"), "hello", "stored text"
' A number in the variable goes in as text and comes back as text; in
' parentheses the variable keeps its number. (This script host has no
' ChrW, so text outside the code page is left to the C++ tests.)
buf = 42
ok = reg.SetRegValue(HKCU, Base, "n", buf)
Same ok, True, "SetRegValue, number in the variable"
Same TypeName(buf), "String", "SettingBuffer came back as text"
Same buf, "42", "SettingBuffer text"
Same sh.RegRead("HKCU\" & Base & "\n"), "42", "stored number text"
buf2 = 43
ok = reg.SetRegValue(HKCU, Base, "n2", (buf2))
Same TypeName(buf2), "Integer", "SettingBuffer in parentheses stays"
Same sh.RegRead("HKCU\" & Base & "\n2"), "43", "stored from parentheses"
buf = "x"
Same reg.SetRegValue(HKCU, Base & "\missing", "v", buf), False, "SetRegValue, missing key"
Same reg.RegCreateKey("HKCU", Base & "\missing"), 1, "SetRegValue created no key"
Dim blank
ok = reg.SetRegValue(HKCU, Base, "empty", blank)
Same ok, True, "SetRegValue with an empty variable"
Same sh.RegRead("HKCU\" & Base & "\empty"), "", "stored empty text"

' ---- QueryRegValue: strData by reference
Dim s, s2, s3
s = "before"
ok = reg.QueryRegValue(HKCU, Base, "v", s)
Same ok, True, "QueryRegValue"
Same s, "hello", "strData"
s2 = "before"
ok = reg.QueryRegValue(HKCU, Base, "v", (s2))
Same ok, True, "QueryRegValue, strData in parentheses"
Same s2, "before", "strData in parentheses stays"
s3 = "before"
Same reg.QueryRegValue(HKCU, Base, "nope", s3), False, "QueryRegValue, missing value"
Same s3, "before", "strData after a miss"
Dim e
ok = reg.QueryRegValue(HKCU, Base, "v", e)
Same e, "hello", "strData from an empty variable"
Same TypeName(e), "String", "strData type"
sh.RegWrite "HKCU\" & Base & "\dw", 1, "REG_DWORD"
ok = reg.QueryRegValue(HKCU, Base, "dw", s)
Same s, Chr(1) & Chr(0) & Chr(0), "DWORD 1 as text"
Same reg.QueryRegValue(HKCU, Base, "", s), False, "default value never set"

' ---- RegReadString and RegWriteString by name
Dim k, n, t
k = Base
n = "v"
Same reg.RegReadString("HKCU", k, n), "hello", "RegReadString"
Same TypeName(reg.RegReadString("HKCU", k, n)), "String", "RegReadString result type"
Same k, Base, "RegReadString leaves strKeyName"
Same n, "v", "RegReadString leaves strValueName"
Same reg.RegReadString("HKEY_CURRENT_USER", Base, "nope"), "", "RegReadString, missing value"
Same reg.RegReadString("hkcu", Base, "v"), "", "RegReadString lower-case root"
Same reg.RegReadString("HKCU ", Base, "v"), "", "RegReadString root with a blank"
t = 7
r = reg.RegWriteString("HKCU", Base, "w", t)
Same r, 1, "RegWriteString"
Same TypeName(r), "Integer", "RegWriteString result type"
Same TypeName(t), "Integer", "RegWriteString leaves strValue"
Same sh.RegRead("HKCU\" & Base & "\w"), "7", "RegWriteString stored"
Same reg.RegWriteString("HKCU", Base, "", "dflt"), 1, "RegWriteString default value"
Same reg.RegReadString("HKCU", Base, ""), "dflt", "RegReadString default value"
Same reg.RegWriteString("Hkcu", Base, "w", "no"), 0, "RegWriteString mixed-case root"
Same reg.RegWriteString("HKCU", Base & "\missing2", "w", "no"), 0, "RegWriteString, missing key"

' ---- HKEY_USERS reaches the handle-level methods only
Dim users
users = ".DEFAULT\" & Base
Same reg.CreateRegKey(HKU, users, st), True, "CreateRegKey under HKEY_USERS"
buf = "users"
Same reg.SetRegValue(HKU, users, "u", buf), True, "SetRegValue under HKEY_USERS"
Same reg.QueryRegValue(HKU, users, "u", s), True, "QueryRegValue under HKEY_USERS"
Same s, "users", "HKEY_USERS value"
Same reg.RegReadString("HKEY_USERS", users, "u"), "", "RegReadString HKEY_USERS by name"
sh.Run "reg delete HKU\" & users & " /f", 0, True

Set reg = Nothing
Clean

Finish
