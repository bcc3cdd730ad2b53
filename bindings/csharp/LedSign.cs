// LedSign.cs: the C# binding of the ledsign library (libledsign.so / ledsign.dll), one handle per sign.
//
// Add this one file to a project (.NET Framework 4.5+, .NET Core / .NET 5+, or Mono; C# 6).
// The library is found by the name "ledsign": ledsign.dll on Windows (the x86/ or x64/ one matching
// the process), libledsign.so on Linux (the .deb and `cmake --install` put it in the library path;
// the build tree has it beside libledsign.so.1).
//
//     using (var entrance = LedSign.Open("elvane", "/dev/serial/by-id/usb-FTDI_...-if00-port0"))
//     using (var exit = LedSign.Open("brava", "ttyUSB1", "2400,8,NONE,1"))
//     {
//         entrance.Write("欢迎光临#Welcome");   // a string goes out as GBK, converted by the library
//         exit.Write(new byte[] { 0xB3, 0xF6, 0xBF, 0xDA });   // GBK bytes as they are
//     }
//
// Every failure throws, carrying the library's reason text: LedSignOpenException (the port could
// not be opened), LedSignSettingsException (the line refused the settings), LedSignWriteException
// (a write failed), ArgumentException (a bad argument: unknown model, malformed settings, text GBK
// cannot show; nothing was sent). One sign is used by one thread at a time; different signs may be
// used on different threads at once.

using System;
using System.Collections.Generic;
using System.Runtime.ExceptionServices;
using System.Runtime.InteropServices;
using System.Text;
using Microsoft.Win32.SafeHandles;

namespace LedSigns
{
    /// <summary>A failure the library reported; <see cref="Reason"/> is its text.</summary>
    public class LedSignException : Exception
    {
        public LedSignException(int result, string reason)
            : base(reason)
        {
            Result = result;
            Reason = reason;
        }

        /// <summary>The library's result: -1 or -2.</summary>
        public int Result { get; private set; }

        /// <summary>Why, in the library's words ("/dev/ttyUSB0 lost: write: Input/output error (5)").</summary>
        public string Reason { get; private set; }
    }

    /// <summary>The port could not be opened: missing, in use, no permission (-1).</summary>
    public class LedSignOpenException : LedSignException
    {
        public LedSignOpenException(string reason) : base(LedSign.Failed, reason) { }
    }

    /// <summary>The line refused the settings, e.g. a speed it has no setting for (-2).</summary>
    public class LedSignSettingsException : LedSignException
    {
        public LedSignSettingsException(string reason) : base(LedSign.Refused, reason) { }
    }

    /// <summary>A write or clear failed: the line stalled or was lost (-1). The sign stays open.</summary>
    public class LedSignWriteException : LedSignException
    {
        public LedSignWriteException(string reason) : base(LedSign.Failed, reason) { }
    }

    /// <summary>What a model's plug-in reports through GetLEDAtt.</summary>
    public sealed class LedSignAttributes
    {
        public string Model { get; internal set; }
        /// <summary>Dot-matrix height: 32, 24 or 16.</summary>
        public int Dots { get; internal set; }
        /// <summary>Row capacity in single-byte characters (guidance: text is not cut to it).</summary>
        public int RowChars { get; internal set; }
        /// <summary>Row capacity in double-byte (GBK) characters.</summary>
        public int RowWideChars { get; internal set; }
        public bool TwoRows { get; internal set; }
        /// <summary>The settings the sign reports, e.g. "4800,8,NONE,2": what Open uses without settings.</summary>
        public string CommText { get; internal set; }
        /// <summary>The vendor label as GBK bytes (no terminating NUL).</summary>
        public byte[] VendorGbk { get; internal set; }
    }

    /// <summary>The library's handle of one open sign; closing it releases the port.</summary>
    public sealed class LedSignHandle : SafeHandleZeroOrMinusOneIsInvalid
    {
        public LedSignHandle() : base(true) { }

        // The sign's trace callback: held as long as the handle, so the library never calls a
        // collected delegate, not even while the handle is released by a finalizer.
        internal Delegate TraceCallback;

        protected override bool ReleaseHandle()
        {
            LedSign.NativeMethods.ledsign_close(handle);
            return true;
        }
    }

    /// <summary>One open sign.</summary>
    public sealed class LedSign : IDisposable
    {
        internal const int Ok = 1;
        internal const int Failed = -1;
        internal const int Refused = -2;
        internal const int BadArgument = -3;

