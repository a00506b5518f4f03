@{
    RootModule = 'Tarnwick.psm1'
    # The build writes the library's version here (cmake/packaging.cmake),
    # so the module in the packages carries the version of the library it
    # comes with.
    ModuleVersion = '0.0.0'
    GUID = '8ac809bd-1568-4b9b-afd1-8cb63c3eb847'
    Author = 'Tarnwick'
    CompanyName = 'Tarnwick'
    Copyright = '(c) Tarnwick. All rights reserved.'
    Description = 'Registry, system information and restart cmdlets over the Tarnwick automation library (Tarnwick.dll).'
    PowerShellVersion = '5.1'
    CompatiblePSEditions = @('Desktop', 'Core')
    FormatsToProcess = @('Tarnwick.Format.ps1xml')
    FunctionsToExport = @(
        'Get-TarnwickRegistryValue', 'Set-TarnwickRegistryValue', 'Remove-TarnwickRegistryValue',
        'Get-TarnwickRegistryKey', 'New-TarnwickRegistryKey', 'Remove-TarnwickRegistryKey',
        'Copy-TarnwickRegistryKey', 'Find-TarnwickRegistry',
        'Export-TarnwickRegistryKey', 'Import-TarnwickRegistryFile',
        'Get-TarnwickRegistryAccess', 'Set-TarnwickRegistryAccess',
        'Get-TarnwickSystemInfo', 'Get-TarnwickInstalledProgram', 'Get-TarnwickPendingReboot',
        'Restart-TarnwickComputer', 'Stop-TarnwickRestart'
    )
    CmdletsToExport = @()
    VariablesToExport = @()
    AliasesToExport = @()
    PrivateData = @{
        PSData = @{
            Tags = @('Registry', 'Windows', 'Reboot', 'Inventory', 'COM')
        }
    }
}
