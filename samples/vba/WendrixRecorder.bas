Attribute VB_Name = "WendrixRecorder"
' Wendrix sample for VBA: Access forms and Excel or Word UserForms (Office 2010 or later,
' 32- or 64-bit; register the Wendrix.ocx of Office's bitness). Written for those hosts;
' not yet run in any of them.
'
' Import this module (VBA editor: File > Import File...), put a DSWendrixControl named
' Wendrix1 and two buttons cmdStart and cmdStop on a form, and paste the form code from the
' end of this module into the form's code window.
'
' The procedures take the control object itself: Me.Wendrix1.Object on a UserForm,
' Me!Wendrix1.Object on an Access form. Office wraps a control in an object of its own whose
' Enabled property is Office's, not the control's; .Object reaches the control.
Option Explicit

' Makes the control ready to record. Returns False (with the reason in lastError) when there
' is no recording device.
Public Function OpenRecorder(ByVal w As Object, ByRef lastError As String) As Boolean
    On Error GoTo Failed
    w.Enabled = True                ' a control placed anew starts with Enabled False
    w.SamplesPerSecond = 44100      ' 11025, 22050 or 44100; other values are ignored
    w.NumChannels = 2               ' 1 or 2
    w.BitsPerSample = 16            ' 8 or 16
    w.AutoCalculateBuff = True      ' one second of ring buffer
    w.UnInit_DSWendrix              ' harmless when nothing is open; else opened anew below
    w.Init_DSWendrix                ' opens the default recording device
    OpenRecorder = True
    Exit Function
Failed:
    lastError = "Error " & Err.Number & ": " & Err.Description
End Function

' Starts a take in folder, named by the time. Returns the file name, or "" when the control
' did not start (it then has shown the reason in a message box).
Public Function StartTake(ByVal w As Object, ByVal folder As String) As String
    Dim fileName As String
    If Right$(folder, 1) <> "\" Then folder = folder & "\"
    fileName = folder & "take " & Format$(Now, "yyyy-mm-dd hh-nn-ss") & ".wav"
    If w.Wendrix_Start(fileName) Then StartTake = fileName
End Function

' Stops the take and finishes its file. Returns False (reason in lastError) when the stop
' raised; the recording has ended either way, and a second stop would return False.
' - A run-time error of the control (61, 70, 75, 76; Err.Number > 0): the file could not be
'   finished (its drive or share went away, the disk is full); it keeps the sizes of its last
'   update. Record the next take elsewhere.
' - A device error (its HRESULT, Err.Number < 0): the device stopped or was removed; the file
'   was finished with what came before. deviceLost is then True: ask the user to check the
'   device and call OpenRecorder again, which opens the device that is now the default.
Public Function StopTake(ByVal w As Object, ByRef lastError As String, _
                         Optional ByRef deviceLost As Boolean) As Boolean
    On Error GoTo Failed
    w.Wendrix_Stop
    StopTake = True
    Exit Function
Failed:
    deviceLost = (Err.Number < 0)
    lastError = "Error " & Err.Number & ": " & Err.Description
End Function

' dBLeft / dBRight as text: "No Sound" before the first measurement, then the level.
Public Function LevelText(ByVal level As Variant) As String
    If IsNumeric(level) Then
        LevelText = Format$(level, "0.0") & " dB"
    Else
        LevelText = CStr(level)
    End If
End Function

' Releases the device; a running take is finished first.
Public Sub CloseRecorder(ByVal w As Object)
    On Error Resume Next
    w.Wendrix_Stop
    w.UnInit_DSWendrix
End Sub

' ---- Form code (UserForm; for Access use Form_Load/Form_Unload and Me!Wendrix1.Object) ----
'
' Private Function W() As Object
'     Set W = Me.Wendrix1.Object
' End Function
'
' Private Sub UserForm_Initialize()
'     Dim reason As String
'     If Not OpenRecorder(W, reason) Then MsgBox reason: cmdStart.Enabled = False
' End Sub
'
' Private Sub cmdStart_Click()
'     If StartTake(W, Environ$("USERPROFILE") & "\Music") <> "" Then cmdStart.Enabled = False
' End Sub
'
' Private Sub cmdStop_Click()
'     Dim reason As String, deviceLost As Boolean
'     cmdStart.Enabled = True                     ' the take has ended, whatever the stop met
'     If StopTake(W, reason, deviceLost) Then Exit Sub
'     If deviceLost Then
'         MsgBox reason & vbCrLf & "Check the microphone, then press OK."
'         If Not OpenRecorder(W, reason) Then MsgBox reason: cmdStart.Enabled = False
'     Else
'         MsgBox "The take could not be finished: " & reason
'     End If
' End Sub
'
' ' The event procedure is named after the control; it still sees the previous level.
' Private Sub Wendrix1_dBOnChangeLeft()
'     Me.Caption = "Left " & LevelText(W.dBLeft) & ", right " & LevelText(W.dBRight)
' End Sub
'
' Private Sub UserForm_QueryClose(Cancel As Integer, CloseMode As Integer)
'     CloseRecorder W
' End Sub
