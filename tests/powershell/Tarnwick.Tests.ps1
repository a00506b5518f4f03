# Pester tests of the Tarnwick module (powershell/Tarnwick, as the build
# folder carries it) against the registered library, whose own calls check
# what the cmdlets did. Run by module.ps1; the tests tagged StandIn restart
# the machine and run only where the test build of the library sends its
# shutdown calls to a stand-in (module.sh --stand-in).
param([Parameter(Mandatory)] [string] $ModulePath, [Parameter(Mandatory)] [string] $Version)

BeforeAll {
    Import-Module (Join-Path $ModulePath 'Tarnwick.psd1') -Force
    $reg = New-Object -ComObject TarnwickDLL.Registry
    $base = 'Software\TarnwickPester'
    $key = "HKEY_CURRENT_USER\$base"
    function Reset-Tree {
        $null = $reg.RegDeleteKey('HKCU', $base, $true)
        foreach ($v in @(@('', 'Name', 'value'), @('A', 'x', 1), @('A', 'tmpA', 'a'), @('B', 'tmpB', 'log.txt'), @('C\Deep', 'd', 2))) {
            $sub = $base
            if ($v[0]) { $sub = "$base\$($v[0])" }
            $null = $reg.RegWriteValue('HKCU', $sub, $v[1], $v[2])
        }
    }
    # The errors a command writes to its error stream, with the preference
    # of a script (Pester's is Stop; an -ErrorVariable holds the exceptions
    # caught inside the command as well).
    function Get-WrittenError([scriptblock] $Command) {
        $ErrorActionPreference = 'Continue'
        @(& $Command 2>&1 | Where-Object { $_ -is [System.Management.Automation.ErrorRecord] })
    }
    # The tree as a registration file: what a command changed shows here.
    function Get-Tree {
        $file = Join-Path ([IO.Path]::GetTempPath()) 'tarnwick-pester-tree.reg'
        $null = $reg.RegExportKey('HKCU', $base, $file)
        [IO.File]::ReadAllText($file)
    }
}
AfterAll {
    $null = $reg.RegDeleteKey('HKCU', $base, $true)
    foreach ($view in 32, 64) { $null = $reg.RegDeleteKey('HKLM', $base, $true, $view) }
}

