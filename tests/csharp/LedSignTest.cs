// The C# binding (bindings/csharp/LedSign.cs) against the built libledsign.so, signs on ptys.
using System;
using System.Collections.Generic;
using System.Linq;
using LedSigns;

static class LedSignTest
{
    static readonly byte[] ElvaneAbD = Pty.Bytes(0x1B, 0x01, 0x04, 0x41, 0x42, 0x0D, 0x1B, 0x01, 0x05, 0x44, 0x0D);
    static readonly byte[] ElvaneChinese = Pty.Bytes(0x1B, 0x01, 0x04, 0xD6, 0xD0, 0xCE, 0xC4, 0x0D, 0x1B, 0x01, 0x05, 0x4F, 0x4B, 0x0D);
    static readonly byte[] BravaAbD = Pty.Bytes(0x05, 0x01, 0x03, 0x01, 0x00, 0x58, 0x20, 0x02, 0x41, 0x42,
                                                0x05, 0x01, 0x03, 0x02, 0x00, 0x58, 0x20, 0x01, 0x44);

    static int Main()
    {
        Check.Group("models and their attributes", () =>
        {
            Check.That(new[] { "brava", "dorun", "cresto", "elvane" }.All(LedSign.Models.Contains),
                       "models: " + string.Join(",", LedSign.Models));
            LedSignAttributes elvane = LedSign.Attributes("elvane");
            Check.That(elvane.Dots == 24 && elvane.RowChars == 24 && elvane.RowWideChars == 12 && elvane.TwoRows,
                       "elvane's figures");
            Check.That(elvane.CommText == "4800,8,NONE,2", "elvane's settings: " + elvane.CommText);
            Check.Bytes(elvane.VendorGbk, Pty.Bytes(0xC9, 0xCF, 0xBA, 0xA3), "elvane's vendor (上海)");
            LedSignAttributes brava = LedSign.Attributes("brava");
            Check.That(brava.Dots == 32 && brava.RowChars == 16 && brava.CommText == "2400,8,NONE,1", "brava's attributes");
            Check.Throws<ArgumentException>(() => LedSign.Attributes("zeta"), "an unknown model");
        });

        Check.Group("two elvane signs and a brava, each with its own text", () =>
        {
            using (Pty first = new Pty(), second = new Pty(), third = new Pty())
            using (LedSign entrance = LedSign.Open("elvane", first.SlavePath, "9600,8,NONE,1"))
            using (LedSign exit = LedSign.Open("elvane", second.SlavePath))
            using (LedSign hall = LedSign.Open("brava", third.SlavePath, "2400,8,NONE,1"))
            {
                entrance.Write("AB#D");
                exit.Write("中文#OK");
                hall.Write("AB#D");
                Check.Bytes(first.Read(ElvaneAbD.Length), ElvaneAbD, "first elvane");
                Check.Bytes(second.Read(ElvaneChinese.Length), ElvaneChinese, "second elvane, UTF-8 text as GBK");
                Check.Bytes(third.Read(BravaAbD.Length), BravaAbD, "brava");
                // GBK bytes go out as they are.
                entrance.Write(Pty.Bytes(0xD6, 0xD0, 0xCE, 0xC4, '#', 'O', 'K'));
                Check.Bytes(first.Read(ElvaneChinese.Length), ElvaneChinese, "GBK bytes");
                var lines = new List<string>();
                hall.Trace = lines.Add;
                hall.Clear();
                Check.That(lines.Count > 0, "the trace saw the clear");
                hall.Trace = null;
            }
        });

        Check.Group("failures carry the library's reason", () =>
        {
            LedSignOpenException missing = Check.Throws<LedSignOpenException>(
                () => LedSign.Open("elvane", "/dev/nosuchtty"), "a missing port");
            Check.That(missing != null && missing.Result == -1 && missing.Message.Contains("No such file or directory") &&
                       missing.Message.Contains("/dev/nosuchtty"), "its reason: " + (missing == null ? "" : missing.Message));
            using (var pty = new Pty())
            {
                LedSignSettingsException refused = Check.Throws<LedSignSettingsException>(
                    () => LedSign.Open("elvane", pty.SlavePath, "12345,8,NONE,1"), "a speed the line has no setting for");
                Check.That(refused != null && refused.Result == -2 && refused.Message.Contains("settings"),
                           "its reason: " + (refused == null ? "" : refused.Message));
                ArgumentException malformed = Check.Throws<ArgumentException>(
                    () => LedSign.Open("elvane", pty.SlavePath, "9600,8,NONE"), "malformed settings");
                Check.That(malformed != null && malformed.Message.Contains("malformed settings"), "its reason");
                Check.Throws<ArgumentException>(() => LedSign.Open("ELVANE", pty.SlavePath), "a model in capitals");
            }
        });

        Check.Group("Dispose releases the port", () =>
        {
            using (var pty = new Pty())
            {
                LedSign sign = LedSign.Open("elvane", pty.SlavePath);
                LedSignOpenException inUse = Check.Throws<LedSignOpenException>(
                    () => LedSign.Open("brava", pty.SlavePath), "a second open of a port in use");
                Check.That(inUse != null && inUse.Reason != "", "in use, with a reason");
                sign.Dispose();
                sign.Dispose();
                Check.Throws<ObjectDisposedException>(() => sign.Write("AB"), "a write after Dispose");
                using (LedSign again = LedSign.Open("elvane", pty.SlavePath))
                {
                    again.Write("AB#D");
                    Check.Bytes(pty.Read(ElvaneAbD.Length), ElvaneAbD, "the port opened again");
                }
            }
        });

        Check.Group("text GBK cannot show is refused with nothing sent", () =>
        {
            using (var pty = new Pty())
            using (LedSign sign = LedSign.Open("elvane", pty.SlavePath))
            {
                ArgumentException emoji = Check.Throws<ArgumentException>(() => sign.Write("Hi\U0001F600"), "an emoji");
                Check.That(emoji != null && emoji.Message.Contains("U+1F600"), "its reason: " + (emoji == null ? "" : emoji.Message));
                Check.Throws<ArgumentException>(() => sign.Write("A\0B"), "a NUL in the text");
                Check.Throws<ArgumentException>(() => sign.Write("A\uD800B"), "a lone surrogate");
                Check.Throws<ArgumentException>(() => sign.Write(Pty.Bytes('A', 0, 'B')), "a NUL in GBK bytes");
                Check.Bytes(pty.Read(0, 200), new byte[0], "nothing sent");
                sign.Write("AB#D");  // the sign still works
                Check.Bytes(pty.Read(ElvaneAbD.Length), ElvaneAbD, "the next text");
            }
        });

        Console.WriteLine(Check.Failures == 0 ? "all passed" : Check.Failures + " failed");
        return Check.Failures == 0 ? 0 : 1;
    }
}
