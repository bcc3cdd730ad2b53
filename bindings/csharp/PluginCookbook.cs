// PluginCookbook.cs: C# declarations for the nine-export LED-sign plug-ins (BRAVAX.DLL, Dorun.DLL,
// CRESTO.DLL, ELVANE.DLL; libbrava.so ... on Linux), for hosts that load a plug-in by path as the
// display host does. Hosts of several signs, long port names or UTF-8 text use LedSign.cs instead.
//
// What these declarations get right, and a hand-written P/Invoke often does not:
// - cdecl on every function (on 32-bit Windows, .NET's default stdcall unbalances the stack);
// - PortSettings byte-packed (42 bytes) with the port name as a 10-byte array: a name over 9 bytes
//   throws here, where ByValTStr SizeConst=10 would cut it to 9 and open a different device;
// - text as NUL-terminated GBK bytes (code page 936), never a marshalled string: a C# string would go
//   out as UTF-8 or UTF-16 and the sign would show mojibake while Write2Led returns 1;
// - every result checked: a failure throws PluginException with the result.
//
// One loaded plug-in drives one sign: the system loads a library file once per process, so loading
// ELVANE.DLL again gives the same driver object and the same port. Load refuses that. One sign of
// each model fits in one process this way; several signs of one model take the ledsign library.
//
// Code page 936: .NET Framework has it built in; .NET Core / .NET 5+ need CodePagesEncodingProvider
// registered (done below through reflection, so this file compiles everywhere); Mono needs its I18N
// assemblies (Debian: mono-runtime with libmono-i18n-cjk4.0-cil; Mono's Windows installer has them).

using System;
using System.Collections.Generic;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;

