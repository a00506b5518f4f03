# What a PowerShell script must see of the library, each checked once:
#  - Get-Member on each of the four objects lists every method of the
#    class's three interfaces, with the parameter names and types that the
#    type library inside Tarnwick.dll declares, and nothing else;
#  - arrays arrive as object[], nested for RegFind and GetInstalledPrograms;
#  - a by-reference argument passed as [ref] comes back changed;
#  - optional arguments may be left out;
#  - the empty text is an empty string;
#  - a run-time error is an exception whose message is the library's
#    description: a COMException whose HResult is 0x800A0000 + the error
#    number, or for error 6 the OverflowException that .NET makes of it;
#  - an object is released when its variable goes: the library can unload
#    then, and 10,000 objects made and dropped in one process leave its
#    handles and committed memory as they were.
# Exits 1 when a check fails; the last line is "must-see: done", so a
# script that stops early is told apart.
$ErrorActionPreference = 'Stop'
$script:failed = 0
function Check([string] $what, [bool] $ok, $got) {
    if ($ok) { Write-Output "ok: $what" }
    else { Write-Output "FAILED: $what (got: $got)"; $script:failed++ }
}

# The type library read from the file itself (not through an object), and
# the process figures that the leak check compares.
Add-Type -TypeDefinition @'
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Runtime.InteropServices.ComTypes;

public static class TypeLibrary
{
    public sealed class Method
    {
        public string Interface = "", Name = "", Definition = "";
    }

    public sealed class Class
    {
        public string Name = "";
        public List<string> Interfaces = new List<string>();
        public List<Method> Methods = new List<Method>();
    }

    [DllImport("oleaut32.dll", CharSet = CharSet.Unicode, PreserveSig = false)]
    private static extern ITypeLib LoadTypeLibEx(string file, int kind);
    private const int RegKindNone = 2;
    private const short ParamFlagRetval = 8;

    // Each creatable class with its default interface and the ones that
    // interface derives from (down to IDispatch), and their methods as
    // PowerShell's Get-Member writes them: "result Name (type name, ...)",
    // the [out, retval] parameter as the result.
    public static List<Class> Read(string file)
    {
        ITypeLib library = LoadTypeLibEx(file, RegKindNone);
        var classes = new List<Class>();
        for (int i = 0; i < library.GetTypeInfoCount(); i++)
        {
            library.GetTypeInfoType(i, out TYPEKIND kind);
            if (kind != TYPEKIND.TKIND_COCLASS)
                continue;
            library.GetTypeInfo(i, out ITypeInfo coclass);
            var found = new Class { Name = NameOf(coclass) };
            for (ITypeInfo face = DefaultInterface(coclass); face != null; face = Base(face))
            {
                string name = NameOf(face);
                if (name == "IDispatch" || name == "IUnknown")
                    break;
                found.Interfaces.Add(name);
                TYPEATTR attr = Attributes(face);
                for (int f = 0; f < attr.cFuncs; f++)
                    found.Methods.Add(MethodOf(face, f, name));
            }
            classes.Add(found);
        }
        return classes;
    }

    private static string NameOf(ITypeInfo info)
    {
        info.GetDocumentation(-1, out string name, out _, out _, out _);
        return name;
    }

    private static TYPEATTR Attributes(ITypeInfo info)
    {
        info.GetTypeAttr(out IntPtr p);
        try { return Marshal.PtrToStructure<TYPEATTR>(p); }
        finally { info.ReleaseTypeAttr(p); }
    }

    // The vtable interface of the class's default one (a dual interface's
    // dispatch description lists the inherited methods too).
    private static ITypeInfo DefaultInterface(ITypeInfo coclass)
    {
        TYPEATTR attr = Attributes(coclass);
        for (int j = 0; j < attr.cImplTypes; j++)
        {
            coclass.GetImplTypeFlags(j, out IMPLTYPEFLAGS flags);
            if ((flags & IMPLTYPEFLAGS.IMPLTYPEFLAG_FDEFAULT) == 0 || (flags & IMPLTYPEFLAGS.IMPLTYPEFLAG_FSOURCE) != 0)
                continue;
            coclass.GetRefTypeOfImplType(j, out int handle);
            coclass.GetRefTypeInfo(handle, out ITypeInfo face);
            if (Attributes(face).typekind == TYPEKIND.TKIND_DISPATCH)
            {
                face.GetRefTypeOfImplType(-1, out int vtable);
                face.GetRefTypeInfo(vtable, out face);
            }
            return face;
        }
        throw new InvalidOperationException(NameOf(coclass) + " has no default interface");
    }

    private static ITypeInfo Base(ITypeInfo face)
    {
        if (Attributes(face).cImplTypes == 0)
            return null;
        face.GetRefTypeOfImplType(0, out int handle);
        face.GetRefTypeInfo(handle, out ITypeInfo parent);
        return parent;
    }

