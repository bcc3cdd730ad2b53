// The cookbook's declarations (bindings/csharp/PluginCookbook.cs) driving a built plug-in on a pty.
// Argument: the plug-in's path (libelvane.so).
using System;
using System.Runtime.InteropServices;
using LedSignPlugins;

static class PluginCookbookTest
{
    static readonly byte[] ElvaneAbD = Pty.Bytes(0x1B, 0x01, 0x04, 0x41, 0x42, 0x0D, 0x1B, 0x01, 0x05, 0x44, 0x0D);
    static readonly byte[] ElvaneChinese = Pty.Bytes(0x1B, 0x01, 0x04, 0xD6, 0xD0, 0xCE, 0xC4, 0x0D, 0x1B, 0x01, 0x05, 0x4F, 0x4B, 0x0D);

    static int Main(string[] args)
    {
        string elvane = args[0];

        Check.Group("the records' layout", () =>
        {
            Check.That(Marshal.SizeOf(typeof(PortSettings)) == 42, "PortSettings is 42 bytes");
            Check.That((int)Marshal.OffsetOf(typeof(PortSettings), "baudRate") == 10 &&
                       (int)Marshal.OffsetOf(typeof(PortSettings), "dataBits") == 14 &&
                       (int)Marshal.OffsetOf(typeof(PortSettings), "stopBits") == 18 &&
                       (int)Marshal.OffsetOf(typeof(PortSettings), "parityWord") == 22, "PortSettings' offsets");
            Check.That(Marshal.SizeOf(typeof(LEDAtt)) == 1168 && (int)Marshal.OffsetOf(typeof(LEDAtt), "CommText") == 16 &&
                       (int)Marshal.OffsetOf(typeof(LEDAtt), "Vendor") == 144 &&
                       (int)Marshal.OffsetOf(typeof(LEDAtt), "VendorCopy") == 656, "LEDAtt's layout");
        });

        using (LedPlugin plugin = LedPlugin.Load(elvane))
        {
            Check.Group("version and attributes", () =>
            {
                Check.That(plugin.GetVer() == 3.0f, "GetVer: " + plugin.GetVer());
                LEDAtt attributes = plugin.Attributes();
                Check.That(attributes.Dots == 24 && attributes.RowChars == 24 && attributes.RowWideChars == 12 &&
                           attributes.TwoRows == 1, "elvane's figures");
                Check.That(attributes.CommTextString == "4800,8,NONE,2", "settings: " + attributes.CommTextString);
                Check.Bytes(new[] { attributes.Vendor[0], attributes.Vendor[1], attributes.Vendor[2], attributes.Vendor[3],
                                    attributes.Vendor[4] }, Pty.Bytes(0xC9, 0xCF, 0xBA, 0xA3, 0), "vendor");
                Check.That(attributes.VendorString == "上海", "vendor decoded from GBK: " + attributes.VendorString);
            });

            Check.Group("a 9-byte port name opens; a 10-byte one throws, never cut", () =>
            {
                using (var pty = new Pty())
                {
                    // "/tmp/" and four characters: 9 bytes, an absolute path the plug-in uses as it stands.
                    var random = new Random();
                    string nine = null;
                    for (int attempt = 0; attempt < 100 && nine == null; ++attempt)
                    {
                        string name = "/tmp/" + random.Next(0x10000).ToString("x4");
                        if (pty.LinkAs(name)) nine = name;
                    }
                    Check.That(nine != null && nine.Length == 9, "a free 9-byte name");
                    try
                    {
                        // The 10-byte name whose first 9 bytes name the pty: a cut name would open it.
                        Check.Throws<ArgumentException>(() => new PortSettings(nine + "0", 9600), "a 10-byte name");
                        Check.Throws<ArgumentException>(() => new PortSettings("COM1", 9600, 8, "Even", 1),
                                                        "a parity word the plug-in would read as none");
                        plugin.Open(new PortSettings(nine, 9600, 8, "NONE", 1));
                        Check.That(plugin.IsLedOpened() == 1, "open");
                        plugin.Write("AB#D");
                        Check.Bytes(pty.Read(ElvaneAbD.Length), ElvaneAbD, "ASCII rows");
                        Check.That(plugin.Write2Led(Gbk.Bytes("中文#OK")) == 1, "Write2Led's result");
                        Check.Bytes(pty.Read(ElvaneChinese.Length), ElvaneChinese, "Chinese as GBK");
                        Check.Throws<ArgumentException>(() => plugin.Write("Hi\U0001F600"), "an emoji GBK lacks");
                        Check.Throws<ArgumentException>(() => plugin.Write(Pty.Bytes('A', 'B')), "GBK bytes without a NUL");
                        Check.Bytes(pty.Read(0, 200), new byte[0], "nothing sent for them");
                    }
                    finally
                    {
                        if (nine != null) Pty.unlink(nine);
                    }
                    plugin.CloseLed();
                    Check.That(plugin.IsLedOpened() == 0, "closed");
                }
            });

            Check.Group("results are checked", () =>
            {
                PluginException closed = Check.Throws<PluginException>(() => plugin.Write("AB"), "a write on a closed port");
                Check.That(closed != null && closed.Function == "Write2Led" && closed.Result == -1, "Write2Led gave -1");
                PluginException missing = Check.Throws<PluginException>(
                    () => plugin.Open(new PortSettings("nosuchtty", 9600)), "a missing port");
                Check.That(missing != null && missing.Function == "OpenLed" && missing.Result == -1, "OpenLed gave -1");
            });

            Check.Group("one loaded plug-in drives one sign", () =>
            {
                Check.Throws<InvalidOperationException>(() => LedPlugin.Load(elvane), "loading it a second time");
            });
        }

        Check.Group("loaded again after Dispose", () =>
        {
            using (LedPlugin plugin = LedPlugin.Load(elvane)) Check.That(plugin.IsLedOpened() == 0, "closed");
            Check.Throws<DllNotFoundException>(() => LedPlugin.Load("/nonexistent/libelvane.so"), "a missing plug-in");
        });

        Console.WriteLine(Check.Failures == 0 ? "all passed" : Check.Failures + " failed");
        return Check.Failures == 0 ? 0 : 1;
    }
}
