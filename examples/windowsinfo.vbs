' Tarnwick sample: the WindowsInfo class from VBScript.
'   cscript //nologo windowsinfo.vbs
Option Explicit
Dim info, text, path

Set info = CreateObject("TarnwickDLL.WindowsInfo")

' 2 = NT family, 1 = Windows 9x family, 0 = unknown
WScript.Echo "GetOSType: " & info.GetOSType

' "Operating System: <product> Version <version>" and a line break,
' or "" when the registry holds no product name.
text = info.GetOSVersionInfo
WScript.Echo "GetOSVersionInfo: " & Replace(text, vbCrLf, "")
WScript.Echo "GetOSVersionInfo ends with a line break: " & (Right(text, 2) = vbCrLf)

' The program of the default web browser (from the .htm file association),
' or "" when there is none.
WScript.Echo "GetDefaultBrowserPath: " & info.GetDefaultBrowserPath

' GetLocation cuts a command line down to its program path, in place: the
' variable is passed by reference and rewritten.
path = """C:\Program Files\Example Browser\browser.exe"" -url ""%1"""
info.GetLocation path
WScript.Echo "GetLocation: " & path
path = "C:\Tools\viewer.exe /view %1"
info.GetLocation path
WScript.Echo "GetLocation unquoted: " & path
' A text without a lower-case "exe" becomes empty.
path = "C:\Tools\VIEWER.EXE"
info.GetLocation path
WScript.Echo "GetLocation without exe: [" & path & "]"

' Release 1.11: what the system truly is. The name and version come from the
' 64-bit registry view and the version query that compatibility settings do
' not alter, so a 32-bit script host on Windows 11 reads "Windows 11".
WScript.Echo "GetOSName: " & info.GetOSName
WScript.Echo "GetOSVersion: " & info.GetOSVersion
WScript.Echo "GetOSDisplayVersion: " & info.GetOSDisplayVersion
' The machine's architecture, and what this script host runs as.
WScript.Echo "GetOSArchitecture: " & info.GetOSArchitecture
WScript.Echo "GetProcessArchitecture: " & info.GetProcessArchitecture
' The browser the user chose for http links, else the machine-wide one.
WScript.Echo "GetUserDefaultBrowserPath: " & info.GetUserDefaultBrowserPath
WScript.Echo "Done."
