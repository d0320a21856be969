VERSION 5.00
Object = "{40CB6CB6-EA06-4F0D-801B-EE826928BB0E}#2.0#0"; "Wendrix.ocx"
Begin VB.Form frmRecorder 
   BorderStyle     =   1  'Fixed Single
   Caption         =   "Wendrix recorder"
   ClientHeight    =   2295
   ClientLeft      =   45
   ClientTop       =   435
   ClientWidth     =   4455
   LinkTopic       =   "Form1"
   MaxButton       =   0   'False
   ScaleHeight     =   2295
   ScaleWidth      =   4455
   StartUpPosition =   3  'Windows Default
   Begin Wendrix.DSWendrixControl Wendrix1 
      Height          =   510
      Left            =   240
      TabIndex        =   0
      Top             =   240
      Width           =   1830
   End
   Begin VB.CommandButton cmdStart 
      Caption         =   "Start"
      Height          =   375
      Left            =   240
      TabIndex        =   1
      Top             =   960
      Width           =   1215
   End
   Begin VB.CommandButton cmdStop 
      Caption         =   "Stop"
      Enabled         =   0   'False
      Height          =   375
      Left            =   1560
      TabIndex        =   2
      Top             =   960
      Width           =   1215
   End
   Begin VB.Label lblLevels 
      Caption         =   "Left: -   Right: -"
      Height          =   255
      Left            =   240
      TabIndex        =   3
      Top             =   1560
      Width           =   3975
   End
   Begin VB.Label lblFile 
      Height          =   255
      Left            =   240
      TabIndex        =   4
      Top             =   1920
      Width           =   3975
   End
End
Attribute VB_Name = "frmRecorder"
Attribute VB_GlobalNameSpace = False
Attribute VB_Creatable = False
Attribute VB_PredeclaredId = True
Attribute VB_Exposed = False
' Wendrix sample for Visual Basic 6 (SP6), 32-bit Wendrix.ocx registered with
' C:\Windows\SysWOW64\regsvr32.exe on 64-bit Windows. Written for VB6; not yet compiled there.
'
' A form with the control, Start and Stop buttons and the levels. The form file leaves out the
' control's Enabled property, which makes it True when the form loads (a control drawn anew in
' the designer starts with Enabled False: set it to True in the Properties window).
Option Explicit

Private mFileName As String

Private Sub Form_Load()
    Wendrix1.Enabled = True
    Wendrix1.SamplesPerSecond = CDQuality   ' 44100 Hz
    Wendrix1.NumChannels = Stereo
    Wendrix1.BitsPerSample = Sixteen
    OpenDevice
End Sub

' Opens the default recording device (again); without one, Start stays disabled.
Private Sub OpenDevice()
    On Error GoTo NoDevice
    Wendrix1.UnInit_DSWendrix               ' harmless when nothing is open
    Wendrix1.Init_DSWendrix                 ' opens the default recording device
    cmdStart.Enabled = True
    Exit Sub
NoDevice:
    cmdStart.Enabled = False
    lblFile.Caption = "No recording device: " & Err.Description
End Sub

Private Sub cmdStart_Click()
    ' The temporary folder: an installed program's own folder (App.Path) is not writable.
    mFileName = Environ$("TEMP") & "\take " & Format$(Now, "yyyy-mm-dd hh-nn-ss") & ".wav"
    ' False: a recording runs already, or the start failed and the control has shown why.
    If Wendrix1.Wendrix_Start(mFileName) Then
        cmdStart.Enabled = False
        cmdStop.Enabled = True
        lblFile.Caption = "Recording to " & mFileName
    End If
End Sub

Private Sub cmdStop_Click()
    On Error GoTo Failed
    Wendrix1.Wendrix_Stop                   ' writes the rest and finishes the file
    cmdStart.Enabled = True
    cmdStop.Enabled = False
    lblFile.Caption = "Saved " & mFileName & " (" & FileLen(mFileName) & " bytes)"
    Exit Sub
Failed:
    ' The recording has ended all the same: a second Wendrix_Stop would return False.
    Dim number As Long, reason As String
    number = Err.Number
    reason = Err.Description
    cmdStop.Enabled = False
    cmdStart.Enabled = True
    If number > 0 Then
        ' A run-time error of the control (61, 70, 75, 76): the file could not be finished (its
        ' drive or share went away, the disk is full); what reached the disk keeps the sizes of
        ' its last update. Record the next take elsewhere.
        lblFile.Caption = "Not finished: " & reason
    Else
        ' A device error (its HRESULT, negative in VB): the file was finished with what came
        ' before the device stopped or was removed. Ask the user to check the device, and open
        ' the one that is now the default.
        lblFile.Caption = "Check the microphone: " & reason
        OpenDevice
    End If
End Sub

' Five times per half ring while recording, with the meter shown. dBLeft and dBRight still
' hold the previous measurement here; they read "No Sound" before the first one.
Private Sub Wendrix1_dBOnChangeLeft()
    lblLevels.Caption = "Left: " & Wendrix1.dBLeft & " dB   Right: " & Wendrix1.dBRight & " dB"
End Sub

Private Sub Wendrix1_OnStop()
    lblLevels.Caption = "Left: -   Right: -"
End Sub

Private Sub Form_Unload(Cancel As Integer)
    ' Both finish a running recording; closing the form without them would too.
    On Error Resume Next
    Wendrix1.Wendrix_Stop
    Wendrix1.UnInit_DSWendrix
End Sub
