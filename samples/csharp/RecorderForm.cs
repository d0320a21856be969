// Wendrix sample for C# Windows Forms (.NET Framework 4.6 or later, Visual Studio 2017+).
// Written for that host; not compiled or run by the Wendrix build (it has no .NET).
//
// References: Wendrix.dll and AxWendrix.dll, the wrappers the SDK's aximp makes:
//     aximp "C:\Program Files (x86)\Wendrix\Wendrix.ocx"
// (or add DSWendrixControl to the Toolbox: Choose Items > COM Components, and drop it on a
// form once). Build for x86 with the 32-bit Wendrix.ocx, for x64 with the 64-bit one: not
// AnyCPU, whose "Prefer 32-bit" (on by default in .NET Framework projects) decides the bitness.
//
// The form is built in code: the control, Start and Stop buttons, the levels and the file.
using System;
using System.ComponentModel;
using System.Drawing;
using System.IO;
using System.Runtime.InteropServices;
using System.Windows.Forms;

namespace WendrixSample
{
    public class RecorderForm : Form
    {
        private readonly AxWendrix.AxDSWendrixControl wendrix = new AxWendrix.AxDSWendrixControl();
        private readonly Button startButton = new Button { Text = "Start", Location = new Point(12, 60) };
        private readonly Button stopButton = new Button { Text = "Stop", Location = new Point(100, 60), Enabled = false };
        private readonly Label levels = new Label { Location = new Point(12, 95), AutoSize = true };
        private readonly Label status = new Label { Location = new Point(12, 120), AutoSize = true };
        private string fileName;

        public RecorderForm()
        {
            Text = "Wendrix recorder";
            ClientSize = new Size(420, 150);
            ((ISupportInitialize)wendrix).BeginInit();
            wendrix.Location = new Point(12, 12);   // the control keeps its own size
            Controls.Add(wendrix);
            ((ISupportInitialize)wendrix).EndInit();
            Controls.AddRange(new Control[] { startButton, stopButton, levels, status });

            startButton.Click += (s, e) => StartRecording();
            stopButton.Click += (s, e) => StopRecording();
            // Five times per half ring while recording. The levels read here are those of the
            // previous measurement ("No Sound" before the first one).
            wendrix.dBOnChangeLeft += (s, e) =>
                levels.Text = $"Left {wendrix.dBLeft} dB   Right {wendrix.dBRight} dB";
            wendrix.OnStop += (s, e) => levels.Text = "";
        }

        protected override void OnLoad(EventArgs e)
        {
            base.OnLoad(e);
            // The ActiveX control exists once the form has its window. The wrapper calls the
            // control's own Enabled "CtlEnabled"; a new control starts with it False.
            wendrix.CtlEnabled = true;
            wendrix.SamplesPerSecond = Wendrix.Samples.CDQuality;
            wendrix.NumChannels = Wendrix.channels.Stereo;
            wendrix.BitsPerSample = Wendrix.Bits.Sixteen;
            OpenDevice();
        }

        // Opens the default recording device (again); without one, Start stays disabled.
        private void OpenDevice()
        {
            try
            {
                wendrix.UnInit_DSWendrix();     // harmless when nothing is open
                wendrix.Init_DSWendrix();       // opens the default recording device
                startButton.Enabled = true;
            }
            catch (Exception ex) when (IsControlError(ex))
            {
                // No usable recording device: the device's HRESULT, e.g. 0x88780078
                // (DSERR_NODRIVER), or 0x80070005 when Windows' privacy settings deny the
                // microphone.
                status.Text = "Cannot open the recording device: " + Describe(ex);
                startButton.Enabled = false;
            }
        }

        private void StartRecording()
        {
            fileName = Path.Combine(Environment.GetFolderPath(Environment.SpecialFolder.MyMusic),
                                    $"take {DateTime.Now:yyyy-MM-dd HH-mm-ss}.wav");
            // False: a recording runs already, or the control showed why it could not start.
            if (!wendrix.Wendrix_Start(ref fileName)) return;
            startButton.Enabled = false;
            stopButton.Enabled = true;
            status.Text = "Recording to " + fileName;
        }

        private void StopRecording()
        {
            // The recording ends whatever the stop meets; a second Wendrix_Stop returns false.
            startButton.Enabled = true;
            stopButton.Enabled = false;
            try
            {
                wendrix.Wendrix_Stop();         // writes the rest and finishes the file
            }
            catch (Exception ex) when (IsControlError(ex))
            {
                if ((unchecked((uint)ex.HResult) & 0xFFFF0000u) == 0x800A0000u)
                {
                    // Run-time errors 61, 70, 75, 76: the file could not be finished (its drive
                    // or share went away, the disk is full); it keeps the sizes of its last
                    // update. Record the next take elsewhere.
                    status.Text = "Not finished: " + Describe(ex);
                }
                else
                {
                    // A device error: the device stopped or was removed, and the file was
                    // finished with what came before. Ask the user to check it, then open the
                    // device that is now the default. See docs\troubleshooting.md.
                    status.Text = "Check the microphone: " + Describe(ex);
                    OpenDevice();
                }
                return;
            }
            try
            {
                status.Text = $"Saved {fileName} ({new FileInfo(fileName).Length} bytes)";
            }
            catch (IOException ex)              // the drive went away after the stop
            {
                status.Text = $"Saved {fileName}, which cannot be read now: {ex.Message}";
            }
        }

        protected override void OnFormClosing(FormClosingEventArgs e)
        {
            try
            {
                wendrix.Wendrix_Stop();
                wendrix.UnInit_DSWendrix();
            }
            catch (Exception ex) when (IsControlError(ex))
            {
            }
            base.OnFormClosing(e);
        }

        // What a failed call on the control throws. The runtime turns most HRESULTs into a
        // COMException, but a few into its own exceptions: 0x80070005 (E_ACCESSDENIED) into
        // UnauthorizedAccessException, 0x80070057 (E_INVALIDARG) into ArgumentException,
        // 0x8007000E (E_OUTOFMEMORY) into OutOfMemoryException. Exception.HResult has the
        // HRESULT in every case.
        private static bool IsControlError(Exception ex) =>
            ex is COMException || ex is UnauthorizedAccessException ||
            ex is ArgumentException || ex is OutOfMemoryException;

        // A run-time error n of the control travels as the HRESULT 0x800A0000 + n. A value the
        // type library cannot convert for a property is refused before it reaches the control,
        // as DISP_E_TYPEMISMATCH (error 13) or DISP_E_OVERFLOW (error 6). Any other HRESULT (a
        // device error) is shown as it is.
        private static string Describe(Exception ex)
        {
            uint hr = unchecked((uint)ex.HResult);
            string code = (hr & 0xFFFF0000u) == 0x800A0000u ? $"error {hr & 0xFFFF}"
                : hr == 0x80020005u ? "error 13, DISP_E_TYPEMISMATCH"
                : hr == 0x8002000Au ? "error 6, DISP_E_OVERFLOW"
                : $"HRESULT 0x{hr:X8}";
            return $"{ex.Message} ({code})";
        }

        [STAThread]
        private static void Main()
        {
            Application.EnableVisualStyles();
            Application.Run(new RecorderForm());
        }
    }
}
