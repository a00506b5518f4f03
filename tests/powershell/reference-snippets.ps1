# Runs every PowerShell snippet of the reference and checks the output that
# the reference promises for it.
#   reference-snippets.ps1 REFERENCE.md            the snippets that restart
#                                                  nothing
#   reference-snippets.ps1 REFERENCE.md -Restart   those that restart the
#                                                  machine, with the library's
#                                                  test build, whose restart
#                                                  calls go to a stand-in
# A snippet is a ```powershell block; its promise is the ```text block that
# follows under a line "Output...:". Each line of the promise must match one
# line of the snippet's output, in order, the output as the console shows it
# (blank lines and blanks at line ends aside). In a promise, "<name>" stands
# for what differs from machine to machine (a known name, below, for text of
# its form, any other for a text of one character or more), and a line "..."
# for any number of further lines like the one before it. Each snippet runs
# in a module of its own, in strict mode, where any error stops it; before
# each, the keys and the file that the snippets use are removed. The
# machine has a program installed and a restart pending (Windows Update),
# so that the snippets that list them show one. Prints one line per
# snippet; the last line is "done". Exits 1 when a snippet fails.
param(
    [Parameter(Mandatory)] [string] $Reference,
    [switch] $Restart
)
$ErrorActionPreference = 'Stop'
# The module of the build folder (TARNWICK_BUILD) is found by its name, as
# after installing the MSI.
if ($env:TARNWICK_BUILD) {
    $env:PSModulePath = (Join-Path $env:TARNWICK_BUILD 'powershell') + [IO.Path]::PathSeparator + $env:PSModulePath
}

# What a placeholder of a known name matches.
$forms = @{
    'architecture' = '(x86|x64|ARM64)'
    'date'         = '[0-9]{4}-[0-9]{2}-[0-9]{2}'
    'time'         = '[0-9]{2}:[0-9]{2}:[0-9]{2}'
    'ms'           = '[0-9]{3}'
    'offset'       = '[+-][0-9]{2}:[0-9]{2}'
    'number'       = '[0-9]+'
    'seconds'      = '[0-9]+[.,][0-9]+'
    'version'      = '[0-9]+(\.[0-9]+)+'
    # The release: none on Windows before 10 1909 (and under Wine).
    'release'      = '[^ ]*'
}

# The reference's snippets, each with its promise, the heading it is under
# and its line.
function Read-Snippets([string] $path) {
    $lines = @(Get-Content -LiteralPath $path -Encoding utf8)
    $heading = ''
    for ($i = 0; $i -lt $lines.Count; $i++) {
        if ($lines[$i] -match '^#{2,4} (.+)$') { $heading = $Matches[1] }
        if ($lines[$i] -ne '```powershell') { continue }
        $start = $i + 1
        $code = [Collections.Generic.List[string]]::new()
        for ($i++; $i -lt $lines.Count -and $lines[$i] -ne '```'; $i++) { $code.Add($lines[$i]) }
        # The promise: "Output...:", then a text block.
        $j = $i + 1
        while ($j -lt $lines.Count -and $lines[$j] -eq '') { $j++ }
        $promise = $null
        if ($j -lt $lines.Count -and $lines[$j] -match '^Output\b.*:$') {
            for ($j++; $j -lt $lines.Count -and $lines[$j] -eq ''; $j++) { }
            if ($j -lt $lines.Count -and $lines[$j] -eq '```text') {
                $promise = [Collections.Generic.List[string]]::new()
                for ($j++; $j -lt $lines.Count -and $lines[$j] -ne '```'; $j++) { $promise.Add($lines[$j]) }
            }
        }
        [pscustomobject]@{
            Where   = "$heading (line $start)"
            Code    = $code -join "`n"
            Promise = $promise
            # Whether it asks for a restart, which only the stand-in may receive.
            Restarts = ($code -join "`n") -match '\.(ScheduleReboot|Reboot)\s*\('
        }
    }
}

# A promised line as a regular expression of the whole line.
function ConvertTo-Pattern([string] $line) {
    $pattern = [Text.StringBuilder]::new('^')
    $at = 0
    foreach ($m in [regex]::Matches($line, '<([^<>]+)>')) {
        $null = $pattern.Append([regex]::Escape($line.Substring($at, $m.Index - $at)))
        $form = $forms[$m.Groups[1].Value]
        $null = $pattern.Append($(if ($form) { "(?:$form)" } else { '.+?' }))
        $at = $m.Index + $m.Length
    }
    $null = $pattern.Append([regex]::Escape($line.Substring($at))).Append('$')
    $pattern.ToString()
}

