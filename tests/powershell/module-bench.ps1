# Benchmarks of the Tarnwick module in one PowerShell run, each pair side
# by side: Get-TarnwickInstalledProgram against Get-ItemProperty over the
# three uninstall keys, Get-TarnwickPendingReboot against a script making
# the same reads through PowerShell's registry provider, and
# Get-TarnwickRegistryValue against the bare RegReadValue call it makes.
# Prints a Markdown table of medians; measures, checks nothing. The last
# line is "done". Run by module.sh --bench.
#   module-bench.ps1 MODULE_FOLDER [ROUNDS]
param([Parameter(Mandatory)] [string] $ModulePath, [int] $Rounds = 21)
$ErrorActionPreference = 'Stop'
Import-Module (Join-Path $ModulePath 'Tarnwick.psd1') -Force
$reg = New-Object -ComObject TarnwickDLL.Registry

# The machine the pairs read: 60 programs in the 64-bit view, 30 in the
# 32-bit one, 10 for the user, each with the values an installer writes,
# and 10 entries of each list that are no program of their own (system
# components and updates); removed at the end.
$uninstall = 'Software\Microsoft\Windows\CurrentVersion\Uninstall'
$made = @()
foreach ($list in @(@{ Root = 'HKLM'; View = 64; Count = 60 }, @{ Root = 'HKLM'; View = 32; Count = 30 }, @{ Root = 'HKCU'; View = 64; Count = 10 })) {
    for ($i = 0; $i -lt $list.Count + 10; $i++) {
        $sub = '{0}\TarnwickBench{1}{2:000}' -f $uninstall, $list.View, $i
        $values = [ordered] @{
            DisplayName = "Bench Program $($list.Root) $($list.View) $i"; DisplayVersion = "1.$i"; Publisher = 'Tarnwick Bench'
            InstallDate = '20240131'; UninstallString = "C:\Program Files\Bench\$i\uninstall.exe"
        }
        foreach ($name in $values.Keys) { $null = $reg.RegWriteValue($list.Root, $sub, $name, $values[$name], $null, $list.View) }
        if ($i -ge $list.Count) { $null = $reg.RegWriteValue($list.Root, $sub, 'SystemComponent', 1, $null, $list.View) }
        $made += , @($list.Root, $sub, $list.View)
    }
}
$null = $reg.RegWriteValue('HKCU', 'Software\TarnwickBench', 'Text', 'A value of forty-four characters, read back.')

# The usual script: every entry of the three lists through the provider,
# the same entries left out, the same six fields, sorted by name.
$paths = 'HKLM:\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\*',
'HKLM:\SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\Uninstall\*',
'HKCU:\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\*'
$provider = {
    Get-ItemProperty -Path $paths -ErrorAction SilentlyContinue |
        Where-Object { $_.PSObject.Properties['DisplayName'] -and $_.DisplayName -and
            -not ($_.PSObject.Properties['SystemComponent'] -and $_.SystemComponent -eq 1) -and
            -not $_.PSObject.Properties['ParentKeyName'] -and
            -not ($_.PSObject.Properties['ReleaseType'] -and $_.ReleaseType -match '^(Update|Hotfix|Security Update|Update Rollup)$') } |
        ForEach-Object {
            $e = $_
            $field = { param($n) if ($e.PSObject.Properties[$n]) { [string] $e.$n } else { '' } }
            [pscustomobject] @{ Name = $e.DisplayName; Version = & $field DisplayVersion; Publisher = & $field Publisher
                InstallDate = & $field InstallDate; UninstallString = & $field UninstallString; Scope = $e.PSDrive.Name }
        } | Sort-Object Name
}

# The signs of a pending restart, read through the provider.
$pendingScript = {
    $reasons = @()
    $cv = 'HKLM:\SOFTWARE\Microsoft\Windows\CurrentVersion'
    if (Test-Path "$cv\Component Based Servicing\RebootPending") { $reasons += 'ComponentServicing' }
    if (Test-Path "$cv\WindowsUpdate\Auto Update\RebootRequired") { $reasons += 'WindowsUpdate' }
    $sm = Get-ItemProperty 'HKLM:\SYSTEM\CurrentControlSet\Control\Session Manager' -ErrorAction SilentlyContinue
    foreach ($n in 'PendingFileRenameOperations', 'PendingFileRenameOperations2') {
        if ($sm -and $sm.PSObject.Properties[$n] -and (@($sm.$n) -join '').Trim([char] 0)) { $reasons += 'FileRename'; break }
    }
    $names = 'HKLM:\SYSTEM\CurrentControlSet\Control\ComputerName'
    $active = (Get-ItemProperty "$names\ActiveComputerName" -ErrorAction SilentlyContinue).ComputerName
    $set = (Get-ItemProperty "$names\ComputerName" -ErrorAction SilentlyContinue).ComputerName
    if ($active -and $set -and $active -ne $set) { $reasons += 'ComputerRename' }
    $netlogon = Get-Item 'HKLM:\SYSTEM\CurrentControlSet\Services\Netlogon' -ErrorAction SilentlyContinue
    if ($netlogon -and ($netlogon.GetValueNames() + $netlogon.GetSubKeyNames()) -match '^(JoinDomain|AvoidSpnSet)$') { $reasons += 'DomainJoin' }
    $flags = Get-ItemProperty 'HKLM:\SOFTWARE\Microsoft\Updates\UpdateExeVolatile' -ErrorAction SilentlyContinue
    if ($flags -and $flags.PSObject.Properties['Flags'] -and $flags.Flags -ne 0) { $reasons += 'UpdateExe' }
    [pscustomobject] @{ IsPending = $reasons.Count -gt 0; Reasons = $reasons }
}

