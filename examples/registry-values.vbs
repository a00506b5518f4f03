' Tarnwick sample: Registry 1.1 from VBScript, values of every type.
'   cscript //nologo registry-values.vbs
' Writes values of each type under HKCU\Software\Tarnwick Examples\Values
' with RegWriteValue (the type taken from the value, or named), reads them
' back with RegReadValue, asks their type and whether they exist, and
' deletes a value and then the whole key.
Option Explicit
Dim reg, key, name, value

Set reg = CreateObject("TarnwickDLL.Registry")
key = "Software\Tarnwick Examples\Values"

' The type follows the value: text is REG_SZ, a whole number REG_DWORD
' (REG_QWORD past 32 bits), an array of texts REG_MULTI_SZ, an array of
' numbers from 0 to 255 REG_BINARY. Missing keys on the path are created.
reg.RegWriteValue "HKCU", key, "Name", "Tarnwick"
reg.RegWriteValue "HKCU", key, "Count", 42
reg.RegWriteValue "HKCU", key, "Big", 5000000000
reg.RegWriteValue "HKCU", key, "List", Array("one", "two", "three")
reg.RegWriteValue "HKCU", key, "Bytes", Array(1, 2, 255)
' Or name the type: REG_EXPAND_SZ text keeps its %VARIABLES% unexpanded.
reg.RegWriteValue "HKCU", key, "Path", "%TEMP%\tarnwick", "REG_EXPAND_SZ"
reg.RegWriteValue "HKCU", key, "Mask", &HFFFFFFFF, "REG_DWORD"

' A list comes as an array of Variants.
Function Show(value)
    Dim i
    If Not IsArray(value) Then
        Show = value
        Exit Function
    End If
    Show = "("
    For i = 0 To UBound(value)
        If i > 0 Then Show = Show & ", "
        Show = Show & value(i)
    Next
    Show = Show & ")"
End Function

For Each name In Array("Name", "Count", "Big", "List", "Bytes", "Path", "Mask")
    value = reg.RegReadValue("HKCU", key, name)
    WScript.Echo name & ": " & reg.RegValueType("HKCU", key, name) & " " & Show(value)
Next

' A value that is not there reads as Empty; the root may be any of the
' five names, in any case, or a handle value.
WScript.Echo "Missing is Empty: " & IsEmpty(reg.RegReadValue("hkcu", key, "Missing"))
WScript.Echo "Exists: " & reg.RegValueExists(&H80000001, key, "Name")
WScript.Echo "Deleted: " & reg.RegDeleteValue("HKEY_CURRENT_USER", key, "Name")
WScript.Echo "Exists after: " & reg.RegValueExists("HKCU", key, "Name")

' A key with values or subkeys goes only when asked for recursively.
WScript.Echo "Key deleted: " & reg.RegDeleteKey("HKCU", "Software\Tarnwick Examples\Values", True)
WScript.Echo "Key exists after: " & reg.RegKeyExists("HKCU", key)

' The 64-bit registry view, also from a 32-bit script host: View 64.
WScript.Echo "Product (64-bit view): " & (reg.RegReadValue("HKLM", "Software\Microsoft\Windows NT\CurrentVersion", "ProductName", 64) <> "")
WScript.Echo "Done."