        // Strict: a lone surrogate in a string throws instead of becoming U+FFFD.
        private static readonly UTF8Encoding Utf8 = new UTF8Encoding(false, true);

        private readonly LedSignHandle handle;
        private readonly string model;
        private readonly string port;
        private Action<string> trace;
        private Exception traceFailure;

        private LedSign(LedSignHandle handle, string model, string port)
        {
            this.handle = handle;
            this.model = model;
            this.port = port;
        }

        public string Model { get { return model; } }
        public string Port { get { return port; } }

        /// <summary>
        /// Opens <paramref name="port"/> for a sign of <paramref name="model"/> ("brava", "dorun", "cresto",
        /// "elvane"). Port: any length; on Linux a path, a name under /dev/ ("ttyUSB0") or "COMn"; on Windows
        /// "COMn" or "\\.\COMn". Settings: "BAUD,DATA,PARITY,STOP" ("9600,8,NONE,1"), or null for the
        /// settings the sign reports.
        /// </summary>
        public static LedSign Open(string model, string port, string settings = null)
        {
            if (model == null) throw new ArgumentNullException("model");
            if (port == null) throw new ArgumentNullException("port");
            LedSignHandle sign;
            int result = NativeMethods.ledsign_open(ToUtf8z(model, "model"), ToUtf8z(port, "port"),
                                                    settings == null ? null : ToUtf8z(settings, "settings"), out sign);
            if (result == Ok && sign != null && !sign.IsInvalid) return new LedSign(sign, model, port);
            // Read on this thread before anything else calls ledsign_open here.
            string reason = FromUtf8z(NativeMethods.ledsign_last_error(IntPtr.Zero));
            if (sign != null) sign.Dispose();
            switch (result)
            {
                case Failed: throw new LedSignOpenException(reason);
                case Refused: throw new LedSignSettingsException(reason);
                case BadArgument: throw new ArgumentException(reason);
                default: throw new LedSignException(result, reason == "" ? "ledsign_open gave " + result : reason);
            }
        }

        /// <summary>Shows text, sent as GBK; '#' separates row 1 from row 2 on two-row signs.</summary>
        /// <exception cref="ArgumentException">A character GBK lacks (an emoji), a NUL, or more than
        /// 4095 bytes of GBK: nothing was sent.</exception>
        public void Write(string text)
        {
            if (text == null) throw new ArgumentNullException("text");
            byte[] bytes = ToUtf8z(text, "text");
            Check(Call(() => NativeMethods.ledsign_write_utf8(handle, bytes)));
        }

        /// <summary>Shows GBK bytes as they are, as Write2Led takes them (without a terminating NUL).</summary>
        public void Write(byte[] gbk)
        {
            if (gbk == null) throw new ArgumentNullException("gbk");
            if (Array.IndexOf(gbk, (byte)0) >= 0)
                throw new ArgumentException("text holds a NUL byte, which would end it there", "gbk");
            byte[] bytes = new byte[gbk.Length + 1];
            Buffer.BlockCopy(gbk, 0, bytes, 0, gbk.Length);
            Check(Call(() => NativeMethods.ledsign_write(handle, bytes)));
        }

        /// <summary>Blanks the sign.</summary>
        public void Clear()
        {
            Check(Call(() => NativeMethods.ledsign_clear(handle)));
        }

        /// <summary>
        /// Receives each trace line of the sign (writes with their bytes, pauses, a lost line and its
        /// comeback) on the thread that calls the sign; null for none. An exception thrown by it is
        /// thrown again by the call that produced the line, after that call has finished.
        /// </summary>
        public Action<string> Trace
        {
            get { return trace; }
            set
            {
                ThrowIfDisposed();
                NativeMethods.TraceCallback callback = null;
                if (value != null) callback = OnTraceLine;
                int result = NativeMethods.ledsign_set_trace(handle, callback, IntPtr.Zero);
                if (result != Ok) throw new ArgumentException(LastError());
                trace = value;
                handle.TraceCallback = callback;
            }
        }

        /// <summary>Releases the port; the sign can be opened again at once.</summary>
        public void Dispose()
        {
            handle.Dispose();
        }

        /// <summary>The models the library knows.</summary>
        public static IList<string> Models
        {
            get
            {
                int count = NativeMethods.ledsign_model_count();
                var names = new List<string>(count);
                for (int index = 0; index < count; ++index)
                    names.Add(FromUtf8z(NativeMethods.ledsign_model_name(index)));
                return names.AsReadOnly();
            }
        }