# Median milliseconds per call of each side: batches of Batch calls, the
# sides alternating batch by batch, their order swapped every round.
function Measure-Pair([scriptblock] $Ours, [scriptblock] $Reference, [int] $Batch) {
    $times = @{ Ours = New-Object 'System.Collections.Generic.List[double]'; Reference = New-Object 'System.Collections.Generic.List[double]' }
    $null = & $Ours; $null = & $Reference
    for ($r = 0; $r -lt $Rounds; $r++) {
        $sides = 'Ours', 'Reference'
        if ($r % 2) { $sides = 'Reference', 'Ours' }
        foreach ($side in $sides) {
            $code = if ($side -eq 'Ours') { $Ours } else { $Reference }
            $watch = [Diagnostics.Stopwatch]::StartNew()
            for ($i = 0; $i -lt $Batch; $i++) { $null = & $code }
            $times[$side].Add($watch.Elapsed.TotalMilliseconds / $Batch)
        }
    }
    $median = { param($list) $s = @($list | Sort-Object); $s[[int][math]::Floor($s.Count / 2)] }
    [pscustomobject] @{ Ours = & $median $times.Ours; Reference = & $median $times.Reference }
}

$pairs = @(
    @{ Ours = 'Get-TarnwickInstalledProgram (100 programs, 30 entries left out)'; Reference = 'Get-ItemProperty over the three uninstall keys, filtered, sorted'
        A = { Get-TarnwickInstalledProgram }; B = $provider; Batch = 1 }
    @{ Ours = 'Get-TarnwickPendingReboot'; Reference = 'the same reads through the registry provider'
        A = { Get-TarnwickPendingReboot }; B = $pendingScript; Batch = 5 }
    @{ Ours = 'Get-TarnwickRegistryValue -Path HKCU:\Software\TarnwickBench -Name Text'; Reference = 'the bare $reg.RegReadValue(''HKCU'', ''Software\TarnwickBench'', ''Text'')'
        A = { Get-TarnwickRegistryValue -Path HKCU:\Software\TarnwickBench -Name Text }
        B = { $reg.RegReadValue('HKCU', 'Software\TarnwickBench', 'Text') }; Batch = 50 }
    @{ Ours = 'Get-TarnwickRegistryValue, as above'; Reference = 'Get-ItemPropertyValue -Path HKCU:\Software\TarnwickBench -Name Text'
        A = { Get-TarnwickRegistryValue -Path HKCU:\Software\TarnwickBench -Name Text }
        B = { Get-ItemPropertyValue -Path HKCU:\Software\TarnwickBench -Name Text }; Batch = 50 }
)
try {
    # The two sides give the same programs: the comparison is of the same work.
    $ours = @(Get-TarnwickInstalledProgram | Where-Object Publisher -eq 'Tarnwick Bench').Count
    $theirs = @(& $provider | Where-Object Publisher -eq 'Tarnwick Bench').Count
    "programs: $ours from the module, $theirs from the provider; $($Rounds) rounds a pair"
    ''
    '| Ours | ms | Reference | ms | Ratio |'
    '|---|---|---|---|---|'
    foreach ($pair in $pairs) {
        $m = Measure-Pair $pair.A $pair.B $pair.Batch
        '| {0} | {1:0.000} | {2} | {3:0.000} | {4:0.00} |' -f $pair.Ours, $m.Ours, $pair.Reference, $m.Reference, ($m.Ours / $m.Reference)
    }
} finally {
    foreach ($entry in $made) { $null = $reg.RegDeleteKey($entry[0], $entry[1], $true, $entry[2]) }
    $null = $reg.RegDeleteKey('HKCU', 'Software\TarnwickBench', $true)
}
'done'
