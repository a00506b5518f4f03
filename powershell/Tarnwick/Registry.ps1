# The registry cmdlets of the Tarnwick module: values, keys, search, files
# and security, over TarnwickDLL.Registry. Dot-sourced by Tarnwick.psm1.

# The writable types, by the library's names and by the names of
# PowerShell's own registry provider.
$script:ValueTypes = @{
    'REG_SZ' = 'REG_SZ'; 'String' = 'REG_SZ'
    'REG_EXPAND_SZ' = 'REG_EXPAND_SZ'; 'ExpandString' = 'REG_EXPAND_SZ'
    'REG_DWORD' = 'REG_DWORD'; 'DWord' = 'REG_DWORD'
    'REG_QWORD' = 'REG_QWORD'; 'QWord' = 'REG_QWORD'
    'REG_MULTI_SZ' = 'REG_MULTI_SZ'; 'MultiString' = 'REG_MULTI_SZ'
    'REG_BINARY' = 'REG_BINARY'; 'Binary' = 'REG_BINARY'
}

# One value as an object, its data typed by its registry type: a String, an
# Int32 (REG_DWORD, the same 32 bits), a UInt64 (REG_QWORD), a String array
# (REG_MULTI_SZ) or a Byte array (every other type). Nothing when the value
# is missing.
function Get-TarnwickValueObject {
    param($Registry, $Key, [string] $Name, [int] $View)
    $type = $Registry.RegValueType($Key.Root, $Key.SubKey, $Name, $View)
    if (-not $type) { return }
    $raw = $Registry.RegReadValue($Key.Root, $Key.SubKey, $Name, $View)
    $data = $null
    if ($null -ne $raw) {
        switch ($type) {
            'REG_SZ' { $data = [string] $raw }
            'REG_EXPAND_SZ' { $data = [string] $raw }
            'REG_DWORD' { $data = [int] $raw }
            'REG_QWORD' {
                if ($raw -is [double]) { $data = [uint64] $raw }
                else { $data = [uint64]::Parse([string] $raw, [Globalization.CultureInfo]::InvariantCulture) }
            }
            'REG_MULTI_SZ' { $data = [string[]] @($raw) }
            default { $data = [byte[]] @($raw) }
        }
    } elseif ($type -eq 'REG_SZ' -or $type -eq 'REG_EXPAND_SZ') {
        $data = ''
    }
    [pscustomobject] @{
        PSTypeName = 'Tarnwick.RegistryValue'; Path = $Key.Path; Name = $Name; Type = $type; Data = $data; View = $View
    }
}

