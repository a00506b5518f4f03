# Tarnwick sample: the Time class from PowerShell.
#   pwsh -File time.ps1
$ErrorActionPreference = 'Stop'
$clock = New-Object -ComObject TarnwickDLL.Time

# The time of day as "HH:MM:SS", in UTC and local time.
'CurrentGMTTime: ' + $clock.CurrentGMTTime()
'CurrentLocalTime: ' + $clock.CurrentLocalTime()

# Release 1.11: ISO 8601 timestamps, which .NET parses as they are, and the
# Unix time in seconds.
$utc = [DateTimeOffset]::Parse($clock.CurrentUTCTimestamp())
$local = [DateTimeOffset]::Parse($clock.CurrentLocalTimestamp())
'CurrentUTCTimestamp: {0:yyyy-MM-dd HH:mm:ss.fff} UTC' -f $utc.UtcDateTime
'CurrentLocalTimestamp: {0:yyyy-MM-dd HH:mm:ss.fff} (UTC{0:zzz})' -f $local
$unix = [DateTimeOffset]::FromUnixTimeMilliseconds([long]($clock.CurrentUnixTime() * 1000))
'CurrentUnixTime within a second of the shell''s clock: ' + ([Math]::Abs(($unix - [DateTimeOffset]::UtcNow).TotalSeconds) -lt 1)

# Release 1.12: when the system started, and for how long it has run.
'Started: {0:u}' -f [DateTimeOffset]::Parse($clock.GetBootTimestamp()).UtcDateTime
$up = [TimeSpan]::FromSeconds($clock.GetUptime())
'Up: {0} d {1:hh\:mm\:ss}' -f $up.Days, $up
Write-Output 'Done.'
