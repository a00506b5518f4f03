# Tarnwick sample: what an administrator asks of a machine, with the methods
# of release 1.12: whether a restart is pending and why, when the machine
# started, its names and domain, and the first programs installed.
#   pwsh -File admin.ps1 [-Count N]     lists N programs (default 10)
param([int] $Count = 10)
$ErrorActionPreference = 'Stop'
$info = New-Object -ComObject TarnwickDLL.WindowsInfo
$clock = New-Object -ComObject TarnwickDLL.Time
$restart = New-Object -ComObject TarnwickDLL.Reboot

if ($restart.IsRebootPending()) {
    'Restart pending: yes, ' + ($restart.GetRebootPending() -join ', ')
}
else {
    'Restart pending: no'
}

# The uptime in seconds, with milliseconds, as a TimeSpan.
$up = [TimeSpan]::FromSeconds($clock.GetUptime())
'Started: {0}, up {1} d {2:hh\:mm\:ss}' -f $clock.GetBootTimestamp(), $up.Days, $up

'Computer: {0} ({1})' -f $info.GetComputerName(), $info.GetComputerName('FQDN')
'User: ' + $info.GetUserName('SAM')
if ($info.IsDomainJoined()) { 'Domain: ' + $info.GetDomainName() }
else { 'Workgroup: ' + $info.GetDomainName() }

# Each program is an object[]: name, version, publisher, install date,
# uninstall command, scope.
$programs = $info.GetInstalledPrograms()
'Programs: ' + $programs.Count
$programs | Select-Object -First $Count | ForEach-Object { '  {0} {1} ({2})' -f $_[0], $_[1], $_[5] }
Write-Output 'Done.'