# Why the output breaks the promise; nothing when it keeps it.
function Compare-Promise([string[]] $promise, [string[]] $output) {
    $promise = @($promise | Where-Object { $_.Trim() -ne '' })
    $at = 0
    for ($p = 0; $p -lt $promise.Count; $p++) {
        if ($promise[$p] -eq '...') { continue }
        $pattern = ConvertTo-Pattern $promise[$p]
        if ($at -ge $output.Count) { return "no line for: $($promise[$p])" }
        if ($output[$at] -notmatch $pattern) { return "line $($at + 1), ""$($output[$at])"", is not: $($promise[$p])" }
        $at++
        if ($p + 1 -lt $promise.Count -and $promise[$p + 1] -eq '...') {
            while ($at -lt $output.Count -and $output[$at] -match $pattern) { $at++ }
        }
    }
    if ($at -lt $output.Count) { return "a line more than promised: ""$($output[$at])""" }
}

# The snippet's output as the console shows it, in a module of its own.
function Invoke-Snippet([string] $code) {
    $block = [scriptblock]::Create($code)
    $module = New-Module -ScriptBlock { }
    $shown = & $module {
        param($block)
        $ErrorActionPreference = 'Stop'
        Set-StrictMode -Version Latest
        & $block
    } $block | Out-String -Stream -Width 240
    @($shown | ForEach-Object { $_.TrimEnd() } | Where-Object { $_ -ne '' })
}

# What the snippets write, removed before each one.
function Clear-Traces {
    foreach ($key in 'HKCU:\Software\Example', 'HKCU:\Software\Example Copy') {
        Remove-Item -LiteralPath $key -Recurse -Force -ErrorAction Ignore
    }
    Remove-Item -LiteralPath (Join-Path ([IO.Path]::GetTempPath()) 'example.reg') -Force -ErrorAction Ignore
}

# The program and the restart sign of the machine the snippets describe,
# made for the run and removed after it.
$machine = @(
    @{ Key = 'HKLM:\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\TarnwickReferenceProgram'
       Values = @{ DisplayName = 'Tarnwick Reference Program'; DisplayVersion = '1.12'; Publisher = 'Tarnwick' } }
    @{ Key = 'HKLM:\SOFTWARE\Microsoft\Windows\CurrentVersion\WindowsUpdate\Auto Update\RebootRequired'
       Values = @{} }
)

$snippets = @(Read-Snippets $Reference)
$chosen = @($snippets | Where-Object { $_.Restarts -eq $Restart.IsPresent })
if ($Restart) {
    # Only where the library is the test build and both shutdown calls go
    # to the stand-in: anywhere else the machine would restart.
    $null = New-Object -ComObject TarnwickDLL.Reboot
    $seam = (Get-Process -Id $PID).Modules.ModuleName -contains 'TarnwickSeam.dll'
    $bound = "$env:TARNWICK_SEAM_FUNCTIONS" -match 'InitiateSystemShutdownExW=' -and
        "$env:TARNWICK_SEAM_FUNCTIONS" -match 'AbortSystemShutdownW=' -and "$env:TARNWICK_SEAM_LIBRARY"
    if (-not ($seam -and $bound)) {
        Write-Output 'FAILED: -Restart needs the test build of the library registered and TARNWICK_SEAM_LIBRARY and TARNWICK_SEAM_FUNCTIONS binding both shutdown calls to a stand-in'
        exit 1
    }
}
$failed = 0
try {
    $made = @()
    if (-not $Restart) {
        foreach ($entry in $machine) {
            if (Test-Path -LiteralPath $entry.Key) { continue }
            $null = New-Item -Path $entry.Key -Force
            foreach ($name in $entry.Values.Keys) {
                $null = New-ItemProperty -LiteralPath $entry.Key -Name $name -Value $entry.Values[$name]
            }
            $made += $entry.Key
        }
    }
    foreach ($snippet in $chosen) {
        Clear-Traces
        if ($null -eq $snippet.Promise) {
            Write-Output "FAILED: $($snippet.Where): no ""Output:"" text block after the snippet"
            $failed++
            continue
        }
        $why = $null
        $output = @()
        try { $output = Invoke-Snippet $snippet.Code }
        catch { $why = "it stopped: $($_.Exception.Message)" }
        if (-not $why) { $why = Compare-Promise $snippet.Promise $output }
        if ($why) {
            Write-Output "FAILED: $($snippet.Where): $why"
            $output | ForEach-Object { Write-Output "    | $_" }
            $failed++
        }
        else {
            Write-Output "ok: $($snippet.Where), $($output.Count) lines as promised"
            $output | ForEach-Object { Write-Output "    | $_" }
        }
    }
}
finally {
    Clear-Traces
    foreach ($key in $made) { Remove-Item -LiteralPath $key -Recurse -Force -ErrorAction Ignore }
}
$others = $snippets.Count - $chosen.Count
if ($chosen.Count -eq 0) {
    Write-Output "FAILED: no snippet to run in $Reference"
    $failed++
}
Write-Output ("{0} snippets run, {1} failed; {2} left to the {3} run" -f $chosen.Count, $failed,
    $others, $(if ($Restart) { 'other' } else { 'restart (-Restart)' }))
Write-Output 'done'
if ($failed -gt 0) { exit 1 }
exit 0
