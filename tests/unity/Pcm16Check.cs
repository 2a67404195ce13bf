// LumoKastSound.ToPcm16 on a table of Unity mixes: exit status 0 when each
// gives the PCM bytes Mp4Muxer.pushAudio expects.
using System;

static class Pcm16Check
{
    static int Main()
    {
        object[][] cases = {
            // floats, channels, channels kept, little-endian bytes
            new object[] { new float[] { 0f, 1f, -1f, 0.5f }, 2, 2, new byte[] { 0, 0, 0xFF, 0x7F, 0x01, 0x80, 0x00, 0x40 } },
            new object[] { new float[] { 2f, -3f }, 1, 1, new byte[] { 0xFF, 0x7F, 0x01, 0x80 } },
            new object[] { new float[] { 0.25f, -0.25f, 1f, 1f, 1f, 1f }, 6, 2, new byte[] { 0x00, 0x20, 0x00, 0xE0 } },
            new object[] { new float[] { 1f, 0f, 0f }, 2, 2, new byte[] { 0xFF, 0x7F, 0, 0 } },
        };
        int failures = 0;
        foreach (object[] c in cases)
        {
            byte[] got = LumoKastSound.ToPcm16((float[])c[0], (int)c[1], (int)c[2]);
            string want = BitConverter.ToString((byte[])c[3]), have = BitConverter.ToString(got);
            if (want != have)
            {
                Console.WriteLine("FAILED: " + c[1] + " channels, " + c[2] + " kept: " + have + ", want " + want);
                failures++;
            }
        }
        Console.WriteLine(failures == 0 ? "PASS" : failures + " case(s) failed");
        return failures == 0 ? 0 : 1;
    }
}