# One key as an object: its counts and when it was last written.
function Get-TarnwickKeyObject {
    param($Registry, $Key, [int] $View)
    $keys = $Registry.RegEnumKeys($Key.Root, $Key.SubKey, $View)
    $values = $Registry.RegEnumValues($Key.Root, $Key.SubKey, $View)
    $name = $Key.Root
    if ($Key.SubKey) { $name = $Key.SubKey.Substring($Key.SubKey.LastIndexOf('\') + 1) }
    $subKeyCount = $null
    if ($null -ne $keys) { $subKeyCount = @($keys).Count }
    $valueCount = $null
    if ($null -ne $values) { $valueCount = @($values).Count }
    [pscustomobject] @{
        PSTypeName = 'Tarnwick.RegistryKey'; Path = $Key.Path; Name = $name
        SubKeyCount = $subKeyCount; ValueCount = $valueCount
        LastWriteTime = ConvertFrom-TarnwickTimestamp $Registry.RegKeyLastWrite($Key.Root, $Key.SubKey, $View)
        View = $View
    }
}

# A value as the library takes it: PowerShell's wrappers off, arrays one
# level deep.
function ConvertTo-TarnwickData {
    param($Value)
    if ($Value -is [System.Management.Automation.PSObject]) { $Value = $Value.psobject.BaseObject }
    if ($Value -is [array] -and -not ($Value -is [byte[]])) {
        $items = New-Object object[] $Value.Count
        for ($i = 0; $i -lt $Value.Count; $i++) {
            $item = $Value[$i]
            if ($item -is [System.Management.Automation.PSObject]) { $item = $item.psobject.BaseObject }
            $items[$i] = $item
        }
        return , $items
    }
    , $Value
}

# A file path of the file system, relative to the current location.
function Resolve-TarnwickFilePath {
    param([string] $FilePath, [Parameter(Mandatory)] $Cmdlet)
    $provider = $null
    $drive = $null
    $file = $Cmdlet.SessionState.Path.GetUnresolvedProviderPathFromPSPath($FilePath, [ref] $provider, [ref] $drive)
    if ($provider.Name -ne 'FileSystem') {
        $exception = New-Object System.ArgumentException "'$FilePath' is no path of the file system."
        $Cmdlet.ThrowTerminatingError((New-Object System.Management.Automation.ErrorRecord $exception,
                'TarnwickFilePathNotValid', 'InvalidArgument', $FilePath))
    }
    $file
}

function Get-TarnwickRegistryValue {
    <#
    .SYNOPSIS
    Gets registry values as objects: one value by its name, or all values of a key.
    .DESCRIPTION
    Reads one value (-Name) or every value of each key, in the registry view
    asked for. Each value comes as a Tarnwick.RegistryValue object with the
    key's Path, the value's Name ("" for the default value), its Type
    ("REG_SZ", "REG_DWORD", ...) and its Data, typed: String, Int32
    (REG_DWORD), UInt64 (REG_QWORD), String[] (REG_MULTI_SZ) or Byte[]
    (REG_BINARY and every other type). REG_EXPAND_SZ data is not expanded.
    A missing key or value is an ObjectNotFound error.
    .PARAMETER Path
    The key: HKLM:\Software\X, HKEY_LOCAL_MACHINE\Software\X, HKLM\Software\X
    or Registry::HKEY_LOCAL_MACHINE\Software\X (also HKCU, HKCR, HKU, HKCC).
    Taken from the pipeline, also as the Path property of Tarnwick objects.
    .PARAMETER Name
    The value's name; "" names the default value. Without it, all values.
    .PARAMETER View
    The registry view, 32 or 64; without it, this PowerShell's own.
    .EXAMPLE
    Get-TarnwickRegistryValue -Path 'HKLM:\Software\Microsoft\Windows NT\CurrentVersion' -Name ProductName
    .EXAMPLE
    Get-TarnwickRegistryKey HKCU:\Software\Example | Get-TarnwickRegistryValue
    Lists the values of every subkey of HKCU\Software\Example.
    #>
    [CmdletBinding()]
    [OutputType('Tarnwick.RegistryValue')]
    param(
        [Parameter(Mandatory, Position = 0, ValueFromPipeline, ValueFromPipelineByPropertyName)]
        [string[]] $Path,
        [Parameter(Position = 1)] [AllowEmptyString()] [string] $Name,
        [Parameter(ValueFromPipelineByPropertyName)] [ValidateSet('32', '64')] [string] $View
    )
    begin { $reg = Get-TarnwickObject Registry $PSCmdlet }
    process {
        $v = Get-TarnwickView $View
        $byName = $PSBoundParameters.ContainsKey('Name')
        Invoke-TarnwickForEachKey $Path $PSCmdlet {
            param($key)
            if ($byName) {
                $value = Get-TarnwickValueObject $reg $key $Name $v
                if ($value) { $value }
                elseif (-not $reg.RegKeyExists($key.Root, $key.SubKey, $v)) { $PSCmdlet.WriteError((New-TarnwickKeyNotFound $key $v)) }
                else {
                    $PSCmdlet.WriteError((New-TarnwickErrorRecord "The key $($key.Path) has no value '$Name'." `
                                'TarnwickValueNotFound' 'ObjectNotFound' $key.Path))
                }
                return
            }
            $names = $reg.RegEnumValues($key.Root, $key.SubKey, $v)
            if ($null -eq $names) { $PSCmdlet.WriteError((New-TarnwickKeyNotFound $key $v)); return }
            foreach ($n in $names) { Get-TarnwickValueObject $reg $key ([string] $n) $v }
        }
    }
}

function Set-TarnwickRegistryValue {
    <#
    .SYNOPSIS
    Writes a registry value, creating the key and its parents when missing.
    .DESCRIPTION
    Without -Type the type follows the value, as the library chooses it: text
    is REG_SZ; a whole number REG_DWORD from -2^31 to 2^32 - 1, else
    REG_QWORD; an array whose first item is text REG_MULTI_SZ; a Byte array
    (or another array of numbers 0 to 255) REG_BINARY. A value that its type
    cannot hold is an error, and nothing is written. Prints nothing unless
    -PassThru, which gives the value as Get-TarnwickRegistryValue reads it.
    .PARAMETER Type
    REG_SZ, REG_EXPAND_SZ, REG_DWORD, REG_QWORD, REG_MULTI_SZ, REG_BINARY, or
    the provider's names String, ExpandString, DWord, QWord, MultiString, Binary.
    .EXAMPLE
    Set-TarnwickRegistryValue -Path HKCU:\Software\Example -Name Count -Value 42
    Writes a REG_DWORD.
    .EXAMPLE
    Set-TarnwickRegistryValue HKLM:\Software\Example Paths '%ProgramFiles%\Example' -Type ExpandString -View 32
    .EXAMPLE
    Get-TarnwickRegistryValue HKCU:\Software\Example | Set-TarnwickRegistryValue -Path 'HKCU:\Software\Example Copy'
    Copies every value of one key to another, each with its type.
    #>
    [CmdletBinding(SupportsShouldProcess)]
    [OutputType('Tarnwick.RegistryValue')]
    param(
        [Parameter(Mandatory, Position = 0, ValueFromPipeline, ValueFromPipelineByPropertyName)]
        [string] $Path,
        # An Object, not a String: a key match of Find-TarnwickRegistry has no
        # ValueName ($null), which a String parameter would take as "", the
        # default value.
        [Parameter(Mandatory, Position = 1, ValueFromPipelineByPropertyName)]
        [Alias('ValueName')] [AllowEmptyString()] [object] $Name,
        [Parameter(Mandatory, Position = 2, ValueFromPipelineByPropertyName)]
        [Alias('Data')] [AllowEmptyString()] [AllowEmptyCollection()] [object] $Value,
        [Parameter(ValueFromPipelineByPropertyName)]
        [ValidateSet('REG_SZ', 'REG_EXPAND_SZ', 'REG_DWORD', 'REG_QWORD', 'REG_MULTI_SZ', 'REG_BINARY',
            'String', 'ExpandString', 'DWord', 'QWord', 'MultiString', 'Binary')]
        [string] $Type,
        [Parameter(ValueFromPipelineByPropertyName)] [ValidateSet('32', '64')] [string] $View,
        [switch] $PassThru
    )
    begin { $reg = Get-TarnwickObject Registry $PSCmdlet }
    process {
        $v = Get-TarnwickView $View
        $valueName = [string] $Name
        Invoke-TarnwickForEachKey $Path $PSCmdlet {
            param($key)
            $data = ConvertTo-TarnwickData $Value
            $valueType = $null
            if ($Type) { $valueType = $script:ValueTypes[$Type] }
            elseif ($data -is [uint64] -and $data -gt [uint32]::MaxValue) { $valueType = 'REG_QWORD' }
            $what = "Set value '$valueName'"
            if ($valueType) { $what += " ($valueType)" }
            if (-not $PSCmdlet.ShouldProcess("$($key.Path) ($(Get-TarnwickViewText $v))", $what)) { return }
            if (-not $reg.RegWriteValue($key.Root, $key.SubKey, $valueName, $data, $valueType, $v)) {
                $PSCmdlet.WriteError((New-TarnwickRefusal "Windows refused to write the value '$valueName' of $($key.Path)" `
                            'TarnwickWriteRefused' $key $v))
            } elseif ($PassThru) {
                Get-TarnwickValueObject $reg $key $valueName $v
            }
        }
    }
}

function Remove-TarnwickRegistryValue {
    <#
    .SYNOPSIS
    Deletes registry values.
    .DESCRIPTION
    Deletes the value -Name of each key. Path and Name come from the pipeline
    too, by property: the objects of Get-TarnwickRegistryValue (Path, Name)
    and of Find-TarnwickRegistry (Path, ValueName). A key match of
    Find-TarnwickRegistry has no ValueName and is refused. A missing key or
    value is an ObjectNotFound error.
    .EXAMPLE
    Remove-TarnwickRegistryValue -Path HKCU:\Software\Example -Name Count
    .EXAMPLE
    Find-TarnwickRegistry HKCU:\Software\Example -Pattern 'tmp*' -Where Values | Remove-TarnwickRegistryValue
    Deletes every value whose name starts with "tmp", in the key and below it.
    #>
    [CmdletBinding(SupportsShouldProcess)]
    param(
        [Parameter(Mandatory, Position = 0, ValueFromPipeline, ValueFromPipelineByPropertyName)]
        [string[]] $Path,
        # An Object, not a String: a key match of Find-TarnwickRegistry has no
        # ValueName ($null), which a String parameter would take as "", the
        # default value.
        [Parameter(Mandatory, Position = 1, ValueFromPipelineByPropertyName)]
        [Alias('ValueName')] [AllowEmptyString()] [object] $Name,
        [Parameter(ValueFromPipelineByPropertyName)] [ValidateSet('32', '64')] [string] $View
    )
    begin { $reg = Get-TarnwickObject Registry $PSCmdlet }
    process {
        $v = Get-TarnwickView $View
        $valueName = [string] $Name
        Invoke-TarnwickForEachKey $Path $PSCmdlet {
            param($key)
            if (-not $reg.RegValueExists($key.Root, $key.SubKey, $valueName, $v)) {
                if (-not $reg.RegKeyExists($key.Root, $key.SubKey, $v)) { $PSCmdlet.WriteError((New-TarnwickKeyNotFound $key $v)) }
                else {
                    $PSCmdlet.WriteError((New-TarnwickErrorRecord "The key $($key.Path) has no value '$valueName'." `
                                'TarnwickValueNotFound' 'ObjectNotFound' $key.Path))
                }
                return
            }
            if (-not $PSCmdlet.ShouldProcess("$($key.Path) ($(Get-TarnwickViewText $v))", "Remove value '$valueName'")) { return }
            if (-not $reg.RegDeleteValue($key.Root, $key.SubKey, $valueName, $v)) {
                $PSCmdlet.WriteError((New-TarnwickRefusal "Windows refused to delete the value '$valueName' of $($key.Path)" `
                            'TarnwickDeleteRefused' $key $v))
            }
        }
    }
}

function Get-TarnwickRegistryKey {
    <#
    .SYNOPSIS
    Gets the subkeys of registry keys as objects.
    .DESCRIPTION
    Lists the subkeys of each key as Tarnwick.RegistryKey objects: Path, Name,
    SubKeyCount, ValueCount, LastWriteTime (local time) and View. A missing
    key is an ObjectNotFound error.
    .EXAMPLE
    Get-TarnwickRegistryKey -Path HKLM:\Software -View 32
    .EXAMPLE
    Get-TarnwickRegistryKey HKCU:\Software | Where-Object LastWriteTime -gt (Get-Date).AddDays(-1)
    The keys below HKCU\Software written since yesterday.
    #>
    [CmdletBinding()]
    [OutputType('Tarnwick.RegistryKey')]
    param(
        [Parameter(Mandatory, Position = 0, ValueFromPipeline, ValueFromPipelineByPropertyName)]
        [string[]] $Path,
        [Parameter(ValueFromPipelineByPropertyName)] [ValidateSet('32', '64')] [string] $View
    )
    begin { $reg = Get-TarnwickObject Registry $PSCmdlet }
    process {
        $v = Get-TarnwickView $View
        Invoke-TarnwickForEachKey $Path $PSCmdlet {
            param($key)
            $names = $reg.RegEnumKeys($key.Root, $key.SubKey, $v)
            if ($null -eq $names) { $PSCmdlet.WriteError((New-TarnwickKeyNotFound $key $v)); return }
            foreach ($n in $names) { Get-TarnwickKeyObject $reg (Join-TarnwickKeyPath $key $n) $v }
        }
    }
}

function New-TarnwickRegistryKey {
    <#
    .SYNOPSIS
    Creates registry keys, with the missing keys on their path.
    .DESCRIPTION
    Creates each key in the registry view asked for. A key that exists
    already is a ResourceExists error and stays as it is. Prints nothing
    unless -PassThru, which gives the new key as a Tarnwick.RegistryKey.
    .EXAMPLE
    New-TarnwickRegistryKey -Path HKLM:\Software\Example\Settings -View 32
    #>
    [CmdletBinding(SupportsShouldProcess)]
    [OutputType('Tarnwick.RegistryKey')]
    param(
        [Parameter(Mandatory, Position = 0, ValueFromPipeline, ValueFromPipelineByPropertyName)]
        [string[]] $Path,
        [Parameter(ValueFromPipelineByPropertyName)] [ValidateSet('32', '64')] [string] $View,
        [switch] $PassThru
    )
    begin { $reg = Get-TarnwickObject Registry $PSCmdlet }
    process {
        $v = Get-TarnwickView $View
        foreach ($p in $Path) {
            $key = Resolve-TarnwickKeyPath $p $PSCmdlet
            if ($reg.RegKeyExists($key.Root, $key.SubKey, $v)) {
                $PSCmdlet.WriteError((New-TarnwickErrorRecord "The key $($key.Path) exists already." `
                            'TarnwickKeyExists' 'ResourceExists' $key.Path))
                continue
            }
            if ($key.Path -match '[\r\n]') {
                $PSCmdlet.WriteError((New-TarnwickErrorRecord "A key name with a line break cannot be created here: $($key.Path)." `
                            'TarnwickKeyNameNotValid' 'InvalidArgument' $key.Path))
                continue
            }
            if (-not $PSCmdlet.ShouldProcess("$($key.Path) ($(Get-TarnwickViewText $v))", 'Create key')) { continue }
            # The library creates keys in any view through a registration
            # file of the one key: all of its path or nothing.
            $file = [IO.Path]::GetTempFileName()
            try {
                [IO.File]::WriteAllText($file, "Windows Registry Editor Version 5.00`r`n`r`n[$($key.Path)]`r`n",
                    [Text.Encoding]::Unicode)
                $null = $reg.RegImportFile($file, $v)
            } catch {
                # A refusal: the key is not there, which is told below.
                if (-not (Get-TarnwickLibraryError $_)) { throw }
            } finally {
                Remove-Item -LiteralPath $file -Force -ErrorAction SilentlyContinue
            }
            if (-not $reg.RegKeyExists($key.Root, $key.SubKey, $v)) {
                $PSCmdlet.WriteError((New-TarnwickRefusal "Windows refused to create the key $($key.Path)" 'TarnwickCreateRefused' $key $v))
            } elseif ($PassThru) {
                Get-TarnwickKeyObject $reg $key $v
            }
        }
    }
}

function Remove-TarnwickRegistryKey {
    <#
    .SYNOPSIS
    Deletes registry keys; with -Recurse, everything below them too.
    .DESCRIPTION
    Deletes each key with its values. A key with subkeys needs -Recurse,
    which deletes the whole subtree; a link below it is removed, not
    followed. Roots, hives and the keys that store them are never deleted:
    the library refuses them (InvalidArgument). Asks for confirmation unless
    -Confirm:$false (its impact is High).
    .EXAMPLE
    Remove-TarnwickRegistryKey -Path HKCU:\Software\Example -Recurse -Confirm:$false
    .EXAMPLE
    Find-TarnwickRegistry HKCU:\Software -Pattern 'Example*' -Where Keys | Remove-TarnwickRegistryKey -Recurse
    #>
    [CmdletBinding(SupportsShouldProcess, ConfirmImpact = 'High')]
    param(
        [Parameter(Mandatory, Position = 0, ValueFromPipeline, ValueFromPipelineByPropertyName)]
        [string[]] $Path,
        [switch] $Recurse,
        [Parameter(ValueFromPipelineByPropertyName)] [ValidateSet('32', '64')] [string] $View
    )
    begin { $reg = Get-TarnwickObject Registry $PSCmdlet }
    process {
        $v = Get-TarnwickView $View
        Invoke-TarnwickForEachKey $Path $PSCmdlet {
            param($key)
            $subKeys = $reg.RegEnumKeys($key.Root, $key.SubKey, $v)
            if ($null -eq $subKeys -and -not $reg.RegKeyExists($key.Root, $key.SubKey, $v)) {
                $PSCmdlet.WriteError((New-TarnwickKeyNotFound $key $v))
                return
            }
            if (-not $Recurse -and $null -ne $subKeys -and @($subKeys).Count -gt 0) {
                $PSCmdlet.WriteError((New-TarnwickErrorRecord "The key $($key.Path) has subkeys: -Recurse deletes them with it." `
                            'TarnwickKeyHasSubKeys' 'InvalidOperation' $key.Path))
                return
            }
            $what = 'Remove key'
            if ($Recurse) { $what = 'Remove key and everything below it' }
            if (-not $PSCmdlet.ShouldProcess("$($key.Path) ($(Get-TarnwickViewText $v))", $what)) { return }
            if (-not $reg.RegDeleteKey($key.Root, $key.SubKey, [bool] $Recurse, $v)) {
                $PSCmdlet.WriteError((New-TarnwickRefusal "Windows refused to delete the key $($key.Path) (what it refused stays)" `
                            'TarnwickDeleteRefused' $key $v))
            }
        }
    }
}

function Copy-TarnwickRegistryKey {
    <#
    .SYNOPSIS
    Copies a registry key with its values and everything below it.
    .DESCRIPTION
    Copies the key's values and its subtree into -Destination, which is
    created when missing; values already there of the same names are
    replaced, others stay. Both ends are in the one view. A destination that
    is the source or inside it, by whatever name, is refused. Security and
    class texts are not copied. Prints nothing unless -PassThru, which gives
    the destination as a Tarnwick.RegistryKey.
    .EXAMPLE
    Copy-TarnwickRegistryKey -Path HKCU:\Software\Example -Destination 'HKCU:\Software\Example Backup'
    #>
    [CmdletBinding(SupportsShouldProcess)]
    [OutputType('Tarnwick.RegistryKey')]
    param(
        [Parameter(Mandatory, Position = 0, ValueFromPipeline, ValueFromPipelineByPropertyName)]
        [string] $Path,
        [Parameter(Mandatory, Position = 1)] [string] $Destination,
        [Parameter(ValueFromPipelineByPropertyName)] [ValidateSet('32', '64')] [string] $View,
        [switch] $PassThru
    )
    begin { $reg = Get-TarnwickObject Registry $PSCmdlet }
    process {
        $v = Get-TarnwickView $View
        Invoke-TarnwickForEachKey $Path $PSCmdlet {
            param($key)
            $to = Resolve-TarnwickKeyPath $Destination $PSCmdlet
            if (-not $reg.RegKeyExists($key.Root, $key.SubKey, $v)) { $PSCmdlet.WriteError((New-TarnwickKeyNotFound $key $v)); return }
            if (-not $PSCmdlet.ShouldProcess("$($to.Path) ($(Get-TarnwickViewText $v))", "Copy $($key.Path) to")) { return }
            if (-not $reg.RegCopyKey($key.Root, $key.SubKey, $to.Root, $to.SubKey, $v)) {
                $PSCmdlet.WriteError((New-TarnwickRefusal "Windows refused part of the copy of $($key.Path) to $($to.Path) (what was copied stays)" `
                            'TarnwickCopyRefused' $to $v))
            } elseif ($PassThru) {
                Get-TarnwickKeyObject $reg $to $v
            }
        }
    }
}

function Find-TarnwickRegistry {
    <#
    .SYNOPSIS
    Searches a registry key and everything below it for key names, value names or text data.
    .DESCRIPTION
    Matches -Pattern against whole names and texts: * any run of characters,
    ? any one, letters in any case. -Where picks Keys, Values, Data (the text
    of REG_SZ, REG_EXPAND_SZ and each string of REG_MULTI_SZ); all three
    without it. The key named is searched for its values and data, not its
    own name. Each match is a Tarnwick.RegistryMatch: Path (the key), ValueName
    (none for a key match) and Match ("Key", "Value" or "Data"), depth first,
    a key before its subkeys.
    .EXAMPLE
    Find-TarnwickRegistry -Path HKCU:\Software -Pattern '*.log' -Where Data
    .EXAMPLE
    Find-TarnwickRegistry HKLM:\Software\Example -Pattern 'Legacy*' -Where Keys | Remove-TarnwickRegistryKey -Recurse
    #>
    [CmdletBinding()]
    [OutputType('Tarnwick.RegistryMatch')]
    param(
        [Parameter(Mandatory, Position = 0, ValueFromPipeline, ValueFromPipelineByPropertyName)]
        [string[]] $Path,
        [Parameter(Mandatory, Position = 1)] [string] $Pattern,
        [ValidateSet('Keys', 'Values', 'Data')] [string[]] $Where,
        [Parameter(ValueFromPipelineByPropertyName)] [ValidateSet('32', '64')] [string] $View
    )
    begin {
        $reg = Get-TarnwickObject Registry $PSCmdlet
        $places = $null
        if ($Where) { $places = @($Where | Select-Object -Unique) -join ',' }
    }
    process {
        $v = Get-TarnwickView $View
        Invoke-TarnwickForEachKey $Path $PSCmdlet {
            param($key)
            $found = $reg.RegFind($key.Root, $key.SubKey, $Pattern, $places, $v)
            if ($null -eq $found) { $PSCmdlet.WriteError((New-TarnwickKeyNotFound $key $v)); return }
            foreach ($m in $found) {
                $at = $key.Root
                if ($m[0]) { $at = $key.Root + '\' + $m[0] }
                $valueName = $null
                if ($m[2] -ne 'Key') { $valueName = [string] $m[1] }
                [pscustomobject] @{
                    PSTypeName = 'Tarnwick.RegistryMatch'; Path = $at; ValueName = $valueName; Match = [string] $m[2]; View = $v
                }
            }
        }
    }
}

function Export-TarnwickRegistryKey {
    <#
    .SYNOPSIS
    Writes a registry key and everything below it to a registration file.
    .DESCRIPTION
    Writes the file that the registry editor reads (UTF-16, "Windows Registry
    Editor Version 5.00"), which Import-TarnwickRegistryFile restores. The
    file is replaced whole or not at all. Prints nothing unless -PassThru,
    which gives the file.
    .EXAMPLE
    Export-TarnwickRegistryKey -Path HKCU:\Software\Example -FilePath .\example.reg
    #>
    [CmdletBinding(SupportsShouldProcess)]
    [OutputType([System.IO.FileInfo])]
    param(
        [Parameter(Mandatory, Position = 0, ValueFromPipeline, ValueFromPipelineByPropertyName)]
        [string] $Path,
        [Parameter(Mandatory, Position = 1)] [string] $FilePath,
        [Parameter(ValueFromPipelineByPropertyName)] [ValidateSet('32', '64')] [string] $View,
        [switch] $PassThru
    )
    begin {
        $reg = Get-TarnwickObject Registry $PSCmdlet
        $file = Resolve-TarnwickFilePath $FilePath $PSCmdlet
    }
    process {
        $v = Get-TarnwickView $View
        Invoke-TarnwickForEachKey $Path $PSCmdlet {
            param($key)
            if (-not $reg.RegKeyExists($key.Root, $key.SubKey, $v)) { $PSCmdlet.WriteError((New-TarnwickKeyNotFound $key $v)); return }
            if (-not $PSCmdlet.ShouldProcess($file, "Export $($key.Path) ($(Get-TarnwickViewText $v)) to")) { return }
            if ($reg.RegExportKey($key.Root, $key.SubKey, $file, $v)) {
                if ($PassThru) { Get-Item -LiteralPath $file }
            } else {
                $PSCmdlet.WriteError((New-TarnwickErrorRecord ("$($key.Path) could not be written to $file (the file cannot be " +
                            'written, or a key below it cannot be read, has a line break in its name or lies deeper than 512 levels).') `
                            'TarnwickExportFailed' 'WriteError' $key.Path))
            }
        }
    }
}

function Import-TarnwickRegistryFile {
    <#
    .SYNOPSIS
    Imports a registration file: all of it, or nothing.
    .DESCRIPTION
    Reads and checks the whole file first; a line that is no registration
    entry (or that would delete a root or a hive) is an InvalidData error
    naming the line, and nothing is written. Then the keys, values and
    deletions are made in the file's order; at the first one Windows refuses,
    every change before it is undone and the error names that line. Reads
    "Windows Registry Editor Version 5.00" and REGEDIT4 files. Asks for
    confirmation unless -Confirm:$false (its impact is High). Prints nothing
    unless -PassThru, which gives the file and the number of values written.
    .EXAMPLE
    Import-TarnwickRegistryFile -FilePath .\example.reg -Confirm:$false
    .EXAMPLE
    Get-ChildItem .\settings\*.reg | Import-TarnwickRegistryFile -View 64 -PassThru
    #>
    [CmdletBinding(SupportsShouldProcess, ConfirmImpact = 'High')]
    [OutputType('Tarnwick.RegistryImport')]
    param(
        [Parameter(Mandatory, Position = 0, ValueFromPipeline, ValueFromPipelineByPropertyName)]
        [Alias('FullName')] [string[]] $FilePath,
        [ValidateSet('32', '64')] [string] $View,
        [switch] $PassThru
    )
    begin { $reg = Get-TarnwickObject Registry $PSCmdlet }
    process {
        $v = Get-TarnwickView $View
        foreach ($f in $FilePath) {
            $file = Resolve-TarnwickFilePath $f $PSCmdlet
            if (-not (Test-Path -LiteralPath $file -PathType Leaf)) {
                $PSCmdlet.WriteError((New-TarnwickErrorRecord "The file $file does not exist." 'TarnwickFileNotFound' 'ObjectNotFound' $file))
                continue
            }
            if (-not $PSCmdlet.ShouldProcess($file, "Import into the $(Get-TarnwickViewText $v)")) { continue }
            try {
                $count = $reg.RegImportFile($file, $v)
                if ($PassThru) {
                    [pscustomobject] @{ PSTypeName = 'Tarnwick.RegistryImport'; FilePath = $file; ValueCount = [int] $count; View = $v }
                }
            } catch {
                if (-not (Get-TarnwickLibraryError $_)) { throw }
                $record = ConvertFrom-TarnwickComError $_ $file
                $message = $record.Exception.Message
                if ($message -match '^Line (\d+) ') {
                    # A line that is no entry is the file's fault, a refused one Windows';
                    # the line itself, as the file holds it, follows the library's words.
                    $number = [int] $Matches[1]
                    $category = 'InvalidData'
                    if ($message -match 'refused') { $category = 'WriteError' }
                    $record = New-Object System.Management.Automation.ErrorRecord $record.Exception,
                        $record.FullyQualifiedErrorId, $category, $file
                    $lines = [IO.File]::ReadAllLines($file)
                    if ($number -le $lines.Count) {
                        $record.ErrorDetails = New-Object System.Management.Automation.ErrorDetails "$($message): $($lines[$number - 1])"
                    }
                }
                $PSCmdlet.WriteError($record)
            }
        }
    }
}

function Get-TarnwickRegistryAccess {
    <#
    .SYNOPSIS
    Gets a registry key's security as SDDL, or tests whether this session may read or write it.
    .DESCRIPTION
    Without -Test: a Tarnwick.RegistryAccess object with the key's Path and
    its owner, group and DACL as SDDL text. With -Test Read, Write or Full:
    True or False, whether this process may open the key for that access.
    .EXAMPLE
    Get-TarnwickRegistryAccess -Path HKLM:\Software\Example | Select-Object -ExpandProperty Sddl
    .EXAMPLE
    if (-not (Get-TarnwickRegistryAccess HKLM:\Software\Policies -Test Write)) { 'read only' }
    #>
    [CmdletBinding(DefaultParameterSetName = 'Sddl')]
    [OutputType('Tarnwick.RegistryAccess', ParameterSetName = 'Sddl')]
    [OutputType([bool], ParameterSetName = 'Test')]
    param(
        [Parameter(Mandatory, Position = 0, ValueFromPipeline, ValueFromPipelineByPropertyName)]
        [string[]] $Path,
        [Parameter(Mandatory, ParameterSetName = 'Test')] [ValidateSet('Read', 'Write', 'Full')] [string] $Test,
        [Parameter(ValueFromPipelineByPropertyName)] [ValidateSet('32', '64')] [string] $View
    )
    begin { $reg = Get-TarnwickObject Registry $PSCmdlet }
    process {
        $v = Get-TarnwickView $View
        Invoke-TarnwickForEachKey $Path $PSCmdlet {
            param($key)
            if ($Test) {
                $allowed = [bool] $reg.RegCheckAccess($key.Root, $key.SubKey, $Test, $v)
                if ($allowed -or $reg.RegKeyExists($key.Root, $key.SubKey, $v)) { $allowed }
                else { $PSCmdlet.WriteError((New-TarnwickKeyNotFound $key $v)) }
                return
            }
            $sddl = $reg.RegGetSecurity($key.Root, $key.SubKey, $v)
            if ($sddl) {
                [pscustomobject] @{ PSTypeName = 'Tarnwick.RegistryAccess'; Path = $key.Path; Sddl = [string] $sddl; View = $v }
            } elseif (-not $reg.RegKeyExists($key.Root, $key.SubKey, $v)) {
                $PSCmdlet.WriteError((New-TarnwickKeyNotFound $key $v))
            } else {
                $PSCmdlet.WriteError((New-TarnwickErrorRecord "The security of $($key.Path) cannot be read." `
                            'TarnwickSecurityNotRead' 'PermissionDenied' $key.Path))
            }
        }
    }
}

function Set-TarnwickRegistryAccess {
    <#
    .SYNOPSIS
    Sets a registry key's owner, group or DACL from SDDL text.
    .DESCRIPTION
    Applies the parts that -Sddl holds (owner, group, DACL; a SACL is not
    applied). SDDL that does not parse, or names none of the three, is a
    terminating error and nothing is applied. Changing the owner takes
    WRITE_OWNER, the DACL WRITE_DAC. Prints nothing unless -PassThru.
    .EXAMPLE
    Set-TarnwickRegistryAccess -Path HKCU:\Software\Example -Sddl 'D:P(A;;KA;;;OW)(A;;KR;;;WD)'
    #>
    [CmdletBinding(SupportsShouldProcess)]
    [OutputType('Tarnwick.RegistryAccess')]
    param(
        [Parameter(Mandatory, Position = 0, ValueFromPipeline, ValueFromPipelineByPropertyName)]
        [string[]] $Path,
        [Parameter(Mandatory, Position = 1)] [string] $Sddl,
        [Parameter(ValueFromPipelineByPropertyName)] [ValidateSet('32', '64')] [string] $View,
        [switch] $PassThru
    )
    begin { $reg = Get-TarnwickObject Registry $PSCmdlet }
    process {
        $v = Get-TarnwickView $View
        foreach ($p in $Path) {
            $key = Resolve-TarnwickKeyPath $p $PSCmdlet
            if (-not $reg.RegKeyExists($key.Root, $key.SubKey, $v)) { $PSCmdlet.WriteError((New-TarnwickKeyNotFound $key $v)); continue }
            if (-not $PSCmdlet.ShouldProcess("$($key.Path) ($(Get-TarnwickViewText $v))", "Set security to $Sddl")) { continue }
            try {
                $applied = $reg.RegSetSecurity($key.Root, $key.SubKey, $Sddl, $v)
            } catch {
                if (-not (Get-TarnwickLibraryError $_)) { throw }
                # The one argument the library judges here is the SDDL, the same for every key.
                $PSCmdlet.ThrowTerminatingError((ConvertFrom-TarnwickComError $_ $Sddl))
            }
            if (-not $applied) {
                $PSCmdlet.WriteError((New-TarnwickErrorRecord "Windows refused the security of $($key.Path)." `
                            'TarnwickSecurityRefused' 'PermissionDenied' $key.Path))
            } elseif ($PassThru) {
                [pscustomobject] @{
                    PSTypeName = 'Tarnwick.RegistryAccess'; Path = $key.Path; Sddl = [string] $reg.RegGetSecurity($key.Root, $key.SubKey, $v); View = $v
                }
            }
        }
    }
}
