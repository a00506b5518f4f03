# Runs the Pester tests of the Tarnwick module (Tarnwick.Tests.ps1) with
# the Pester module of tools/pester.sh, against a module folder of the
# build; prints Pester's report and "N passed, N failed", and "done" as its
# last line. Exits 1 when a test fails or none ran.
#   module.ps1 PESTER_FOLDER MODULE_FOLDER VERSION [TAG]
# With TAG only the tests of that tag run; without it, all but StandIn's.
param(
    [Parameter(Mandatory)] [string] $Pester,
    [Parameter(Mandatory)] [string] $ModulePath,
    [Parameter(Mandatory)] [string] $Version,
    [string] $Tag
)
# The preference stays Continue: the script runs in the global scope, whose
# preference the module's cmdlets follow, and the tests see their errors.
Import-Module (Join-Path $Pester 'Pester.psd1') -ErrorAction Stop
$config = New-PesterConfiguration
$config.Run.Container = New-PesterContainer -Path (Join-Path $PSScriptRoot 'Tarnwick.Tests.ps1') `
    -Data @{ ModulePath = $ModulePath; Version = $Version }
$config.Run.PassThru = $true
$config.Output.Verbosity = 'Detailed'
$config.Output.RenderMode = 'Plaintext'
if ($Tag) { $config.Filter.Tag = $Tag } else { $config.Filter.ExcludeTag = 'StandIn' }
$result = Invoke-Pester -Configuration $config
'{0} passed, {1} failed' -f $result.PassedCount, $result.FailedCount
if ($result.FailedCount -gt 0 -or $result.PassedCount -eq 0) { exit 1 }
'done'