    private static Method MethodOf(ITypeInfo face, int index, string faceName)
    {
        face.GetFuncDesc(index, out IntPtr p);
        try
        {
            FUNCDESC desc = Marshal.PtrToStructure<FUNCDESC>(p);
            var names = new string[desc.cParams + 1];
            face.GetNames(desc.memid, names, names.Length, out int count);
            string result = "void";
            var parameters = new List<string>();
            int size = Marshal.SizeOf<ELEMDESC>();
            for (int k = 0; k < desc.cParams; k++)
            {
                ELEMDESC e = Marshal.PtrToStructure<ELEMDESC>(desc.lprgelemdescParam + k * size);
                string type = TypeName(e.tdesc);
                if ((e.desc.paramdesc.wParamFlags & (PARAMFLAG)ParamFlagRetval) != 0)
                    result = type;
                else
                    parameters.Add(type + " " + (k + 1 < count ? names[k + 1] : "?"));
            }
            return new Method
            {
                Interface = faceName,
                Name = names[0],
                Definition = result + " " + names[0] + " (" + string.Join(", ", parameters) + ")",
            };
        }
        finally { face.ReleaseFuncDesc(p); }
    }

    // As PowerShell names a parameter's type; a reference, as its target.
    private static string TypeName(TYPEDESC t)
    {
        while ((VarEnum)t.vt == VarEnum.VT_PTR)
            t = Marshal.PtrToStructure<TYPEDESC>(t.lpValue);
        switch ((VarEnum)t.vt)
        {
        case VarEnum.VT_I2: return "short";
        case VarEnum.VT_I4: return "int";
        case VarEnum.VT_R8: return "double";
        case VarEnum.VT_BSTR: return "string";
        case VarEnum.VT_BOOL: return "bool";
        case VarEnum.VT_VARIANT: return "Variant";
        default: return "VT" + t.vt;
        }
    }
}

public static class ProcessFigures
{
    [DllImport("kernel32.dll")] private static extern IntPtr CreateEventW(IntPtr security, bool manual, bool initial, IntPtr name);
    [DllImport("kernel32.dll")] private static extern bool CloseHandle(IntPtr handle);
    [DllImport("Tarnwick.dll")] public static extern int DllCanUnloadNow();

    // Handles are handed out lowest free slot first: leaked ones push the
    // next one up. (Wine's GetProcessHandleCount gives 0.)
    public static long NextHandle()
    {
        IntPtr probe = CreateEventW(IntPtr.Zero, false, false, IntPtr.Zero);
        CloseHandle(probe);
        return probe.ToInt64();
    }
}
'@

$key = 'Software\Tarnwick\PowerShellMustSee'
$programKey = 'Software\Microsoft\Windows\CurrentVersion\Uninstall\TarnwickMustSee'
$reg = New-Object -ComObject TarnwickDLL.Registry
$info = New-Object -ComObject TarnwickDLL.WindowsInfo
$dll = @((Get-Process -Id $PID).Modules | Where-Object ModuleName -eq 'Tarnwick.dll' | ForEach-Object FileName)
Check 'Tarnwick.dll is loaded into the shell' ($dll.Count -eq 1) ($dll -join ', ')

# Get-Member: the methods of each class's three interfaces, named and typed
# as the type library has them, and no other member.
$classes = [TypeLibrary]::Read($dll[0])
Check 'the type library has the four classes' ((@($classes.Name | Sort-Object) -join ',') -eq 'Reboot,Registry,Time,WindowsInfo') ($classes.Name -join ',')
foreach ($class in $classes) {
    $object = New-Object -ComObject "TarnwickDLL.$($class.Name)"
    $members = @($object | Get-Member)
    $shown = @{}
    foreach ($m in $members) { $shown[$m.Name] = "$($m.MemberType) $($m.Definition)" }
    $declared = @{}
    foreach ($m in $class.Methods) { $declared[$m.Name] = "Method $($m.Definition)" }
    $wrong = @($declared.Keys | Where-Object { $shown[$_] -ne $declared[$_] } | ForEach-Object { "$_ declared ""$($declared[$_])"", shown ""$($shown[$_])""" })
    $extra = @($shown.Keys | Where-Object { -not $declared.ContainsKey($_) } | ForEach-Object { $shown[$_] })
    Check ("Get-Member on {0} lists its {1} methods of {2} as declared, nothing else" -f $class.Name, $class.Methods.Count, ($class.Interfaces -join ', ')) `
        ($class.Interfaces.Count -eq 3 -and $class.Methods.Count -gt 0 -and $wrong.Count -eq 0 -and $extra.Count -eq 0 -and $members.Count -eq $class.Methods.Count) `
        ("interfaces: $($class.Interfaces -join ', '); differ: $($wrong -join '; '); not declared: $($extra -join '; ')")
}