Describe 'Key paths' {
    BeforeAll { Reset-Tree }

    It 'names the key as <Path>' -ForEach @(
        @{ Path = 'HKCU:\Software\TarnwickPester' }, @{ Path = 'HKEY_CURRENT_USER\Software\TarnwickPester' }
        @{ Path = 'HKCU\Software\TarnwickPester\' }, @{ Path = 'Registry::HKEY_CURRENT_USER\Software\TarnwickPester' }
        @{ Path = 'Microsoft.PowerShell.Core\Registry::hkey_current_user\Software\\TarnwickPester' }
        @{ Path = 'hkcu:\Software\TarnwickPester' }
    ) {
        $value = Get-TarnwickRegistryValue -Path $Path -Name Name
        $value.Data | Should -Be 'value'
        $value.Path | Should -BeExactly $key
    }

    It 'refuses <Path> with a terminating InvalidArgument error' -ForEach @(
        @{ Path = 'Software\TarnwickPester' }, @{ Path = 'HKCU:Software' }, @{ Path = 'C:\Windows' }
        @{ Path = 'HKEY_PERFORMANCE_DATA\Global' }, @{ Path = 'HKCU:\Software\..\Software' }, @{ Path = 'HKCU:/Software' }
        @{ Path = ' ' }
    ) {
        $e = { Get-TarnwickRegistryValue -Path $Path -ErrorAction SilentlyContinue } |
            Should -Throw -ErrorId 'TarnwickPathNotValid,Get-TarnwickRegistryValue' -PassThru
        $e.CategoryInfo.Category | Should -Be 'InvalidArgument'
        $e.TargetObject | Should -Be $Path
    }

    It 'writes, reads and removes in the view asked for; a pipeline keeps it' {
        Set-TarnwickRegistryValue "HKLM:\$base\Sub" -Name Bits -Value 32 -View 32
        $reg.RegReadValue('HKLM', "$base\Sub", 'Bits', 32) | Should -Be 32
        $reg.RegKeyExists('HKLM', $base, 64) | Should -BeFalse
        $found = @(Get-TarnwickRegistryKey "HKLM:\$base" -View 32 | Get-TarnwickRegistryValue)
        $found.Name | Should -Be 'Bits'
        $found.View | Should -Be 32
        Get-TarnwickRegistryKey "HKLM:\$base" -View 32 | Remove-TarnwickRegistryKey -Confirm:$false
        $reg.RegKeyExists('HKLM', "$base\Sub", 32) | Should -BeFalse
    }
}

Describe 'Values' {
    BeforeAll { Reset-Tree }

    It 'writes <Value> as <Type> and reads it back as <DataType>' -ForEach @(
        @{ Value = 'text'; Type = 'REG_SZ'; DataType = [string] }
        @{ Value = 42; Type = 'REG_DWORD'; DataType = [int] }
        @{ Value = 5000000000; Type = 'REG_QWORD'; DataType = [uint64] }
        @{ Value = [uint64]::MaxValue; Type = 'REG_QWORD'; DataType = [uint64] }
        @{ Value = @('a', 'b'); Type = 'REG_MULTI_SZ'; DataType = [string[]] }
        @{ Value = [byte[]] (1, 2, 255); Type = 'REG_BINARY'; DataType = [byte[]] }
        @{ Value = '%TEMP%\x'; Given = 'ExpandString'; Type = 'REG_EXPAND_SZ'; DataType = [string] }
    ) {
        $typed = @{}
        if ($Given) { $typed.Type = $Given }
        Set-TarnwickRegistryValue "HKCU:\$base" -Name V @typed -Value $Value | Should -BeNullOrEmpty
        $reg.RegValueType('HKCU', $base, 'V') | Should -Be $Type
        $read = Get-TarnwickRegistryValue "HKCU:\$base" -Name V
        $read.Type | Should -Be $Type
        $read.Data.GetType() | Should -Be $DataType
        $read.Data -join ',' | Should -Be ($Value -join ',')
    }

    It 'lists every value of a key, the default one as ""' {
        $null = $reg.RegWriteValue('HKCU', "$base\A", '', 'default')
        $values = @(Get-TarnwickRegistryValue "HKCU:\$base\A")
        ($values.Name | Sort-Object) -join ',' | Should -Be ',tmpA,x'
        ($values | Where-Object Name -eq '').Data | Should -Be 'default'
    }
}

Describe 'The pipeline' {
    BeforeEach { Reset-Tree }

    It 'Get-TarnwickRegistryKey | Get-TarnwickRegistryValue reads the values of each subkey' {
        $keys = @(Get-TarnwickRegistryKey "HKCU:\$base")
        $keys.Name -join ',' | Should -Be 'A,B,C'
        ($keys | Where-Object Name -eq C).SubKeyCount | Should -Be 1
        $keys[0].LastWriteTime | Should -BeOfType [datetime]
        [math]::Abs(((Get-Date) - $keys[0].LastWriteTime).TotalMinutes) | Should -BeLessThan 5
        $values = @($keys | Get-TarnwickRegistryValue)
        ($values | ForEach-Object { $_.Path.Substring($key.Length) + ':' + $_.Name } | Sort-Object) -join ' ' |
            Should -Be '\A:tmpA \A:x \B:tmpB'
    }

    It 'Find-TarnwickRegistry -Where Values | Remove-TarnwickRegistryValue removes what it matched' {
        Find-TarnwickRegistry "HKCU:\$base" -Pattern 'tmp*' -Where Values | Remove-TarnwickRegistryValue
        $reg.RegValueExists('HKCU', "$base\A", 'tmpA') | Should -BeFalse
        $reg.RegValueExists('HKCU', "$base\B", 'tmpB') | Should -BeFalse
        $reg.RegValueExists('HKCU', "$base\A", 'x') | Should -BeTrue
    }

    It 'a key match names no value: Remove-TarnwickRegistryValue refuses it' {
        $null = $reg.RegWriteValue('HKCU', "$base\B", '', 'default stays')
        $errors = Get-WrittenError { Find-TarnwickRegistry "HKCU:\$base" -Pattern 'B' -Where Keys | Remove-TarnwickRegistryValue }
        $errors.Count | Should -Be 1
        $reg.RegReadValue('HKCU', "$base\B", '') | Should -Be 'default stays'
    }

    It 'Find-TarnwickRegistry -Where Keys | Remove-TarnwickRegistryKey -Recurse removes the subtrees' {
        Find-TarnwickRegistry "HKCU:\$base" -Pattern 'C' -Where Keys | Remove-TarnwickRegistryKey -Recurse -Confirm:$false
        $reg.RegKeyExists('HKCU', "$base\C") | Should -BeFalse
        $reg.RegKeyExists('HKCU', "$base\B") | Should -BeTrue
    }

    It 'Get-TarnwickRegistryValue | Set-TarnwickRegistryValue -Path copies values with their types' {
        Get-TarnwickRegistryValue "HKCU:\$base\A" | Set-TarnwickRegistryValue -Path "HKCU:\$base\Copy"
        $reg.RegValueType('HKCU', "$base\Copy", 'x') | Should -Be 'REG_DWORD'
        $reg.RegReadValue('HKCU', "$base\Copy", 'tmpA') | Should -Be 'a'
    }
}

Describe '-WhatIf' {
    BeforeAll {
        Reset-Tree
        $file = Join-Path ([IO.Path]::GetTempPath()) 'tarnwick-pester-whatif.reg'
        $null = $reg.RegExportKey('HKCU', "$base\A", $file)
        $null = $reg.RegDeleteKey('HKCU', "$base\A", $true)
    }

    It '<Name> changes nothing' -ForEach @(
        @{ Name = 'Set-TarnwickRegistryValue'; Run = { Set-TarnwickRegistryValue "HKCU:\$base" -Name New -Value 1 -WhatIf } }
        @{ Name = 'Remove-TarnwickRegistryValue'; Run = { Remove-TarnwickRegistryValue "HKCU:\$base" -Name Name -WhatIf } }
        @{ Name = 'New-TarnwickRegistryKey'; Run = { New-TarnwickRegistryKey "HKCU:\$base\New" -WhatIf } }
        @{ Name = 'Remove-TarnwickRegistryKey'; Run = { Remove-TarnwickRegistryKey "HKCU:\$base\C" -Recurse -WhatIf } }
        @{ Name = 'Copy-TarnwickRegistryKey'; Run = { Copy-TarnwickRegistryKey "HKCU:\$base\B" "HKCU:\$base\B2" -WhatIf } }
        @{ Name = 'Import-TarnwickRegistryFile'; Run = { Import-TarnwickRegistryFile $file -WhatIf } }
        @{ Name = 'Set-TarnwickRegistryAccess'; Run = { Set-TarnwickRegistryAccess "HKCU:\$base\B" -Sddl 'D:P(A;;KR;;;WD)' -WhatIf } }
    ) {
        $before = Get-Tree
        $sddl = $reg.RegGetSecurity('HKCU', "$base\B")
        & $Run
        Get-Tree | Should -Be $before
        $reg.RegGetSecurity('HKCU', "$base\B") | Should -Be $sddl
    }
}

Describe 'Errors' {
    BeforeAll { Reset-Tree; $missing = "HKCU:\$base\Missing" }

    It '<Name> of a missing key is ObjectNotFound for it, and goes on with the next path' -ForEach @(
        @{ Name = 'Get-TarnwickRegistryValue'; Run = { Get-TarnwickRegistryValue $missing, "HKCU:\$base\A" } }
        @{ Name = 'Get-TarnwickRegistryKey'; Run = { Get-TarnwickRegistryKey $missing, "HKCU:\$base" } }
        @{ Name = 'Find-TarnwickRegistry'; Run = { Find-TarnwickRegistry $missing, "HKCU:\$base" -Pattern x } }
        @{ Name = 'Get-TarnwickRegistryAccess'; Run = { Get-TarnwickRegistryAccess $missing, "HKCU:\$base" -Test Read } }
        @{ Name = 'Remove-TarnwickRegistryKey'
            Run = { Remove-TarnwickRegistryKey $missing, "HKCU:\$base\B" -Confirm:$false; -not $reg.RegKeyExists('HKCU', "$base\B") } }
        @{ Name = 'Remove-TarnwickRegistryValue'
            Run = { Remove-TarnwickRegistryValue $missing, "HKCU:\$base\A" -Name x; -not $reg.RegValueExists('HKCU', "$base\A", 'x') } }
    ) {
        $ErrorActionPreference = 'Continue'
        $out = @(& $Run 2>&1)
        $errors = @($out | Where-Object { $_ -is [System.Management.Automation.ErrorRecord] })
        $errors.Count | Should -Be 1
        $errors[0].CategoryInfo.Category | Should -Be 'ObjectNotFound'
        $errors[0].TargetObject | Should -Be "$key\Missing"
        $done = @($out | Where-Object { $_ -isnot [System.Management.Automation.ErrorRecord] })
        $done.Count | Should -BeGreaterThan 0 -Because 'the second path is done'
        $done | ForEach-Object { $_ | Should -BeTrue }
    }

    It 'the library refuses to delete a root: InvalidArgument, with its own description' {
        $e = Get-WrittenError { Remove-TarnwickRegistryKey 'HKCU:\' -Recurse -Confirm:$false }
        $e[0].CategoryInfo.Category | Should -Be 'InvalidArgument'
        '{0:X8}' -f $e[0].Exception.HResult | Should -Be '800A0005'
        $e[0].Exception.Message | Should -Be 'Invalid procedure call or argument'
    }

    It 'a value that its type cannot hold is <Category> and nothing is written' -ForEach @(
        @{ Value = 'abc'; Category = 'InvalidType' }, @{ Value = 5000000000; Category = 'InvalidArgument' }
    ) {
        $e = Get-WrittenError { Set-TarnwickRegistryValue "HKCU:\$base" -Name Bad -Value $Value -Type DWord }
        $e[0].CategoryInfo.Category | Should -Be $Category
        $reg.RegValueExists('HKCU', $base, 'Bad') | Should -BeFalse
    }

    It 'a key that is there already is ResourceExists' {
        (Get-WrittenError { New-TarnwickRegistryKey "HKCU:\$base\A" })[0].CategoryInfo.Category | Should -Be 'ResourceExists'
    }

    It 'SDDL that does not parse is a terminating error' {
        { Set-TarnwickRegistryAccess "HKCU:\$base\A" -Sddl 'no SDDL' -ErrorAction SilentlyContinue } | Should -Throw -ErrorId 'TarnwickError5,*'
    }
}

Describe 'Export and import' {
    BeforeAll { Reset-Tree; $file = Join-Path ([IO.Path]::GetTempPath()) 'tarnwick-pester.reg' }

    It 'restores a deleted tree from its export' {
        $before = Get-Tree
        Export-TarnwickRegistryKey "HKCU:\$base" -FilePath $file -PassThru | Should -BeOfType [System.IO.FileInfo]
        Remove-TarnwickRegistryKey "HKCU:\$base" -Recurse -Confirm:$false
        (Import-TarnwickRegistryFile $file -Confirm:$false -PassThru).ValueCount | Should -Be 5
        Get-Tree | Should -Be $before
    }

    It 'imports all or nothing: a bad line is InvalidData, with the line, and nothing is written' {
        $text = "Windows Registry Editor Version 5.00`r`n`r`n[$key\FromFile]`r`n`"a`"=`"b`"`r`nno entry`r`n"
        [IO.File]::WriteAllText($file, $text, [Text.Encoding]::Unicode)
        $e = Get-WrittenError { Import-TarnwickRegistryFile $file -Confirm:$false }
        $e[0].CategoryInfo.Category | Should -Be 'InvalidData'
        $e[0].Exception.Message | Should -BeLike 'Line 5 *'
        $e[0].ErrorDetails.Message | Should -BeLike '*: no entry'
        $reg.RegKeyExists('HKCU', "$base\FromFile") | Should -BeFalse
    }
}

Describe 'The machine' {
    It 'Get-TarnwickSystemInfo: one typed object whose boot time and uptime make now' {
        $info = @(Get-TarnwickSystemInfo)
        $info.Count | Should -Be 1
        $info[0].OSVersion | Should -BeOfType [version]
        $info[0].OSName | Should -Be (New-Object -ComObject TarnwickDLL.WindowsInfo).GetOSName()
        [math]::Abs((($info[0].BootTime + $info[0].Uptime) - (Get-Date)).TotalSeconds) | Should -BeLessThan 5
    }

    It 'Get-TarnwickInstalledProgram gives install dates where they parse and filters by name' {
        $uninstall = 'Software\Microsoft\Windows\CurrentVersion\Uninstall'
        $null = $reg.RegWriteValue('HKCU', "$uninstall\TarnwickPesterA", 'DisplayName', 'Tarnwick Pester A')
        $null = $reg.RegWriteValue('HKCU', "$uninstall\TarnwickPesterA", 'InstallDate', '20240131')
        $null = $reg.RegWriteValue('HKCU', "$uninstall\TarnwickPesterB", 'DisplayName', 'Tarnwick Pester B')
        $null = $reg.RegWriteValue('HKCU', "$uninstall\TarnwickPesterB", 'InstallDate', 'last week')
        try {
            $programs = @(Get-TarnwickInstalledProgram -Scope User -Name 'tarnwick pester*')
            $programs.Name -join ',' | Should -Be 'Tarnwick Pester A,Tarnwick Pester B'
            $programs[0].InstallDate | Should -Be ([datetime] '2024-01-31')
            $programs[1].InstallDate | Should -BeNullOrEmpty
            $programs[0].Scope | Should -Be 'User'
        } finally {
            foreach ($p in 'A', 'B') { $null = $reg.RegDeleteKey('HKCU', "$uninstall\TarnwickPester$p", $true) }
        }
    }

    It 'Get-TarnwickPendingReboot names a restart that Windows Update waits for' {
        $sign = 'SOFTWARE\Microsoft\Windows\CurrentVersion\WindowsUpdate\Auto Update\RebootRequired'
        $null = $reg.RegWriteValue('HKLM', $sign, 'TarnwickPester', 1, $null, 64)
        try {
            $pending = Get-TarnwickPendingReboot
            $pending.IsPending | Should -BeTrue
            $pending.Reasons | Should -Contain 'WindowsUpdate'
        } finally { $null = $reg.RegDeleteKey('HKLM', $sign, $true, 64) }
        (Get-TarnwickPendingReboot).Reasons | Should -Not -Contain 'WindowsUpdate'
    }
}

Describe 'The module' {
    BeforeAll {
        $names = 'Get-TarnwickRegistryValue', 'Set-TarnwickRegistryValue', 'Remove-TarnwickRegistryValue',
        'Get-TarnwickRegistryKey', 'New-TarnwickRegistryKey', 'Remove-TarnwickRegistryKey', 'Copy-TarnwickRegistryKey',
        'Find-TarnwickRegistry', 'Export-TarnwickRegistryKey', 'Import-TarnwickRegistryFile', 'Get-TarnwickRegistryAccess',
        'Set-TarnwickRegistryAccess', 'Get-TarnwickSystemInfo', 'Get-TarnwickInstalledProgram', 'Get-TarnwickPendingReboot',
        'Restart-TarnwickComputer', 'Stop-TarnwickRestart'
    }

    It 'is version <Version> of the library, for Windows PowerShell and PowerShell 7, with its cmdlets' {
        $manifest = Test-ModuleManifest (Join-Path $ModulePath 'Tarnwick.psd1')
        $manifest.Version | Should -Be ([version] $Version)
        $manifest.CompatiblePSEditions | Should -Be @('Desktop', 'Core')
        (Get-Command -Module Tarnwick).Name | Sort-Object | Should -Be ($names | Sort-Object)
    }

    It 'every cmdlet has its own help with an example' {
        foreach ($name in $names) {
            $help = Get-Help $name
            $help.Synopsis | Should -Not -BeLike "*$name *" -Because "$name needs a synopsis of its own"
            @($help.Examples.Example).Count | Should -BeGreaterThan 0 -Because "$name needs an example"
        }
    }

    It 'uses only ASCII and no syntax that Windows PowerShell 5.1 lacks' {
        # Tokens of later versions: ?: ?? ??= && || ?. ?[ and clean; and ForEach-Object -Parallel.
        $later = 'QuestionMark', 'QuestionQuestion', 'QuestionQuestionEquals', 'AndAnd', 'OrOr', 'QuestionDot',
        'QuestionLBracket', 'Clean'
        foreach ($file in Get-ChildItem $ModulePath -Include *.ps1, *.psm1, *.psd1 -Recurse) {
            $text = [IO.File]::ReadAllText($file.FullName, [Text.Encoding]::GetEncoding('iso-8859-1'))
            $text -match '[^\x00-\x7F]' | Should -BeFalse -Because "5.1 reads $file as ANSI"
            $tokens = $errors = $null
            $null = [System.Management.Automation.Language.Parser]::ParseInput($text, [ref] $tokens, [ref] $errors)
            $errors | Should -BeNullOrEmpty
            $found = foreach ($t in $tokens) {
                if ($later -contains [string] $t.Kind -or ($t.Kind -eq 'Parameter' -and $t.Text -eq '-Parallel')) {
                    '{0} at {1}:{2}' -f $t.Text, $file.Name, $t.Extent.StartLineNumber
                }
            }
            $found | Should -BeNullOrEmpty
        }
    }
}

Describe 'Restarting' -Tag StandIn {
    # module.sh --stand-in checks the stand-in's lines: exactly the two
    # restarts and the one call-off below, none for -WhatIf.
    It 'asks Windows for the restarts and the call-off it is told to, and nothing under -WhatIf' {
        Restart-TarnwickComputer -Delay 600 -Message 'Tarnwick module test' -WhatIf
        Stop-TarnwickRestart -WhatIf
        $asked = Restart-TarnwickComputer -Delay 600 -Message 'Tarnwick module test' -Confirm:$false -PassThru
        $asked.Delay | Should -Be ([timespan]::FromMinutes(10))
        [math]::Abs(($asked.RestartTime - (Get-Date).AddSeconds(600)).TotalSeconds) | Should -BeLessThan 5
        Stop-TarnwickRestart -Confirm:$false | Should -BeNullOrEmpty
        Restart-TarnwickComputer -Force -Confirm:$false | Should -BeNullOrEmpty
        { Restart-TarnwickComputer -Delay 315360001 -Confirm:$false } | Should -Throw -ErrorId 'ParameterArgumentValidationError,*'
    }
}
