# Tarnwick sample: the Registry class from PowerShell.
#   pwsh -File registry.ps1
# Writes values of each type under HKCU\Software\Tarnwick Examples\PowerShell
# with RegWriteValue, reads them back with RegReadValue as PowerShell types,
# lists the key's values and subkeys, writes a value into the 32-bit
# registry view of HKLM (as administrator) and looks for it in both views,
# and uses the release 1.0 methods, whose by-reference arguments take a
# [ref]. Then deletes the keys.
$ErrorActionPreference = 'Stop'
$reg = New-Object -ComObject TarnwickDLL.Registry
$key = 'Software\Tarnwick Examples\PowerShell'

# The registry type follows the value: a [string] is REG_SZ, an [int]
# REG_DWORD, a [long] past 32 bits REG_QWORD, a [string[]] REG_MULTI_SZ, a
# [byte[]] REG_BINARY; or name the type. Missing keys on the path are created.
$null = $reg.RegWriteValue('HKCU', $key, 'Name', 'Tarnwick')
$null = $reg.RegWriteValue('HKCU', $key, 'Count', 42)
$null = $reg.RegWriteValue('HKCU', $key, 'Big', 5000000000)
$null = $reg.RegWriteValue('HKCU', $key, 'List', [string[]]('one', 'two', 'three'))
$null = $reg.RegWriteValue('HKCU', $key, 'Bytes', [byte[]](1, 2, 255))
$null = $reg.RegWriteValue('HKCU', $key, 'Path', '%TEMP%\tarnwick', 'REG_EXPAND_SZ')
$null = $reg.RegWriteValue('HKCU', "$key\Child", 'Note', 'below')

# Each value as it comes back: lists, of bytes too, are object[].
foreach ($name in $reg.RegEnumValues('HKCU', $key)) {
    $value = $reg.RegReadValue('HKCU', $key, $name)
    '{0}: {1}, {2} {3}' -f $name, $reg.RegValueType('HKCU', $key, $name), $value.GetType().Name, ($value -join ' ')
}
'Subkeys: ' + ($reg.RegEnumKeys('HKCU', $key) -join ', ')
# A missing value reads as $null (Empty).
'Missing is $null: ' + ($null -eq $reg.RegReadValue('HKCU', $key, 'Missing'))

# Both views, from a 64-bit or a 32-bit PowerShell alike: View 32 or 64.
# On 64-bit Windows HKLM\Software has one for each; writing there takes an
# administrator (for anyone else RegWriteValue gives False).
$views = 'Software\Tarnwick PowerShell Sample'
if ($reg.RegWriteValue('HKLM', $views, 'Bits', 32, 'REG_DWORD', 32)) {
    'In the 32-bit view: ' + $reg.RegValueExists('HKLM', $views, 'Bits', 32)
    'In the 64-bit view: ' + $reg.RegValueExists('HKLM', $views, 'Bits', 64)
    $null = $reg.RegDeleteKey('HKLM', $views, $true, 32)
}
else { 'Views: HKLM is written by administrators only' }
$system = 'Software\Microsoft\Windows NT\CurrentVersion'
'Product (64-bit view): ' + $reg.RegReadValue('HKLM', $system, 'ProductName', 64)

# Release 1.0: the root key as a number (0x80000001 is HKEY_CURRENT_USER),
# results and by-reference arguments ([ref] of the parameter's type).
$status = [ref]0
$null = $reg.CreateRegKey(0x80000001, "$key\Old", $status)
'CreateRegKey: KeyStatus ' + $status.Value   # 1 created, 2 there already
$text = [ref]''
if ($reg.QueryRegValue(0x80000001, $key, 'Name', $text)) { 'QueryRegValue: ' + $text.Value }
'RegReadString: ' + $reg.RegReadString('HKCU', $key, 'Name')

# A key with subkeys goes only when asked for recursively.
'Deleted without Recursive: ' + $reg.RegDeleteKey('HKCU', $key)
'Deleted with Recursive: ' + $reg.RegDeleteKey('HKCU', $key, $true)
Write-Output 'Done.'