# Arrays: object[], the items of RegFind and GetInstalledPrograms object[]
# themselves; an empty list an empty object[].
$null = $reg.RegDeleteKey('HKCU', $key, $true)
$null = $reg.RegWriteValue('HKCU', "$key\One", 'List', @('alpha', 'beta'))
$null = $reg.RegWriteValue('HKCU', "$key\Two", 'Note', 'found.txt')
$null = $reg.RegWriteValue('HKLM', $programKey, 'DisplayName', 'Tarnwick Must See')
$null = $reg.RegWriteValue('HKLM', $programKey, 'DisplayVersion', '1.0')
$keys = $reg.RegEnumKeys('HKCU', $key)
Check 'RegEnumKeys gives an object[] of the names' ($keys -is [object[]] -and ($keys -join ',') -eq 'One,Two') "$($keys.GetType().FullName) $($keys -join ',')"
$list = $reg.RegReadValue('HKCU', "$key\One", 'List')
Check 'RegReadValue of a REG_MULTI_SZ gives an object[] of strings' ($list -is [object[]] -and $list[1] -is [string] -and ($list -join ',') -eq 'alpha,beta') "$($list.GetType().FullName) $($list -join ',')"
$found = $reg.RegFind('HKCU', $key, '*.txt', 'Data')
Check 'RegFind gives an object[] of object[] matches' `
    ($found -is [object[]] -and $found.Count -eq 1 -and $found[0] -is [object[]] -and ($found[0] -join '|') -eq "$key\Two|Note|Data") `
    "$($found.GetType().FullName) of $(@($found | ForEach-Object { "$($_.GetType().FullName) $($_ -join '|')" }) -join '; ')"
$programs = $info.GetInstalledPrograms('Machine64')
$ours = @($programs | Where-Object { $_[0] -eq 'Tarnwick Must See' })
Check 'GetInstalledPrograms gives an object[] of object[] programs of six strings' `
    ($programs -is [object[]] -and $ours.Count -eq 1 -and $ours[0] -is [object[]] -and $ours[0].Count -eq 6 -and $ours[0][1] -eq '1.0' -and $ours[0][5] -eq 'Machine64') `
    "$($programs.GetType().FullName) of $(@($programs | ForEach-Object { "$($_.GetType().FullName) $($_ -join '|')" }) -join '; ')"
$reasons = (New-Object -ComObject TarnwickDLL.Reboot).GetRebootPending()
Check 'GetRebootPending with no reason gives an empty object[]' ($reasons -is [object[]] -and $reasons.Count -eq 0) "$(if ($null -eq $reasons) { 'null' } else { "$($reasons.GetType().FullName) of $($reasons.Count)" })"

# By reference: a [ref] of the parameter's type comes back changed.
$status = [ref]0
$created = $reg.CreateRegKey(0x80000001, "$key\Three", $status)
$first = $status.Value
$null = $reg.CreateRegKey(0x80000001, "$key\Three", $status)
Check 'CreateRegKey sets a [ref] KeyStatus: 1 created, then 2 there already' ($created -and $first -eq 1 -and $status.Value -eq 2) "$created, $first, $($status.Value)"
$data = [ref]'before'
$ok = $reg.QueryRegValue(0x80000001, "$key\Two", 'Note', $data)
Check 'QueryRegValue puts the value into a [ref] strData' ($ok -and $data.Value -eq 'found.txt') "$ok, $($data.Value)"
$path = [ref]'"C:\Program Files\App\app.exe" -url "%1"'
$info.GetLocation($path)
Check 'GetLocation rewrites a [ref] strPath to the program' ($path.Value -eq 'C:\Program Files\App\app.exe') $path.Value

# Optional arguments left out: View, Recursive, Format, Scope.
Check 'RegReadValue without View reads the process''s own view' (($reg.RegReadValue('HKCU', "$key\Two", 'Note')) -eq 'found.txt') ''
$kept = $reg.RegDeleteKey('HKCU', $key)
Check 'RegDeleteKey without Recursive leaves a key with subkeys' (-not $kept -and $reg.RegKeyExists('HKCU', $key)) $kept
$name = $info.GetComputerName()
Check 'GetComputerName without Format is the NetBIOS name' ($name -ne '' -and $name -eq $info.GetComputerName('NetBIOS')) $name
$all = @($info.GetInstalledPrograms() | Where-Object { $_[0] -eq 'Tarnwick Must See' })
Check 'GetInstalledPrograms without Scope lists the machine''s programs too' ($all.Count -eq 1) $all.Count

