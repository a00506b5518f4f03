# Tarnwick sample: the WindowsInfo class from PowerShell.
#   pwsh -File windowsinfo.ps1
$ErrorActionPreference = 'Stop'
$info = New-Object -ComObject TarnwickDLL.WindowsInfo

# 2 = NT family, 1 = Windows 9x family, 0 = unknown
'GetOSType: ' + $info.GetOSType()

# "Operating System: <product> Version <version>" and a line break, or
# "" when the registry holds no product name.
$text = $info.GetOSVersionInfo()
'GetOSVersionInfo: ' + $text.TrimEnd("`r`n")
'GetOSVersionInfo ends with a line break: ' + $text.EndsWith("`r`n")

# The program of the default web browser (from the .htm file association),
# or "" when there is none.
'GetDefaultBrowserPath: ' + $info.GetDefaultBrowserPath()

# GetLocation cuts a command line down to its program path, in place: pass
# a [ref], which it rewrites.
$path = [ref]'"C:\Program Files\Example Browser\browser.exe" -url "%1"'
$info.GetLocation($path)
'GetLocation: ' + $path.Value

# Release 1.11: what the system truly is, whatever the shell's bitness.
'GetOSName: ' + $info.GetOSName()
'GetOSVersion: ' + $info.GetOSVersion()
'GetOSDisplayVersion: ' + $info.GetOSDisplayVersion()
$version = [version]$info.GetOSVersion()
'Build: {0}, revision {1}' -f $version.Build, $version.Revision
# The machine's architecture, and what this PowerShell runs as.
'GetOSArchitecture: ' + $info.GetOSArchitecture()
'GetProcessArchitecture: ' + $info.GetProcessArchitecture()
# The browser the user chose for http links, else the machine-wide one.
'GetUserDefaultBrowserPath: ' + $info.GetUserDefaultBrowserPath()
Write-Output 'Done.'
