# Tarnwick sample: Registry 1.2 from PowerShell, a key backed up and restored.
#   pwsh -File registry-backup.ps1
# Writes a few settings under HKCU\Software\Tarnwick Examples\PowerShell
# Backup, exports the key to a registration file, changes and deletes
# settings, then imports the file: every setting is back as it was. Then
# searches the key and tells when it was last written.
$ErrorActionPreference = 'Stop'
$reg = New-Object -ComObject TarnwickDLL.Registry
$key = 'Software\Tarnwick Examples\PowerShell Backup'
$file = Join-Path ([IO.Path]::GetTempPath()) 'tarnwick-powershell-backup.reg'

$null = $reg.RegWriteValue('HKCU', $key, 'Theme', 'dark')
$null = $reg.RegWriteValue('HKCU', $key, 'Width', 1280)
$null = $reg.RegWriteValue('HKCU', "$key\Recent", 'Files', [string[]]('a.txt', 'b.txt'))

# The key and everything below it, as a file that regedit and reg import read.
'Exported: ' + $reg.RegExportKey('HKCU', $key, $file)
'File starts: ' + (Get-Content -LiteralPath $file -TotalCount 1)

# Change one setting, delete another and a whole subkey ...
$null = $reg.RegWriteValue('HKCU', $key, 'Theme', 'light')
$null = $reg.RegDeleteValue('HKCU', $key, 'Width')
$null = $reg.RegDeleteKey('HKCU', "$key\Recent", $true)
'Changed: {0}, Width there: {1}' -f $reg.RegReadValue('HKCU', $key, 'Theme'), $reg.RegValueExists('HKCU', $key, 'Width')

# ... and put them back: the file is read whole before anything is written.
'Values restored: ' + $reg.RegImportFile($file)
'Restored: {0}, {1}, {2}' -f $reg.RegReadValue('HKCU', $key, 'Theme'), $reg.RegReadValue('HKCU', $key, 'Width'),
    ($reg.RegReadValue('HKCU', "$key\Recent", 'Files') -join ' ')
Remove-Item -LiteralPath $file

# Each match is an object[]: the key's path, the value's name, what matched.
foreach ($match in $reg.RegFind('HKCU', $key, '*.txt', 'Data')) {
    'Found: ' + ($match -join ' | ')
}
# When the key was last written, in UTC, as a .NET date.
$written = [DateTimeOffset]::Parse($reg.RegKeyLastWrite('HKCU', $key))
'Last written: {0:u}' -f $written.UtcDateTime

'Deleted: ' + $reg.RegDeleteKey('HKCU', $key, $true)
Write-Output 'Done.'
