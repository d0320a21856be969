// Wendrix sample for C# Windows Forms (.NET Framework 4.6 or later, Visual Studio 2017+).
//
// References: Wendrix.dll and AxWendrix.dll, the wrappers the SDK's aximp makes:
//     aximp "C:\Program Files (x86)\Wendrix\Wendrix.ocx"
// (or add DSWendrixControl to the Toolbox: Choose Items > COM Components, and drop it on a
// form once). Build for x86 with the 32-bit Wendrix.ocx, for x64 with the 64-bit one.
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
            try
            {
                wendrix.Init_DSWendrix();       // opens the default recording device
            }
            catch (COMException ex)
            {
                // No recording device: the device's HRESULT, e.g. 0x88780078 (DSERR_NODRIVER).
                status.Text = $"No recording device: {ex.Message} (0x{ex.ErrorCode:X8})";
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
            try
            {
                wendrix.Wendrix_Stop();         // writes the rest and finishes the file
                startButton.Enabled = true;
                stopButton.Enabled = false;
                status.Text = $"Saved {fileName} ({new FileInfo(fileName).Length} bytes)";
            }
            catch (COMException ex)
            {
                // The file could not be finished (folder removed, disk full): error number
                // ex.ErrorCode - 0x800A0000. Remove the cause and press Stop again.
                status.Text = "Stop failed: " + ex.Message;
            }
        }

        protected override void OnFormClosing(FormClosingEventArgs e)
        {
            try
            {
                wendrix.Wendrix_Stop();
                wendrix.UnInit_DSWendrix();
            }
            catch (COMException)
            {
            }
            base.OnFormClosing(e);
        }

        [STAThread]
        private static void Main()
        {
            Application.EnableVisualStyles();
            Application.Run(new RecorderForm());
        }
    }
}
