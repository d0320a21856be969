' A late-bound script client of Wendrix.ocx, as a script host uses it: created by ProgID,
' called by name, failures read from Err. Prints one line per failed check and "OK" at the end;
' the exit code is the number of failed checks.
'
' Events are not covered here: the script host of the Wine these tests run on does not
' implement WScript.ConnectObject (error 445), so a script cannot receive them. The C++
' tests connect sinks through the control's connection points instead.
Option Explicit

Dim failures
failures = 0

Sub Check(condition, what)
  If Not condition Then
    WScript.Echo "FAIL: " & what
    failures = failures + 1
  End If
End Sub

Dim w
Set w = CreateObject("Wendrix.DSWendrixControl")

' A control created by a script takes the defaults of a new control.
Check w.Enabled = False, "Enabled starts False"
Check w.SamplesPerSecond = 44100, "SamplesPerSecond 44100"
Check w.NumChannels = 2, "NumChannels 2"
Check w.BitsPerSample = 16, "BitsPerSample 16"
Check w.BufferLength = 176400, "BufferLength 176400"
Check w.AutoCalculateBuff = True, "AutoCalculateBuff True"
Check w.BufferPosition = 0, "BufferPosition 0"
Check w.ShowVU = True, "ShowVU True"
Check w.ShowVUScale = True, "ShowVUScale True"
Check w.dBLeft = "No Sound", "dBLeft No Sound"
Check w.dBRight = "No Sound", "dBRight No Sound"
Check w.BackColor = &H808080, "BackColor mid grey"
Check w.BackStyle = 0, "BackStyle transparent"
Check w.BorderStyle = 1, "BorderStyle fixed single"

' Settings, in any case of the names.
w.Enabled = True
Check w.Enabled = True, "Enabled set"
w.samplespersecond = 22050
Check w.SamplesPerSecond = 22050, "SamplesPerSecond set"
w.NUMCHANNELS = 1
Check w.NumChannels = 1, "NumChannels set"
w.BitsPerSample = 8
Check w.BitsPerSample = 8, "BitsPerSample set"
w.ShowVU = False
Check w.ShowVU = False, "ShowVU set"
w.BackColor = &HFF00&
Check w.BackColor = &HFF00&, "BackColor set"
' A rate the control does not take is ignored without an error.
w.SamplesPerSecond = 12345
Check w.SamplesPerSecond = 22050, "unknown rate ignored"

' Refused values and their error numbers.
Dim x
On Error Resume Next
Err.Clear
w.dBLeft = 3
Check Err.Number = 382, "dBLeft put raises 382, got " & Err.Number
Check Err.Description = "Set not supported at runtime", "382 text, got " & Err.Description
Err.Clear
w.BufferPosition = 1
Check Err.Number = 382, "BufferPosition put raises 382, got " & Err.Number
Err.Clear
w.NumChannels = "two"
Check Err.Number = 13, "a text for NumChannels is a type mismatch, got " & Err.Number
Err.Clear
w.BackStyle = 7
Check Err.Number = 380, "BackStyle 7 is an invalid property value, got " & Err.Number
Err.Clear
x = w.Record
Check Err.Number = 438, "an unknown member raises 438, got " & Err.Number
Err.Clear
x = w.Wendrix_Start()
Check Err.Number = 450, "Wendrix_Start without a file name raises 450, got " & Err.Number
Err.Clear
' With a recording device Init opens it (and UnInit releases it again); without one it raises.
x = w.Init_DSWendrix()
If Err.Number = 0 Then
  Check x = True, "Init_DSWendrix opens the default recording device"
  Check w.UnInit_DSWendrix() = True, "UnInit_DSWendrix releases the device"
End If
Err.Clear
On Error GoTo 0

' Methods; the file name variable keeps its text.
Dim fileName
fileName = "C:\take one.wav"
Check w.Wendrix_Start(fileName) = False, "Wendrix_Start without a recorder returns False"
Check fileName = "C:\take one.wav", "Wendrix_Start leaves the file name alone"
Check w.Wendrix_Stop() = False, "Wendrix_Stop with nothing to stop returns False"
Check w.UnInit_DSWendrix() = True, "UnInit_DSWendrix returns True"

Set w = Nothing
If failures = 0 Then WScript.Echo "OK"
WScript.Quit failures