namespace LedSignPlugins
{
    /// <summary>InitLed's record: 42 bytes, byte-packed. Made only by the constructor, which checks it.</summary>
    [StructLayout(LayoutKind.Sequential, Pack = 1)]
    public struct PortSettings
    {
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 10)]
        private byte[] portName;    // NUL-terminated, at most 9 bytes
        private int baudRate;
        private int dataBits;
        private int stopBits;       // 2: two stop bits; anything else one
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 20)]
        private byte[] parityWord;  // NUL-terminated

        private static readonly string[] ParityWords = { "NONE", "none", "None", "EVEN", "even", "ODD", "odd" };

        /// <param name="port">"COM3"; on Linux "ttyUSB0" (under /dev/) or an absolute path; at most 9 bytes.</param>
        /// <param name="parity">"NONE", "EVEN" or "ODD" (or all small letters).</param>
        /// <exception cref="ArgumentException">A port name over 9 bytes (never cut), empty or holding a NUL;
        /// a parity word the plug-ins do not take (they would silently use no parity).</exception>
        public PortSettings(string port, int baudRate, int dataBits = 8, string parity = "NONE", int stopBits = 1)
        {
            if (port == null) throw new ArgumentNullException("port");
            if (parity == null) throw new ArgumentNullException("parity");
            byte[] name = Encoding.UTF8.GetBytes(port);
            if (name.Length == 0 || name.Length > 9 || Array.IndexOf(name, (byte)0) >= 0)
                throw new ArgumentException("port name \"" + port + "\" is " + name.Length +
                                            " bytes; a plug-in takes 1 to 9 (use the ledsign library for longer names)", "port");
            if (Array.IndexOf(ParityWords, parity) < 0)
                throw new ArgumentException("parity \"" + parity + "\" is not NONE, EVEN or ODD", "parity");
            portName = new byte[10];
            Buffer.BlockCopy(name, 0, portName, 0, name.Length);
            parityWord = new byte[20];
            Encoding.ASCII.GetBytes(parity, 0, parity.Length, parityWord, 0);
            this.baudRate = baudRate;
            this.dataBits = dataBits;
            this.stopBits = stopBits;
        }

        public string Port { get { return Terminated(portName, Encoding.UTF8); } }
        public int BaudRate { get { return baudRate; } }
        public int DataBits { get { return dataBits; } }
        public int StopBits { get { return stopBits; } }
        public string Parity { get { return Terminated(parityWord, Encoding.ASCII); } }

        internal static string Terminated(byte[] field, Encoding encoding)
        {
            if (field == null) return "";
            int length = Array.IndexOf(field, (byte)0);
            return encoding.GetString(field, 0, length < 0 ? field.Length : length);
        }
    }

    /// <summary>GetLEDAtt's record: 1168 bytes, byte-packed; the plug-in writes the fields it has.</summary>
    [StructLayout(LayoutKind.Sequential, Pack = 1)]
    public struct LEDAtt
    {
        public int Dots;          // dot-matrix height: 32, 24 or 16
        public int RowChars;      // row capacity in single-byte characters
        public int RowWideChars;  // row capacity in GBK characters
        public int TwoRows;       // 1: two rows
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 128)]
        public byte[] CommText;   // default settings, "2400,8,NONE,1"
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 512)]
        public byte[] Vendor;     // GBK label
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 512)]
        public byte[] VendorCopy;

        public string CommTextString { get { return PortSettings.Terminated(CommText, Encoding.ASCII); } }
        public string VendorString { get { return PortSettings.Terminated(Vendor, Gbk.Encoding); } }
    }

    /// <summary>The nine exports: plain C functions, cdecl, resolved by name.</summary>
    public static class PluginExports
    {
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        public delegate void InitLed(ref PortSettings settings);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        public delegate int OpenLed();
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        public delegate void CloseLed();
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        public delegate int IsLedOpened();
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        public delegate int Write2Led(byte[] gbkText);  // NUL-terminated GBK bytes: Gbk.Bytes(text)
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        public delegate int ClearLed();
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        public delegate void SetShowMode(byte mode);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        public delegate int GetLEDAtt(ref LEDAtt attributes);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        public delegate float GetVer();
    }

    /// <summary>A plug-in call that did not give 1.</summary>
    public class PluginException : Exception
    {
        public PluginException(string function, int result, string message)
            : base(function + " gave " + result + ": " + message)
        {
            Function = function;
            Result = result;
        }

        public string Function { get; private set; }
        public int Result { get; private set; }
    }

    /// <summary>Text as the plug-ins take it: GBK (code page 936) bytes with a terminating NUL.</summary>
    public static class Gbk
    {
        private static Encoding encoding;

        /// <summary>Code page 936 that throws for a character GBK lacks (instead of sending '?').</summary>
        public static Encoding Encoding
        {
            get
            {
                if (encoding != null) return encoding;
                // .NET Core / .NET 5+: code pages come from CodePagesEncodingProvider.
                Type provider = Type.GetType("System.Text.CodePagesEncodingProvider, System.Text.Encoding.CodePages");
                if (provider != null)
                    Encoding.RegisterProvider((EncodingProvider)provider.GetProperty("Instance").GetValue(null, null));
                try
                {
                    encoding = Encoding.GetEncoding(936, EncoderFallback.ExceptionFallback, DecoderFallback.ExceptionFallback);
                }
                catch (Exception missing)
                {
                    throw new NotSupportedException("code page 936 (GBK) is not installed: on Mono install its I18N " +
                                                    "assemblies (Debian: libmono-i18n-cjk4.0-cil)", missing);
                }
                return encoding;
            }
        }

        /// <exception cref="ArgumentException">A character GBK lacks (an emoji), or a NUL that would end the text.</exception>
        public static byte[] Bytes(string text)
        {
            if (text == null) throw new ArgumentNullException("text");
            if (text.IndexOf('\0') >= 0) throw new ArgumentException("text holds a NUL, which would end it there", "text");
            byte[] bytes = Encoding.GetBytes(text);  // EncoderFallbackException (an ArgumentException)
            Array.Resize(ref bytes, bytes.Length + 1);
            return bytes;
        }
    }

    /// <summary>One loaded plug-in: the nine functions, and the calls a host makes with their results checked.</summary>
    public sealed class LedPlugin : IDisposable
    {
        public readonly PluginExports.InitLed InitLed;
        public readonly PluginExports.OpenLed OpenLed;
        public readonly PluginExports.CloseLed CloseLed;
        public readonly PluginExports.IsLedOpened IsLedOpened;
        public readonly PluginExports.Write2Led Write2Led;
        public readonly PluginExports.ClearLed ClearLed;
        public readonly PluginExports.SetShowMode SetShowMode;
        public readonly PluginExports.GetLEDAtt GetLEDAtt;
        public readonly PluginExports.GetVer GetVer;

        private static readonly HashSet<IntPtr> Loaded = new HashSet<IntPtr>();
        private IntPtr module;

        /// <summary>Loads a plug-in by path (a full path, or a name the system's search finds).</summary>
        /// <exception cref="InvalidOperationException">This process has the plug-in loaded already: it
        /// would be the same driver object, driving the same sign.</exception>
        public static LedPlugin Load(string path)
        {
            IntPtr module = NativeLibrary.Open(path);
            lock (Loaded)
            {
                if (!Loaded.Add(module))
                {
                    NativeLibrary.Close(module);
                    throw new InvalidOperationException(path + " is loaded already: one loaded plug-in drives one sign " +
                                                        "(several signs of one model take the ledsign library)");
                }
            }
            try
            {
                return new LedPlugin(module, path);
            }
            catch
            {
                lock (Loaded) Loaded.Remove(module);
                NativeLibrary.Close(module);
                throw;
            }
        }

        private LedPlugin(IntPtr module, string path)
        {
            this.module = module;
            InitLed = Export<PluginExports.InitLed>(path, "InitLed");
            OpenLed = Export<PluginExports.OpenLed>(path, "OpenLed");
            CloseLed = Export<PluginExports.CloseLed>(path, "CloseLed");
            IsLedOpened = Export<PluginExports.IsLedOpened>(path, "IsLedOpened");
            Write2Led = Export<PluginExports.Write2Led>(path, "Write2Led");
            ClearLed = Export<PluginExports.ClearLed>(path, "ClearLed");
            SetShowMode = Export<PluginExports.SetShowMode>(path, "SetShowMode");
            GetLEDAtt = Export<PluginExports.GetLEDAtt>(path, "GetLEDAtt");
            GetVer = Export<PluginExports.GetVer>(path, "GetVer");
        }

        /// <summary>InitLed, then OpenLed: throws PluginException for -1 (no such port, in use) or -2 (settings refused).</summary>
        public void Open(PortSettings settings)
        {
            InitLed(ref settings);
            int result = OpenLed();
            if (result == 1) return;
            throw new PluginException("OpenLed", result, result == -2 ? "the line refused the settings"
                                                                      : "the port " + settings.Port + " could not be opened");
        }

        /// <summary>Shows text as GBK; '#' separates the rows on brava, cresto and elvane.</summary>
        public void Write(string text)
        {
            Write(Gbk.Bytes(text));
        }

        /// <summary>Shows NUL-terminated GBK bytes as they are.</summary>
        public void Write(byte[] gbkText)
        {
            if (gbkText == null || Array.IndexOf(gbkText, (byte)0) < 0)
                throw new ArgumentException("text must end with a NUL byte (Gbk.Bytes adds it)", "gbkText");
            int result = Write2Led(gbkText);
            if (result != 1) throw new PluginException("Write2Led", result, "a write failed (port closed, stalled or lost)");
        }

        public void Clear()
        {
            int result = ClearLed();
            if (result != 1) throw new PluginException("ClearLed", result, "a write failed (port closed, stalled or lost)");
        }

        public LEDAtt Attributes()
        {
            var attributes = new LEDAtt { CommText = new byte[128], Vendor = new byte[512], VendorCopy = new byte[512] };
            int result = GetLEDAtt(ref attributes);
            if (result != 1) throw new PluginException("GetLEDAtt", result, "no attributes");
            return attributes;
        }

        /// <summary>Closes the port if open, then unloads the plug-in.</summary>
        public void Dispose()
        {
            if (module == IntPtr.Zero) return;
            if (IsLedOpened() == 1) CloseLed();
            lock (Loaded) Loaded.Remove(module);
            NativeLibrary.Close(module);
            module = IntPtr.Zero;
        }

        private T Export<T>(string path, string name) where T : class
        {
            IntPtr function = NativeLibrary.Symbol(module, name);
            if (function == IntPtr.Zero) throw new EntryPointNotFoundException(path + " has no " + name + ": not a sign plug-in");
            return (T)(object)Marshal.GetDelegateForFunctionPointer(function, typeof(T));
        }

        // LoadLibrary / dlopen by path, as the display host loads a plug-in; works on .NET Framework,
        // .NET Core and Mono alike (System.Runtime.InteropServices.NativeLibrary is .NET Core 3+ only).
        private static class NativeLibrary
        {
            private static readonly bool Windows = Path.DirectorySeparatorChar == '\\';

            public static IntPtr Open(string path)
            {
                if (path == null) throw new ArgumentNullException("path");
                IntPtr module = Windows ? LoadLibraryW(path) : dlopen(path, RtldNow);
                if (module != IntPtr.Zero) return module;
                string why = Windows ? "error " + Marshal.GetLastWin32Error() : Marshal.PtrToStringAnsi(dlerror());
                throw new DllNotFoundException("cannot load " + path + ": " + why);
            }

            public static IntPtr Symbol(IntPtr module, string name)
            {
                return Windows ? GetProcAddress(module, name) : dlsym(module, name);
            }

            public static void Close(IntPtr module)
            {
                if (Windows) FreeLibrary(module); else dlclose(module);
            }

            private const int RtldNow = 2;

            // The Win32 functions are stdcall (WINAPI): DllImport's default there.
            [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
            private static extern IntPtr LoadLibraryW(string path);
            [DllImport("kernel32", CharSet = CharSet.Ansi, BestFitMapping = false, ExactSpelling = true)]
            private static extern IntPtr GetProcAddress(IntPtr module, string name);
            [DllImport("kernel32")]
            private static extern bool FreeLibrary(IntPtr module);

            // glibc: libdl.so.2 has them on every version (from 2.34 on it forwards to libc).
            [DllImport("libdl.so.2", CallingConvention = CallingConvention.Cdecl)]
            private static extern IntPtr dlopen(string path, int flags);
            [DllImport("libdl.so.2", CallingConvention = CallingConvention.Cdecl)]
            private static extern IntPtr dlsym(IntPtr module, string name);
            [DllImport("libdl.so.2", CallingConvention = CallingConvention.Cdecl)]
            private static extern int dlclose(IntPtr module);
            [DllImport("libdl.so.2", CallingConvention = CallingConvention.Cdecl)]
            private static extern IntPtr dlerror();
        }
    }
}
