# The Tarnwick module: cmdlets over the objects of Tarnwick.dll, created by
# their ProgIDs (TarnwickDLL.Registry, .WindowsInfo, .Time, .Reboot). This
# file holds what every cmdlet shares: the objects, registry paths, views,
# errors and conversions; Registry.ps1 and Machine.ps1 hold the cmdlets.
# Written for Windows PowerShell 5.1 and PowerShell 7 alike.
Set-StrictMode -Version 2.0

# The objects hold no state (every call is independent), so one of each
# class serves the whole session.
$script:TarnwickObjects = @{}

function Get-TarnwickObject {
    param([Parameter(Mandatory)] [string] $Class, [Parameter(Mandatory)] $Cmdlet)
    $object = $script:TarnwickObjects[$Class]
    if ($null -eq $object) {
        $progId = "TarnwickDLL.$Class"
        try {
            $object = New-Object -ComObject $progId -ErrorAction Stop
        } catch {
            $exception = New-Object System.InvalidOperationException (
                "$progId cannot be created: the Tarnwick library is not registered for this " +
                "PowerShell's bitness (install Tarnwick's MSI, or run Pelmora.exe as administrator). " +
                $_.Exception.Message), $_.Exception
            $Cmdlet.ThrowTerminatingError((New-Object System.Management.Automation.ErrorRecord $exception,
                    'TarnwickNotRegistered', 'ResourceUnavailable', $progId))
        }
        $script:TarnwickObjects[$Class] = $object
    }
    $object
}

# A text result of a method that takes no arguments. Libraries before
# release 1.13 answer the empty text as a null string, which automation
# allows and for which PowerShell 7 raises an ArgumentNullException: that is
# the empty text too.
function Get-TarnwickText {
    param($Object, [string] $Method)
    try { [string] $Object.$Method() } catch [System.ArgumentNullException] { '' }
}

# --- registry paths --------------------------------------------------------

$script:RootNames = @{
    'HKCR' = 'HKEY_CLASSES_ROOT'; 'HKEY_CLASSES_ROOT' = 'HKEY_CLASSES_ROOT'
    'HKCU' = 'HKEY_CURRENT_USER'; 'HKEY_CURRENT_USER' = 'HKEY_CURRENT_USER'
    'HKLM' = 'HKEY_LOCAL_MACHINE'; 'HKEY_LOCAL_MACHINE' = 'HKEY_LOCAL_MACHINE'
    'HKU' = 'HKEY_USERS'; 'HKEY_USERS' = 'HKEY_USERS'
    'HKCC' = 'HKEY_CURRENT_CONFIG'; 'HKEY_CURRENT_CONFIG' = 'HKEY_CURRENT_CONFIG'
}

