' Wendrix sample: recording from a script.
' Written for: Windows Script Host (cscript.exe); run by the Wendrix build under Wine's script host
' (setup and error handling; Wine has no WScript.Sleep). Not yet tried on Windows.
'
'   cscript //nologo record.vbs [TAKE.wav] [SECONDS]
'
' Without TAKE.wav (or with "") the take is take.wav in your Documents folder, so the script
' may be run from any folder, also a read-only one such as Program Files; a relative TAKE.wav is
' taken from the current folder.
'
' Run it with the script host of the same bitness as the Wendrix.ocx you registered: on
' 64-bit Windows a 32-bit Wendrix.ocx needs C:\Windows\SysWOW64\cscript.exe, a 64-bit one
' C:\Windows\System32\cscript.exe.
'
' A script uses the control late-bound (created by its ProgID, members called by name) and
' receives no events; it reads dBLeft and dBRight instead. The control records on a timer of
' the thread that created it, which Windows Script Host is expected to run while the script
' waits in WScript.Sleep (not yet tried). A script host without WScript.Sleep (some emulated
' ones) runs the setup and error handling only.
Option Explicit

Dim fileName, seconds, fso, w, ok, i
Set fso = CreateObject("Scripting.FileSystemObject")
' The user's Documents folder (5: the shell's number for it).
fileName = fso.BuildPath(CreateObject("Shell.Application").Namespace(5).Self.Path, "take.wav")
seconds = 5
If WScript.Arguments.Count >= 1 Then
  If WScript.Arguments(0) <> "" Then fileName = WScript.Arguments(0)
End If
If WScript.Arguments.Count >= 2 Then seconds = CLng(WScript.Arguments(1))
' The control writes to the path it is given; a full path does not depend on its current folder.
fileName = fso.GetAbsolutePathName(fileName)
WScript.Echo "Take: " & fileName

' Reports the error in Err, if any, and says whether there was one.
Function Failed(what)
  Failed = (Err.Number <> 0)
  If Failed Then WScript.Echo what & " failed: error " & Err.Number & ": " & Err.Description
  Err.Clear
End Function

On Error Resume Next

' --- Creating the control --------------------------------------------------------------------
Set w = CreateObject("Wendrix.DSWendrixControl")
If Failed("CreateObject(""Wendrix.DSWendrixControl"")") Then
  WScript.Echo "Is Wendrix.ocx registered for this script host's bitness?"
  WScript.Quit 1
End If

' --- Settings --------------------------------------------------------------------------------
' A control created in code starts with Enabled False; Wendrix_Start only records while it
' is True.
w.Enabled = True
w.SamplesPerSecond = 22050       ' 11025, 22050 or 44100
w.NumChannels = 1                ' 1 or 2
w.BitsPerSample = 16             ' 8 or 16
' Values outside those lists are ignored without an error: check by reading back.
w.SamplesPerSecond = 48000
If w.SamplesPerSecond <> 22050 Then WScript.Echo "unexpected: the rate changed" : WScript.Quit 1
WScript.Echo "Format: " & w.SamplesPerSecond & " Hz, " & w.NumChannels & " channel(s), " & _
  w.BitsPerSample & " bits"

' --- A refused ring buffer, and the way back ----------------------------------------------------
' With AutoCalculateBuff False the host chooses the ring length. One far too short for the
' control's timer makes Init_DSWendrix raise error 380 (Invalid property value).
w.AutoCalculateBuff = False
w.BufferLength = 100
ok = w.Init_DSWendrix()
If Err.Number = 380 Then
  WScript.Echo "A 100-byte ring is refused, as expected: " & Err.Description
  Err.Clear
ElseIf Failed("Init_DSWendrix with a 100-byte ring") Then
  WScript.Quit 1
Else
  WScript.Echo "unexpected: a 100-byte ring was accepted" : WScript.Quit 1
End If
' Back to the automatic length: one second of audio.
w.AutoCalculateBuff = True

' --- Opening the recording device -------------------------------------------------------------
ok = w.Init_DSWendrix()
If Failed("Init_DSWendrix") Then
  WScript.Echo "Is there a recording device (a microphone or line input)?"
  WScript.Quit 1
End If
WScript.Echo "Recording device open; ring buffer " & w.BufferLength & " bytes"

' --- Read-only properties ----------------------------------------------------------------------
' dBLeft, dBRight and BufferPosition can be read, never set (error 382 at run time).
w.dBLeft = 0
If Err.Number <> 382 Then WScript.Echo "unexpected: dBLeft took a value" : WScript.Quit 1
Err.Clear
WScript.Echo "Level before recording: " & w.dBLeft

' --- Recording ---------------------------------------------------------------------------------
WScript.Sleep 1
If Err.Number <> 0 Then
  WScript.Echo "This script host cannot wait (WScript.Sleep: error " & Err.Number & _
    "); the recording part is skipped."
  Err.Clear
Else
  ' Wendrix_Start returns False when it cannot start; it has then shown the reason in a box.
  If w.Wendrix_Start(fileName) Then
    WScript.Echo "Recording " & seconds & " s into " & fileName
    For i = 1 To seconds * 2
      WScript.Sleep 500
      WScript.Echo "  level " & w.dBLeft & " dB"
    Next
    ' Wendrix_Stop writes what is left and finishes the file. The recording ends whatever the
    ' stop meets (a second Wendrix_Stop returns False).
    ok = w.Wendrix_Stop()
    If Err.Number > 0 Then
      ' 61, 70, 75, 76: the file could not be finished (its drive went away, the disk is full);
      ' it keeps the sizes of its last update.
      Failed "Wendrix_Stop"
      WScript.Echo "The take is not finished: record the next one elsewhere."
      WScript.Quit 1
    ElseIf Failed("Wendrix_Stop") Then
      ' A device error (its HRESULT, negative): the file was finished with what came before the
      ' device stopped or was removed. Before the next take, open the device now the default.
      WScript.Echo "Check the microphone. The take keeps what came before the device failed."
      w.UnInit_DSWendrix
      w.Init_DSWendrix
      Failed "Init_DSWendrix"
      WScript.Quit 1
    End If
    WScript.Echo "Stopped; the file holds " & fso.GetFile(fileName).Size & " bytes"
  Else
    WScript.Echo "Wendrix_Start returned False"
  End If
End If

' --- Closing the device ----------------------------------------------------------------------
ok = w.UnInit_DSWendrix()
Set w = Nothing
If Failed("UnInit_DSWendrix") Then WScript.Quit 1
WScript.Echo "Done."
