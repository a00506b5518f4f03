# After the MSI is installed: the module imported by its name alone, from
# where the package puts it, the version of the package, and one call
# through the library that the package registered. Exits 1 when a check
# fails; the last line is "done".
#   msi-module.ps1 VERSION
param([Parameter(Mandatory)] [string] $Version)
$ErrorActionPreference = 'Stop'
Import-Module Tarnwick
$module = Get-Module Tarnwick
$expected = Join-Path $env:ProgramFiles 'WindowsPowerShell\Modules\Tarnwick'
$failed = 0
if ($module.ModuleBase -ne $expected) { "FAILED: imported from $($module.ModuleBase), not $expected"; $failed++ }
if ($module.Version -ne [version] $Version) { "FAILED: version $($module.Version), not $Version"; $failed++ }
$info = Get-TarnwickSystemInfo
$info | Format-List OSName, OSVersion, OSArchitecture, ComputerName, BootTime | Out-String -Stream | Where-Object { $_ }
if (-not $info.OSName -or $info.OSArchitecture -ne 'x64') { "FAILED: Get-TarnwickSystemInfo gave no system"; $failed++ }
if ($failed) { exit 1 }
'done'
