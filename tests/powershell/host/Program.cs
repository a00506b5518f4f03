// pwsh for the tests: the SDK's console shell, which takes pwsh's arguments
// (-NoProfile -NonInteractive -File script.ps1 [args]) and returns the
// script's exit code.
using System;
using System.Runtime.InteropServices;
using Microsoft.PowerShell;

internal static class Program
{
    private static int Main(string[] args)
    {
        if (OperatingSystem.IsWindows())
        {
            EnsureConsole();
        }
        return ConsoleShell.Start(null, null, args);
    }

    private const int StdInput = -10, StdOutput = -11, StdError = -12;
    private const uint GenericReadWrite = 0xC0000000, ShareReadWrite = 3, OpenExisting = 3;

    // The console shell needs a screen buffer even when its output goes to
    // files or pipes, and a process that Wine starts with its standard
    // handles redirected has none: it gets a hidden console of its own
    // here, and keeps the standard handles it was given, so that what it
    // writes still goes where the caller sent it.
    private static void EnsureConsole()
    {
        IntPtr screen = CreateFileW("CONOUT$", GenericReadWrite, ShareReadWrite, IntPtr.Zero, OpenExisting, 0, IntPtr.Zero);
        if (screen != new IntPtr(-1))
        {
            CloseHandle(screen);
            return;
        }
        IntPtr input = GetStdHandle(StdInput), output = GetStdHandle(StdOutput), error = GetStdHandle(StdError);
        // Such a process counts as attached to a console all the same, and
        // AllocConsole refuses until it has left that one.
        FreeConsole();
        if (!AllocConsole())
        {
            Console.Error.WriteLine($"pwsh: no console, and AllocConsole failed (error {Marshal.GetLastWin32Error()})");
            return;
        }
        SetStdHandle(StdInput, input);
        SetStdHandle(StdOutput, output);
        SetStdHandle(StdError, error);
    }

    [DllImport("kernel32.dll", CharSet = CharSet.Unicode, SetLastError = true)]
    private static extern IntPtr CreateFileW(string name, uint access, uint share, IntPtr security,
        uint disposition, uint flags, IntPtr template);
    [DllImport("kernel32.dll")]
    private static extern bool CloseHandle(IntPtr handle);
    [DllImport("kernel32.dll")]
    private static extern bool FreeConsole();
    [DllImport("kernel32.dll", SetLastError = true)]
    private static extern bool AllocConsole();
    [DllImport("kernel32.dll")]
    private static extern IntPtr GetStdHandle(int which);
    [DllImport("kernel32.dll")]
    private static extern bool SetStdHandle(int which, IntPtr handle);
}