# Converts a key path as PowerShell users write it into the root's full name
# and the path below it: "HKLM:\Software\X", "HKEY_LOCAL_MACHINE\Software\X",
# "HKLM\Software\X", "Registry::HKEY_LOCAL_MACHINE\Software\X" (also with
# the provider's module name before it). Root names in any case; a trailing
# backslash and doubled ones are dropped, as Windows drops them. Key names
# are taken literally: "*", "?" and "/" are characters of a name, as in the
# registry. What names no key exactly is a terminating error: no root or an
# unknown one, a path relative to a drive's current location ("HKLM:Software"),
# "." or ".." (which PowerShell would resolve and the registry would not),
# a NUL. Path is the canonical form that every registry object carries:
# "HKEY_LOCAL_MACHINE\Software\X".
function Resolve-TarnwickKeyPath {
    param([AllowEmptyString()] [AllowNull()] [string] $Path, [Parameter(Mandatory)] $Cmdlet)
    $reason = $null
    $rest = [string] $Path
    $provider = $false
    if ($rest -match '^(Microsoft\.PowerShell\.Core\\)?Registry::') {
        $rest = $rest.Substring($Matches[0].Length)
        $provider = $true
    }
    $at = $rest.IndexOf('\')
    if ($at -lt 0) { $first = $rest; $rest = '' } else { $first = $rest.Substring(0, $at); $rest = $rest.Substring($at + 1) }
    $drive = (-not $provider) -and $first.EndsWith(':')
    if ($drive) { $first = $first.Substring(0, $first.Length - 1) }
    $root = $null
    if ($first.Length -gt 0) { $root = $script:RootNames[$first.ToUpperInvariant()] }
    $parts = @($rest.Split('\') | Where-Object { $_.Length -gt 0 })
    if ([string]::IsNullOrWhiteSpace($Path)) {
        $reason = 'the path is empty'
    } elseif ($Path.IndexOf([char] 0) -ge 0) {
        $reason = 'it holds a NUL character'
    } elseif (-not $root) {
        if ($first -match '^[A-Za-z_]+:[^\\]') {
            $reason = 'a path relative to a drive''s current location names no key by itself'
        } else {
            $reason = 'it starts with no root key (HKLM:\, HKEY_LOCAL_MACHINE\, HKLM\, Registry::HKEY_LOCAL_MACHINE\; also HKCU, HKCR, HKU, HKCC)'
        }
    } elseif ($parts -contains '.' -or $parts -contains '..') {
        $reason = '"." and ".." are no key names here: write the path out'
    }
    if ($reason) {
        $exception = New-Object System.ArgumentException "'$Path' names no registry key exactly: $reason."
        $Cmdlet.ThrowTerminatingError((New-Object System.Management.Automation.ErrorRecord $exception,
                'TarnwickPathNotValid', 'InvalidArgument', $Path))
    }
    $subKey = $parts -join '\'
    $canonical = $root
    if ($subKey) { $canonical = "$root\$subKey" }
    [pscustomobject] @{ Root = $root; SubKey = $subKey; Path = $canonical }
}

# The key below another one, as the library names it and canonically.
function Join-TarnwickKeyPath {
    param($Key, [string] $Name)
    $subKey = $Name
    if ($Key.SubKey) { $subKey = $Key.SubKey + '\' + $Name }
    [pscustomobject] @{ Root = $Key.Root; SubKey = $subKey; Path = $Key.Root + '\' + $subKey }
}

# The registry view as a number: the one asked for, else this process's own
# (64 in a 64-bit PowerShell, 32 in a 32-bit one), so that every object
# names the view it came from and a pipeline stays in it.
function Get-TarnwickView {
    param([string] $View)
    if ($View) { return [int] $View }
    if ([Environment]::Is64BitProcess) { 64 } else { 32 }
}

function Get-TarnwickViewText {
    param([int] $View)
    "$View-bit view"
}

# --- errors ----------------------------------------------------------------

function New-TarnwickErrorRecord {
    param([string] $Message, [string] $ErrorId, [System.Management.Automation.ErrorCategory] $Category,
        $Target, [Exception] $Exception)
    if (-not $Exception) {
        switch ($Category) {
            'ObjectNotFound' { $Exception = New-Object System.Management.Automation.ItemNotFoundException $Message }
            'PermissionDenied' { $Exception = New-Object System.UnauthorizedAccessException $Message }
            'InvalidArgument' { $Exception = New-Object System.ArgumentException $Message }
            default { $Exception = New-Object System.InvalidOperationException $Message }
        }
    }
    New-Object System.Management.Automation.ErrorRecord $Exception, $ErrorId, $Category, $Target
}

# The categories of the library's run-time errors (0x800A0000 + number).
$script:LibraryErrors = @{
    5 = 'InvalidArgument'; 6 = 'InvalidArgument'; 13 = 'InvalidType'; 7 = 'ResourceUnavailable'
    48 = 'NotInstalled'; 53 = 'NotInstalled'; 453 = 'NotInstalled'
}

# The exception of a failed library call and the library's error number, if
# that is what the error is: a run-time error of the library, status
# 0x800A0000 + its number, its message the library's description. .NET
# makes errors 6, 7 and 53 exceptions of its own, an OverflowException, an
# OutOfMemoryException and a FileNotFoundException with .NET's status;
# Windows PowerShell wraps them all in a MethodInvocationException.
$script:MappedErrors = @{
    'System.OverflowException' = 6; 'System.OutOfMemoryException' = 7; 'System.IO.FileNotFoundException' = 53
}

function Get-TarnwickLibraryError {
    param([Parameter(Mandatory)] $ErrorRecord)
    $e = $ErrorRecord.Exception
    while ($e) {
        $status = '{0:X8}' -f $e.HResult
        if ($status.StartsWith('800A')) { return [pscustomobject] @{ Exception = $e; Number = $e.HResult -band 0xFFFF } }
        $number = $script:MappedErrors[$e.GetType().FullName]
        if ($number) { return [pscustomobject] @{ Exception = $e; Number = $number } }
        $e = $e.InnerException
    }
}

# The error record of a failed library call: the library's own exception,
# whose message is the library's description, with a category by its number.
function ConvertFrom-TarnwickComError {
    param([Parameter(Mandatory)] $ErrorRecord, $Target)
    $failure = Get-TarnwickLibraryError $ErrorRecord
    $category = $script:LibraryErrors[$failure.Number]
    if (-not $category) { $category = 'NotSpecified' }
    New-Object System.Management.Automation.ErrorRecord $failure.Exception, "TarnwickError$($failure.Number)", $category, $Target
}

# Runs $Body with the key of each path, as the registry cmdlets' process
# blocks do: a failed library call becomes that path's error and the next
# path follows; any other error goes on up. In $Body, return ends the work
# on that key.
function Invoke-TarnwickForEachKey {
    param([string[]] $Path, $Cmdlet, [scriptblock] $Body)
    foreach ($p in $Path) {
        $key = Resolve-TarnwickKeyPath $p $Cmdlet
        try { & $Body $key }
        catch {
            if (-not (Get-TarnwickLibraryError $_)) { throw }
            $Cmdlet.WriteError((ConvertFrom-TarnwickComError $_ $key.Path))
        }
    }
}

# Windows refused a change: access denied when the key may not be written,
# a write error otherwise.
function New-TarnwickRefusal {
    param([string] $Message, [string] $ErrorId, $Key, [int] $View)
    $reg = $script:TarnwickObjects['Registry']
    $category = 'WriteError'
    if ($reg.RegKeyExists($Key.Root, $Key.SubKey, $View) -and -not $reg.RegCheckAccess($Key.Root, $Key.SubKey, 'Write', $View)) {
        $category = 'PermissionDenied'
    }
    New-TarnwickErrorRecord "$Message." $ErrorId $category $Key.Path
}

function New-TarnwickKeyNotFound {
    param($Key, [int] $View)
    New-TarnwickErrorRecord "The key $($Key.Path) does not exist in the $(Get-TarnwickViewText $View)." `
        'TarnwickKeyNotFound' 'ObjectNotFound' $Key.Path
}

# --- conversions -----------------------------------------------------------

# The library's UTC timestamps ("2026-03-29T00:59:59.999Z") as local times.
function ConvertFrom-TarnwickTimestamp {
    param([string] $Text)
    if (-not $Text) { return $null }
    [datetime]::ParseExact($Text, "yyyy-MM-dd'T'HH:mm:ss.fff'Z'", [Globalization.CultureInfo]::InvariantCulture,
        [Globalization.DateTimeStyles] 'AssumeUniversal, AdjustToUniversal').ToLocalTime()
}

. (Join-Path $PSScriptRoot 'Registry.ps1')
. (Join-Path $PSScriptRoot 'Machine.ps1')
