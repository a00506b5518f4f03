# The machine cmdlets of the Tarnwick module: what the system is, its
# programs, a pending restart, and restarting, over TarnwickDLL.WindowsInfo,
# .Time and .Reboot. Dot-sourced by Tarnwick.psm1.

function Get-TarnwickSystemInfo {
    <#
    .SYNOPSIS
    Gets what this machine is: its system, names, user, domain, start and browsers, as one object.
    .DESCRIPTION
    One Tarnwick.SystemInfo object: OSName ("Windows 11 Pro"), OSVersion (a
    Version, with the build's revision), OSRelease ("23H2"), OSArchitecture
    and ProcessArchitecture ("x86", "x64", "ARM64"), ComputerName (NetBIOS),
    DnsHostName, FullyQualifiedName, UserName and QualifiedUserName
    ("CORP\jsmith"), Domain (the domain, or the workgroup when IsDomainJoined
    is False), BootTime (local time, to the second), Uptime (a TimeSpan),
    DefaultBrowser (the machine-wide .htm association) and UserDefaultBrowser
    (the browser this user chose for http links). What Windows does not tell
    is empty.
    .EXAMPLE
    Get-TarnwickSystemInfo
    .EXAMPLE
    Invoke-Command -ComputerName ws1, ws2 { Get-TarnwickSystemInfo } | Format-Table PSComputerName, OSName, OSRelease, Uptime
    #>
    [CmdletBinding()]
    [OutputType('Tarnwick.SystemInfo')]
    param()
    $info = Get-TarnwickObject WindowsInfo $PSCmdlet
    $clock = Get-TarnwickObject Time $PSCmdlet
    try {
        $version = $null
        $versionText = Get-TarnwickText $info GetOSVersion
        if ($versionText) { $version = [version] $versionText }
        [pscustomobject] @{
            PSTypeName = 'Tarnwick.SystemInfo'
            OSName = Get-TarnwickText $info GetOSName
            OSVersion = $version
            OSRelease = Get-TarnwickText $info GetOSDisplayVersion
            OSArchitecture = Get-TarnwickText $info GetOSArchitecture
            ProcessArchitecture = Get-TarnwickText $info GetProcessArchitecture
            ComputerName = [string] $info.GetComputerName('NetBIOS')
            DnsHostName = [string] $info.GetComputerName('DNS')
            FullyQualifiedName = [string] $info.GetComputerName('FQDN')
            UserName = [string] $info.GetUserName('')
            QualifiedUserName = [string] $info.GetUserName('SAM')
            Domain = Get-TarnwickText $info GetDomainName
            IsDomainJoined = [bool] $info.IsDomainJoined()
            BootTime = ConvertFrom-TarnwickTimestamp (Get-TarnwickText $clock GetBootTimestamp)
            Uptime = [timespan]::FromSeconds($clock.GetUptime())
            DefaultBrowser = Get-TarnwickText $info GetDefaultBrowserPath
            UserDefaultBrowser = Get-TarnwickText $info GetUserDefaultBrowserPath
        }
    } catch {
        if (-not (Get-TarnwickLibraryError $_)) { throw }
        $PSCmdlet.ThrowTerminatingError((ConvertFrom-TarnwickComError $_ 'WindowsInfo'))
    }
}

# The install dates that entries hold: "YYYYMMDD" as Windows Installer
# writes it, and a few forms other installers use.
$script:InstallDateForms = [string[]] @('yyyyMMdd', 'yyyy-MM-dd', 'yyyy/MM/dd', 'M/d/yyyy', 'MM/dd/yyyy', 'dd.MM.yyyy')

function Get-TarnwickInstalledProgram {
    <#
    .SYNOPSIS
    Gets the programs installed on this machine, as their uninstall entries list them.
    .DESCRIPTION
    Reads the uninstall entries of the 64-bit and 32-bit machine views and of
    the current user, leaving out system components and updates. Each is a
    Tarnwick.InstalledProgram: Name, Version, Publisher, InstallDate (a
    DateTime where the entry's text parses as a date, else empty),
    UninstallString and Scope ("Machine64", "Machine32" or "User"), sorted by
    name.
    .PARAMETER Scope
    Machine64, Machine32, User, or several; all three without it.
    .PARAMETER Name
    Only the programs whose name matches one of these wildcard patterns.
    .EXAMPLE
    Get-TarnwickInstalledProgram -Scope Machine64, Machine32 | Where-Object InstallDate -gt (Get-Date).AddDays(-30)
    .EXAMPLE
    Get-TarnwickInstalledProgram -Name '*Tarnwick*'
    #>
    [CmdletBinding()]
    [OutputType('Tarnwick.InstalledProgram')]
    param(
        [ValidateSet('Machine64', 'Machine32', 'User')] [string[]] $Scope,
        [Parameter(Position = 0)] [SupportsWildcards()] [string[]] $Name
    )
    $info = Get-TarnwickObject WindowsInfo $PSCmdlet
    $scopes = $null
    if ($Scope) { $scopes = @($Scope | Select-Object -Unique) -join ',' }
    $patterns = @()
    if ($Name) { $patterns = @($Name | ForEach-Object { New-Object System.Management.Automation.WildcardPattern $_, 'IgnoreCase' }) }
    try {
        $programs = $info.GetInstalledPrograms($scopes)
    } catch {
        if (-not (Get-TarnwickLibraryError $_)) { throw }
        $PSCmdlet.ThrowTerminatingError((ConvertFrom-TarnwickComError $_ $scopes))
    }
    $culture = [Globalization.CultureInfo]::InvariantCulture
    foreach ($p in $programs) {
        $programName = [string] $p[0]
        if ($patterns.Count -gt 0 -and -not ($patterns | Where-Object { $_.IsMatch($programName) })) { continue }
        $date = $null
        $parsed = [datetime]::MinValue
        if ([datetime]::TryParseExact([string] $p[3], $script:InstallDateForms, $culture, 'None', [ref] $parsed)) { $date = $parsed }
        [pscustomobject] @{
            PSTypeName = 'Tarnwick.InstalledProgram'; Name = $programName; Version = [string] $p[1]
            Publisher = [string] $p[2]; InstallDate = $date; UninstallString = [string] $p[4]; Scope = [string] $p[5]
        }
    }
}

function Get-TarnwickPendingReboot {
    <#
    .SYNOPSIS
    Tells whether this machine waits for a restart, and why.
    .DESCRIPTION
    One Tarnwick.PendingReboot object: IsPending and Reasons, the signs that
    Windows and installers leave: ComponentServicing, WindowsUpdate,
    FileRename, ComputerRename, DomainJoin, UpdateExe. Reads only.
    .EXAMPLE
    Get-TarnwickPendingReboot
    .EXAMPLE
    Invoke-Command -ComputerName (Get-Content .\servers.txt) { Get-TarnwickPendingReboot } | Where-Object IsPending
    #>
    [CmdletBinding()]
    [OutputType('Tarnwick.PendingReboot')]
    param()
    $restart = Get-TarnwickObject Reboot $PSCmdlet
    try {
        $reasons = [string[]] @($restart.GetRebootPending())
    } catch {
        if (-not (Get-TarnwickLibraryError $_)) { throw }
        $PSCmdlet.ThrowTerminatingError((ConvertFrom-TarnwickComError $_ 'Reboot'))
    }
    [pscustomobject] @{ PSTypeName = 'Tarnwick.PendingReboot'; IsPending = $reasons.Count -gt 0; Reasons = $reasons }
}

function Restart-TarnwickComputer {
    <#
    .SYNOPSIS
    Restarts this machine, at once or after a delay with a message to its users.
    .DESCRIPTION
    Asks Windows to restart the machine after -Delay seconds (0 to 315360000,
    ten years; 0 restarts at once and cannot be called off), showing -Message
    to the signed-in users meanwhile. Without -Force the users are asked to
    close programs with unsaved work; with it they are closed. The call
    returns at once. Windows refusing (the account may not shut the machine
    down, a restart is scheduled already) is an error. Asks for confirmation
    unless -Confirm:$false (its impact is High). Prints nothing unless
    -PassThru, which gives the restart asked for.
    .EXAMPLE
    Restart-TarnwickComputer -Delay 600 -Message 'Updates are installed: this machine restarts in 10 minutes.'
    .EXAMPLE
    Stop-TarnwickRestart
    Calls the restart off again while it is in its delay.
    #>
    [CmdletBinding(SupportsShouldProcess, ConfirmImpact = 'High')]
    [OutputType('Tarnwick.Restart')]
    param(
        [Parameter(Position = 0)] [ValidateRange(0, 315360000)] [int] $Delay = 0,
        [Parameter(Position = 1)] [string] $Message = '',
        [switch] $Force,
        [switch] $PassThru
    )
    $restart = Get-TarnwickObject Reboot $PSCmdlet
    $computer = [Environment]::MachineName
    if (-not $PSCmdlet.ShouldProcess($computer, "Restart in $Delay seconds")) { return }
    try {
        $accepted = $restart.ScheduleReboot($Delay, $Message, [bool] $Force)
    } catch {
        if (-not (Get-TarnwickLibraryError $_)) { throw }
        $PSCmdlet.ThrowTerminatingError((ConvertFrom-TarnwickComError $_ $computer))
    }
    if ($accepted -ne 1) {
        $PSCmdlet.WriteError((New-TarnwickErrorRecord ("Windows refused to restart $computer (the account may not shut it down, " +
                    'or a restart is scheduled already).') 'TarnwickRestartRefused' 'InvalidOperation' $computer))
    } elseif ($PassThru) {
        [pscustomobject] @{
            PSTypeName = 'Tarnwick.Restart'; ComputerName = $computer; RestartTime = (Get-Date).AddSeconds($Delay)
            Delay = [timespan]::FromSeconds($Delay); Message = $Message; Force = [bool] $Force
        }
    }
}

function Stop-TarnwickRestart {
    <#
    .SYNOPSIS
    Calls off a restart of this machine that is still in its delay.
    .DESCRIPTION
    Calls off the restart whoever asked for it (Restart-TarnwickComputer,
    shutdown /r /t 600, ...). When there is none, or Windows refuses, it is
    an error.
    .EXAMPLE
    Stop-TarnwickRestart
    #>
    [CmdletBinding(SupportsShouldProcess)]
    param()
    $restart = Get-TarnwickObject Reboot $PSCmdlet
    $computer = [Environment]::MachineName
    if (-not $PSCmdlet.ShouldProcess($computer, 'Call off the restart')) { return }
    try {
        $calledOff = $restart.AbortReboot()
    } catch {
        if (-not (Get-TarnwickLibraryError $_)) { throw }
        $PSCmdlet.ThrowTerminatingError((ConvertFrom-TarnwickComError $_ $computer))
    }
    if ($calledOff -ne 1) {
        $PSCmdlet.WriteError((New-TarnwickErrorRecord "No restart of $computer was called off: there was none in its delay, or Windows refused." `
                    'TarnwickNoRestart' 'InvalidOperation' $computer))
    }
}
