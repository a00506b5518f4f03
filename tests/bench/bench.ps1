# PowerShell benchmarks: the library's objects against what a PowerShell
# script uses without them, in one shell, and the shell's own start-up.
#  - RegReadValue of a REG_SZ value against Get-ItemPropertyValue of the
#    same value (the registry provider);
#  - GetInstalledPrograms against the usual Get-ItemProperty over the three
#    uninstall keys, filtered and sorted as the method does, with 100
#    entries of the bench's own in each list;
#  - a fresh shell (this one's pwsh.exe, -NoProfile) that creates Time and
#    calls CurrentGMTTime once, against one that runs an empty command.
# The two sides of a pair alternate batch by batch, swapping order every
# round; each side's figure is its median. Output rows are those of
# bench.exe:
#   row|section|measure|ours|reference|unit|ratio|goal
#   bench.ps1 [quick]
$ErrorActionPreference = 'Stop'
$quick = $args -contains 'quick'
$rounds = if ($quick) { 3 } else { 9 }
$starts = if ($quick) { 1 } else { 7 }

$reg = New-Object -ComObject TarnwickDLL.Registry
$info = New-Object -ComObject TarnwickDLL.WindowsInfo
$key = 'Software\Tarnwick\Bench'
$text = 'C:\Program Files\Tarnwick\Bench\settings.ini'
$null = $reg.RegWriteValue('HKCU', $key, 'Value', $text)

function Get-Median([double[]] $values) {
    $sorted = @($values | Sort-Object)
    $n = $sorted.Count
    if ($n % 2) { $sorted[($n - 1) / 2] } else { ($sorted[$n / 2 - 1] + $sorted[$n / 2]) / 2 }
}

# Times one batch of a side: the milliseconds it took.
function Measure-Batch([scriptblock] $side) {
    $watch = [Diagnostics.Stopwatch]::StartNew()
    & $side
    $watch.Elapsed.TotalMilliseconds
}

# Alternates the two sides; prints the row with each side's median per
# unit (the batch's time divided by $per).
function Write-Pair([string] $section, [string] $measure, [scriptblock] $ours, [scriptblock] $reference,
    [double] $per, [string] $unit, [double] $scale, [string] $goal) {
    $a = [Collections.Generic.List[double]]::new()
    $b = [Collections.Generic.List[double]]::new()
    $null = & $ours; $null = & $reference   # warm-up
    for ($r = 0; $r -lt $rounds; $r++) {
        if ($r % 2) { $b.Add((Measure-Batch $reference)); $a.Add((Measure-Batch $ours)) }
        else { $a.Add((Measure-Batch $ours)); $b.Add((Measure-Batch $reference)) }
    }
    $x = (Get-Median $a) / $per * $scale
    $y = (Get-Median $b) / $per * $scale
    Write-Output ('row|{0}|{1}|{2:F0}|{3:F0}|{4}|{5:F2}|{6}' -f $section, $measure, $x, $y, $unit, ($x / $y), $goal)
}

# One value: a batch of 200 reads each; nanoseconds a call.
$provider = "HKCU:\$key"
if ($reg.RegReadValue('HKCU', $key, 'Value') -ne (Get-ItemPropertyValue -LiteralPath $provider -Name Value)) {
    throw 'RegReadValue and Get-ItemPropertyValue read different texts'
}
Write-Pair 'powershell' 'RegReadValue of a REG_SZ vs Get-ItemPropertyValue' `
    { for ($i = 0; $i -lt 200; $i++) { $null = $reg.RegReadValue('HKCU', $key, 'Value') } } `
    { for ($i = 0; $i -lt 200; $i++) { $null = Get-ItemPropertyValue -LiteralPath $provider -Name Value } } `
    200 'ns/call' 1e6 ''

# The installed programs: 100 entries of the bench's own in each list.
$lists = @(
    @{ Root = 'HKLM'; View = 64; Path = 'HKLM:\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall' }
    @{ Root = 'HKLM'; View = 32; Path = 'HKLM:\SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\Uninstall' }
    @{ Root = 'HKCU'; View = 64; Path = 'HKCU:\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall' }
)
$uninstall = 'Software\Microsoft\Windows\CurrentVersion\Uninstall'
foreach ($list in $lists) {
    for ($n = 0; $n -lt 100; $n++) {
        $entry = "$uninstall\TarnwickBench$n"
        $null = $reg.RegWriteValue($list.Root, $entry, 'DisplayName', "Tarnwick Bench $n $($list.View)", 'REG_SZ', $list.View)
        $null = $reg.RegWriteValue($list.Root, $entry, 'DisplayVersion', "1.$n", 'REG_SZ', $list.View)
        $null = $reg.RegWriteValue($list.Root, $entry, 'Publisher', 'Tarnwick', 'REG_SZ', $list.View)
        $null = $reg.RegWriteValue($list.Root, $entry, 'UninstallString', "C:\Bench\uninstall.exe $n", 'REG_SZ', $list.View)
    }
}
$paths = @($lists | ForEach-Object { "$($_.Path)\*" })
# What scripts do: every entry's values, those with a name that are no
# system component nor update, sorted by name.
$usual = {
    Get-ItemProperty -Path $paths -ErrorAction SilentlyContinue |
        Where-Object { $_.DisplayName -and $_.SystemComponent -ne 1 -and -not $_.ParentKeyName -and -not $_.ReleaseType } |
        Sort-Object DisplayName |
        Select-Object DisplayName, DisplayVersion, Publisher, InstallDate, UninstallString
}
$ours = @($info.GetInstalledPrograms() | Where-Object { $_[0] -like 'Tarnwick Bench *' }).Count
$theirs = @(& $usual | Where-Object DisplayName -like 'Tarnwick Bench *').Count
if ($ours -ne 300 -or $theirs -ne 300) { throw "the programs listed differ: $ours by GetInstalledPrograms, $theirs by Get-ItemProperty (300 made)" }
Write-Pair 'powershell' 'GetInstalledPrograms vs Get-ItemProperty over the three uninstall keys (300 entries)' `
    { $null = $info.GetInstalledPrograms() } { $null = & $usual } 1 'ms/call' 1 ''
foreach ($list in $lists) {
    for ($n = 0; $n -lt 100; $n++) { $null = $reg.RegDeleteKey($list.Root, "$uninstall\TarnwickBench$n", $true, $list.View) }
}
$null = $reg.RegDeleteKey('HKCU', $key, $true)

# Start-up: a fresh shell to its first call, against a fresh shell that
# does nothing; one start of each to a batch.
$pwsh = Join-Path $PSHOME 'pwsh.exe'
$call = {
    $out = & $pwsh -NoProfile -NonInteractive -Command '(New-Object -ComObject TarnwickDLL.Time).CurrentGMTTime()'
    if ("$out" -notmatch '^[0-9]{2}:[0-9]{2}:[0-9]{2}$') { throw "the fresh shell did not print the time: $out" }
}
$empty = { $null = & $pwsh -NoProfile -NonInteractive -Command 'exit' }
$rounds = $starts
Write-Pair 'activation (cold)' 'fresh pwsh to first call (CurrentGMTTime) vs empty command' $call $empty 1 'ms' 1 ''

Write-Output 'bench.ps1 done'