        /// <summary>What the model's plug-in reports (GetLEDAtt), without opening anything.</summary>
        public static LedSignAttributes Attributes(string model)
        {
            if (model == null) throw new ArgumentNullException("model");
            // LEDAtt: byte-packed, 1168 bytes; the library writes the fields below.
            var record = new byte[1168];
            if (NativeMethods.ledsign_model_attributes(ToUtf8z(model, "model"), record) != Ok)
                throw new ArgumentException("unknown model \"" + model + "\"", "model");
            return new LedSignAttributes
            {
                Model = model,
                Dots = BitConverter.ToInt32(record, 0),
                RowChars = BitConverter.ToInt32(record, 4),
                RowWideChars = BitConverter.ToInt32(record, 8),
                TwoRows = BitConverter.ToInt32(record, 12) != 0,
                CommText = Encoding.ASCII.GetString(Field(record, 16, 128)),
                VendorGbk = Field(record, 144, 512),
            };
        }

        private static byte[] Field(byte[] record, int offset, int size)
        {
            int length = Array.IndexOf(record, (byte)0, offset, size);
            if (length < 0) length = size; else length -= offset;
            var field = new byte[length];
            Buffer.BlockCopy(record, offset, field, 0, length);
            return field;
        }

        private int Call(Func<int> call)
        {
            ThrowIfDisposed();
            traceFailure = null;
            int result = call();
            Exception failure = traceFailure;
            traceFailure = null;
            if (failure != null) ExceptionDispatchInfo.Capture(failure).Throw();
            return result;
        }

        private void Check(int result)
        {
            if (result == Ok) return;
            string reason = LastError();
            switch (result)
            {
                case Failed: throw new LedSignWriteException(reason);
                case BadArgument: throw new ArgumentException(reason);
                default: throw new LedSignException(result, reason);
            }
        }

        private string LastError()
        {
            return FromUtf8z(NativeMethods.ledsign_last_error(handle));
        }

        private void ThrowIfDisposed()
        {
            if (handle.IsClosed) throw new ObjectDisposedException("LedSign", "the sign on " + port + " is closed");
        }

        // Runs on the calling thread inside a library call: nothing may be thrown back into it.
        private void OnTraceLine(IntPtr context, IntPtr line)
        {
            try
            {
                Action<string> receiver = trace;
                if (receiver != null) receiver(FromUtf8z(line));
            }
            catch (Exception failure)
            {
                if (traceFailure == null) traceFailure = failure;
            }
        }

        private static byte[] ToUtf8z(string text, string name)
        {
            if (text.IndexOf('\0') >= 0)
                throw new ArgumentException(name + " holds a NUL character, which would end it there", name);
            byte[] bytes;
            try
            {
                bytes = Utf8.GetBytes(text);
            }
            catch (EncoderFallbackException failure)
            {
                throw new ArgumentException(name + " holds a lone surrogate: " + failure.Message, name, failure);
            }
            Array.Resize(ref bytes, bytes.Length + 1);  // the terminating NUL
            return bytes;
        }

        private static string FromUtf8z(IntPtr text)
        {
            if (text == IntPtr.Zero) return "";
            int length = 0;
            while (Marshal.ReadByte(text, length) != 0) ++length;
            var bytes = new byte[length];
            Marshal.Copy(text, bytes, 0, length);
            return Encoding.UTF8.GetString(bytes);
        }

        // Every import is cdecl, as ledsign_lib.h declares them (on 32-bit Windows the default,
        // stdcall, would unbalance the stack). Texts go in as NUL-terminated UTF-8 byte arrays.
        internal static class NativeMethods
        {
            private const string Library = "ledsign";

            [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
            internal delegate void TraceCallback(IntPtr context, IntPtr line);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            internal static extern int ledsign_open(byte[] model, byte[] port, byte[] settings, out LedSignHandle sign);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            internal static extern int ledsign_write(LedSignHandle sign, byte[] text);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            internal static extern int ledsign_write_utf8(LedSignHandle sign, byte[] text);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            internal static extern int ledsign_clear(LedSignHandle sign);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            internal static extern void ledsign_close(IntPtr sign);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            internal static extern IntPtr ledsign_last_error(LedSignHandle sign);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            internal static extern IntPtr ledsign_last_error(IntPtr sign);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            internal static extern int ledsign_model_count();

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            internal static extern IntPtr ledsign_model_name(int index);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            internal static extern int ledsign_model_attributes(byte[] model, [In, Out] byte[] attributes);

            [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
            internal static extern int ledsign_set_trace(LedSignHandle sign, TraceCallback callback, IntPtr context);
        }
    }
}