# The empty text, which a missing value reads as, is an empty string.
$empty = 'no result'
try { $empty = $reg.RegReadString('HKCU', $key, 'Missing') } catch { $empty = "$($_.Exception.GetType().Name): $($_.Exception.Message)" }
Check 'RegReadString of a missing value gives an empty string' ($empty -is [string] -and $empty -eq '') $empty

# Run-time errors: the COMException that PowerShell raises carries the
# library's description and 0x800A0000 + the number; .NET makes error 6
# (0x800A0006) its own OverflowException, with its own HResult.
function Get-Failure([scriptblock] $call) {
    try { $null = & $call; 'no exception' }
    catch { $e = $_.Exception; '{0} 0x{1:X8} {2}' -f $e.GetType().Name, $e.HResult, $e.Message }
}
$bad = Join-Path ([IO.Path]::GetTempPath()) 'tarnwick-must-see.reg'
Set-Content -LiteralPath $bad -Value "Windows Registry Editor Version 5.00`r`n`r`nnot an entry" -Encoding unicode
foreach ($case in @(
        @{ Call = { $reg.RegReadValue('Bogus', $key, 'x') }; Want = 'COMException 0x800A0005 Invalid procedure call or argument' }
        @{ Call = { $reg.RegWriteValue('HKCU', $key, 'x', 'abc', 'REG_DWORD') }; Want = 'COMException 0x800A000D Type mismatch' }
        @{ Call = { $reg.RegWriteValue('HKCU', $key, 'x', 5000000000, 'REG_DWORD') }; Want = 'OverflowException 0x80131516 Overflow' }
        @{ Call = { $reg.RegImportFile($bad) }; Want = 'COMException 0x800A0005 Line 3 of the file is not a registration entry' })) {
    $got = Get-Failure $case.Call
    Check "a failing call raises $($case.Want)" ($got -ceq $case.Want) $got
}
Remove-Item -LiteralPath $bad

$null = $reg.RegDeleteKey('HKCU', $key, $true)
$null = $reg.RegDeleteKey('HKLM', $programKey, $true)

# Released with the variable: while an object lives the library cannot
# unload; once every variable is gone and the collector has run, it can.
function Clear-Objects { [GC]::Collect(); [GC]::WaitForPendingFinalizers(); [GC]::Collect() }
function Get-Figures {
    Clear-Objects
    $p = [Diagnostics.Process]::GetCurrentProcess()
    [pscustomobject]@{
        # PagefileUsage, the committed private bytes (Wine leaves PrivateUsage 0).
        Private = $p.PagedMemorySize64
        Next    = [ProcessFigures]::NextHandle()
    }
}
function New-Objects([int] $count) {
    for ($i = 0; $i -lt $count; $i++) {
        $object = New-Object -ComObject TarnwickDLL.Registry
        $null = $object.RegKeyExists('HKCU', 'Software')
    }
}
$reg = $null
$info = $null
$object = $null
Clear-Objects
$idle = [ProcessFigures]::DllCanUnloadNow()
$clock = New-Object -ComObject TarnwickDLL.Time
$held = [ProcessFigures]::DllCanUnloadNow()
$clock = $null
Clear-Objects
$dropped = [ProcessFigures]::DllCanUnloadNow()
Check 'DllCanUnloadNow: S_OK, S_FALSE while a variable holds an object, S_OK once it is gone' ($idle -eq 0 -and $held -eq 1 -and $dropped -eq 0) "$idle, $held, $dropped"

# 10,000 objects, each made, called once and dropped, after a warm-up:
# the same handles, and committed memory within 512 KiB (52 bytes an
# object; an object the library kept would cost more than that, and one
# that the shell kept would keep the library from unloading).
New-Objects 1000
$before = Get-Figures
$watch = [Diagnostics.Stopwatch]::StartNew()
New-Objects 10000
$seconds = $watch.Elapsed.TotalSeconds
$after = Get-Figures
$unload = [ProcessFigures]::DllCanUnloadNow()
Write-Output ("10,000 objects in {0:F1} s; private bytes {1} before, {2} after ({3:+#;-#;0}); next handle 0x{4:X} before, 0x{5:X} after" -f
    $seconds, $before.Private, $after.Private, ($after.Private - $before.Private), $before.Next, $after.Next)
Check 'after 10,000 objects the library can unload: every one was released' ($unload -eq 0) $unload
Check 'after 10,000 objects the next handle is as it was (4 slots allowed)' ($before.Next -gt 0 -and $after.Next -le $before.Next + 16) ('0x{0:X} -> 0x{1:X}' -f $before.Next, $after.Next)
Check 'after 10,000 objects the private bytes grew by 512 KiB at most' ($before.Private -gt 0 -and $after.Private -le $before.Private + 512KB) "$($before.Private) -> $($after.Private)"

Write-Output 'must-see: done'
if ($script:failed -gt 0) { exit 1 }
exit 0
