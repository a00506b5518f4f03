# Tarnwick sample: the Reboot class from PowerShell.
#   pwsh -File reboot.ps1             shows what it would do
#   pwsh -File reboot.ps1 -Now        asks Windows to restart the machine
#   pwsh -File reboot.ps1 -Schedule   schedules a restart in ten minutes and
#                                     calls it off again (release 1.11)
# Each method returns 1 when Windows accepted the request (a restart then
# runs after the call returns) and 0 when it refused, for example when the
# account may not shut the machine down.
param([switch] $Now, [switch] $Schedule)
$ErrorActionPreference = 'Stop'
$restart = New-Object -ComObject TarnwickDLL.Reboot
if ($Now) {
    'Reboot: ' + $restart.Reboot()
}
elseif ($Schedule) {
    # The signed-in users see the message; Force ($true) would close their
    # programs without asking.
    'ScheduleReboot: ' + $restart.ScheduleReboot(600, 'Tarnwick sample: this machine restarts in 10 minutes', $false)
    'AbortReboot: ' + $restart.AbortReboot()
}
else {
    'Reboot: not called (run "reboot.ps1 -Now" to restart, "-Schedule" to schedule and call off)'
}
Write-Output 'Done.'
