// A pseudo-terminal standing in for a sign's serial line, and the checks the C# test programs share.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Runtime.InteropServices;

sealed class Pty : IDisposable
{
    public readonly string SlavePath;  // /dev/pts/N
    private readonly int master;
    private readonly int heldSlave;    // held open so the master never reports a hang-up between opens

    public Pty()
    {
        master = posix_openpt(ORdwr | ONoctty);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) throw new Exception("no pty");
        SlavePath = Marshal.PtrToStringAnsi(ptsname(master));
        heldSlave = open(SlavePath, ORdwr | ONoctty);
        if (heldSlave < 0) throw new Exception("cannot open " + SlavePath);
    }

    // What arrives until `count` bytes are in (or 3 s pass), and then until the line is quiet for `quietMs`.
    public byte[] Read(int count, int quietMs = 100)
    {
        var received = new List<byte>();
        var clock = Stopwatch.StartNew();
        var buffer = new byte[4096];
        while (true)
        {
            int wait = received.Count < count ? (int)Math.Max(0, 3000 - clock.ElapsedMilliseconds) : quietMs;
            var poll = new PollFd { Fd = master, Events = PollIn };
            if (wait == 0 || Poll(ref poll, (UIntPtr)1, wait) <= 0) return received.ToArray();
            long got = (long)read(master, buffer, (IntPtr)buffer.Length);
            if (got <= 0) return received.ToArray();
            received.AddRange(buffer.Take((int)got));
        }
    }

    public void Dispose()
    {
        close(heldSlave);
        close(master);
    }

    public static string Hex(IEnumerable<byte> bytes)
    {
        return string.Join(" ", bytes.Select(b => b.ToString("X2")));
    }

    public static byte[] Bytes(params int[] values)
    {
        return values.Select(v => (byte)v).ToArray();
    }

    // A symbolic link `name` to this pty's slave; false when the name is taken.
    public bool LinkAs(string name)
    {
        return symlink(SlavePath, name) == 0;
    }

    [StructLayout(LayoutKind.Sequential)]
    private struct PollFd
    {
        public int Fd;
        public short Events;
        public short Revents;
    }

    private const int ORdwr = 2, ONoctty = 0x100;
    private const short PollIn = 1;
    private const string Libc = "libc.so.6";
    [DllImport(Libc)] private static extern int posix_openpt(int flags);
    [DllImport(Libc)] private static extern int grantpt(int fd);
    [DllImport(Libc)] private static extern int unlockpt(int fd);
    [DllImport(Libc)] private static extern IntPtr ptsname(int fd);
    [DllImport(Libc)] private static extern int open(string path, int flags);
    [DllImport(Libc)] private static extern int close(int fd);
    [DllImport(Libc, EntryPoint = "poll")] private static extern int Poll(ref PollFd fds, UIntPtr count, int timeoutMs);
    [DllImport(Libc)] private static extern IntPtr read(int fd, byte[] buffer, IntPtr count);
    [DllImport(Libc)] private static extern int symlink(string target, string link);
    [DllImport(Libc)] public static extern int unlink(string path);
}

static class Check
{
    public static int Failures;

    public static void That(bool condition, string what)
    {
        if (condition) return;
        ++Failures;
        Console.WriteLine("FAILED: " + what);
    }

    public static void Bytes(byte[] actual, byte[] expected, string what)
    {
        That(actual.SequenceEqual(expected), what + ": got " + Pty.Hex(actual) + ", expected " + Pty.Hex(expected));
    }

    // The exception `action` throws, checked to be a T; null (and a failure) when it throws none or another.
    public static T Throws<T>(Action action, string what) where T : Exception
    {
        try
        {
            action();
        }
        catch (Exception thrown)
        {
            That(thrown is T, what + ": threw " + thrown.GetType().Name + " (" + thrown.Message + "), expected " + typeof(T).Name);
            return thrown as T;
        }
        That(false, what + ": threw nothing, expected " + typeof(T).Name);
        return null;
    }

    // Runs one group of cases; an exception it did not expect fails the group, not the program.
    public static void Group(string name, Action cases)
    {
        int before = Failures;
        try
        {
            cases();
        }
        catch (Exception unexpected)
        {
            That(false, name + ": " + unexpected);
        }
        Console.WriteLine((Failures == before ? "ok      " : "FAILED  ") + name);
    }
}
