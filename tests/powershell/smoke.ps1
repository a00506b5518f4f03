# The library from PowerShell: each class made by its ProgID through
# New-Object -ComObject and one of its methods called late bound, the shell
# reading the type information for Get-Member, and a run-time error seen as
# an exception with its HRESULT. Exits 1 when a check fails; the last line
# is "done", so a script that stops early is told apart.
$ErrorActionPreference = 'Stop'
$script:failed = 0
function Check([string] $what, [bool] $ok, $got) {
    if ($ok) { Write-Output "ok: $what" }
    else { Write-Output "FAILED: $what (got: $got)"; $script:failed++ }
}

$key = 'Software\Tarnwick\PowerShellSmoke'
$reg = New-Object -ComObject TarnwickDLL.Registry
$written = $reg.RegWriteValue('HKCU', $key, 'Count', 42)
Check 'RegWriteValue of 42 says True' ($written -is [bool] -and $written) $written
$read = $reg.RegReadValue('HKCU', $key, 'Count')
Check 'RegReadValue reads 42 back as an Int32' ($read -is [int] -and $read -eq 42) "$read ($($read.GetType().FullName))"
$methods = @($reg | Get-Member -MemberType Method | ForEach-Object Name)
Check 'Get-Member lists the 1.0, 1.11 and 1.12 methods' `
    ($methods -contains 'RegReadString' -and $methods -contains 'RegReadValue' -and $methods -contains 'RegFind') `
    ($methods -join ',')

# An unknown root is error 5, invalid procedure call or argument.
$hresult = $null
try { $null = $reg.RegReadValue('Bogus', 'x', 'y') }
catch {
    $e = $_.Exception
    while ($e -and -not ($e -is [System.Runtime.InteropServices.COMException])) { $e = $e.InnerException }
    if ($e) { $hresult = '0x{0:X8}' -f $e.HResult; Write-Output "error: $hresult $($e.Message)" }
}
Check 'RegReadValue of an unknown root raises 0x800A0005' ($hresult -eq '0x800A0005') $hresult
$null = $reg.RegDeleteKey('HKCU', $key, $true)

# The name as the system key holds it (Windows 11 stores "Windows 10" there
# and the method reads that as "Windows 11").
$os = (New-Object -ComObject TarnwickDLL.WindowsInfo).GetOSName()
$nt = Get-ItemProperty 'HKLM:\SOFTWARE\Microsoft\Windows NT\CurrentVersion'
Check 'GetOSName is the ProductName of the system key' `
    ($os -like '*Windows*' -and ($os -eq $nt.ProductName -or [int]$nt.CurrentBuildNumber -ge 22000)) $os

$unix = (New-Object -ComObject TarnwickDLL.Time).CurrentUnixTime()
$now = [DateTimeOffset]::UtcNow.ToUnixTimeMilliseconds() / 1000
Check 'CurrentUnixTime is within a minute of the shell''s clock' ($unix -is [double] -and [math]::Abs($unix - $now) -lt 60) $unix

$pending = (New-Object -ComObject TarnwickDLL.Reboot).IsRebootPending()
Check 'IsRebootPending is a Boolean' ($pending -is [bool]) $pending

Write-Output 'done'
if ($script:failed -gt 0) { exit 1 }
exit 0
