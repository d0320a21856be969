{ Wendrix sample for Delphi (VCL, Delphi XE2 or later; Win32 with the 32-bit Wendrix.ocx,
  Win64 with the 64-bit one). Written for Delphi; not yet compiled there.

  First import the control: Component > Import Component > Import ActiveX Control >
  "Wendrix (Version 2.0)" > Create Unit. That writes Wendrix_TLB.pas with the component
  class TDSWendrixControl; add it to the project. This unit builds its form in code, so it
  needs no .dfm: create a VCL application, replace its main unit with this one.

  The import names the event properties after the events (OndBOnChangeLeft, OnOnStop, ...);
  check Wendrix_TLB.pas if your Delphi version names them differently. }
unit RecorderMain;

interface

uses
  System.SysUtils, System.IOUtils, System.Variants, System.Classes, System.Win.ComObj, Vcl.Controls, Vcl.Forms,
  Vcl.StdCtrls, Wendrix_TLB;

type
  TRecorderForm = class(TForm)
  private
    FWendrix: TDSWendrixControl;
    FStart, FStop: TButton;
    FLevels, FStatus: TLabel;
    FFileName: WideString;
    procedure StartClick(Sender: TObject);
    procedure StopClick(Sender: TObject);
    procedure LevelChanged(Sender: TObject);
    procedure OpenDevice;
  public
    constructor Create(AOwner: TComponent); override;
    destructor Destroy; override;
  end;

var
  RecorderForm: TRecorderForm;

implementation

// A run-time error n of the control arrives as the HRESULT $800A0000 + n; any other HRESULT
// (a device error such as DSERR_NODRIVER) is shown whole, in hex.
function Describe(E: EOleException): string;
begin
  if (Cardinal(E.ErrorCode) and $FFFF0000) = $800A0000 then
    Result := Format('error %d: %s', [E.ErrorCode and $FFFF, E.Message])
  else
    Result := Format('HRESULT $%.8x: %s', [Cardinal(E.ErrorCode), E.Message]);
end;

constructor TRecorderForm.Create(AOwner: TComponent);
begin
  inherited CreateNew(AOwner);              // a form without a .dfm
  Caption := 'Wendrix recorder';
  ClientWidth := 420;
  ClientHeight := 150;

  FWendrix := TDSWendrixControl.Create(Self);
  FWendrix.Parent := Self;                  // the control keeps its own size
  FWendrix.Left := 12;
  FWendrix.Top := 12;
  FWendrix.OndBOnChangeLeft := LevelChanged;

  FStart := TButton.Create(Self);
  FStart.Parent := Self;
  FStart.SetBounds(12, 60, 75, 25);
  FStart.Caption := 'Start';
  FStart.OnClick := StartClick;

  FStop := TButton.Create(Self);
  FStop.Parent := Self;
  FStop.SetBounds(100, 60, 75, 25);
  FStop.Caption := 'Stop';
  FStop.Enabled := False;
  FStop.OnClick := StopClick;

  FLevels := TLabel.Create(Self);
  FLevels.Parent := Self;
  FLevels.SetBounds(12, 95, 400, 17);
  FStatus := TLabel.Create(Self);
  FStatus.Parent := Self;
  FStatus.SetBounds(12, 120, 400, 17);

  // The control's own Enabled (TOleControl has a VCL Enabled of its own); a new control
  // starts with it False.
  FWendrix.ControlInterface.Enabled := True;
  FWendrix.SamplesPerSecond := CDQuality;
  FWendrix.NumChannels := Stereo;
  FWendrix.BitsPerSample := Sixteen;
  OpenDevice;
end;

// Opens the default recording device (again); without one, Start stays disabled.
procedure TRecorderForm.OpenDevice;
begin
  try
    FWendrix.UnInit_DSWendrix;              // harmless when nothing is open
    FWendrix.Init_DSWendrix;                // opens the default recording device
    FStart.Enabled := True;
  except
    on E: Exception do
    begin
      FStatus.Caption := 'No recording device: ' + E.Message;
      FStart.Enabled := False;
    end;
  end;
end;

destructor TRecorderForm.Destroy;
begin
  try
    FWendrix.Wendrix_Stop;                  // finishes a running take
    FWendrix.UnInit_DSWendrix;
  except
  end;
  inherited;
end;

procedure TRecorderForm.StartClick(Sender: TObject);
begin
  // The user's Documents folder: an installed program's own folder is not writable.
  FFileName := TPath.Combine(TPath.GetDocumentsPath,
    FormatDateTime('"take "yyyy-mm-dd hh-nn-ss".wav"', Now));
  // False: a recording runs already, or the control showed why it could not start.
  if FWendrix.Wendrix_Start(FFileName) then
  begin
    FStart.Enabled := False;
    FStop.Enabled := True;
    FStatus.Caption := 'Recording to ' + FFileName;
  end;
end;

procedure TRecorderForm.StopClick(Sender: TObject);
begin
  // The recording ends whatever the stop meets; a second Wendrix_Stop would return False.
  FStart.Enabled := True;
  FStop.Enabled := False;
  try
    FWendrix.Wendrix_Stop;                  // writes the rest and finishes the file
    FStatus.Caption := 'Saved ' + FFileName;
  except
    on E: EOleException do
      if (Cardinal(E.ErrorCode) and $FFFF0000) = $800A0000 then
        // 61, 70, 75, 76: the file could not be finished (its drive or share went away, the
        // disk is full); it keeps the sizes of its last update. Record elsewhere next time.
        FStatus.Caption := 'Not finished: ' + Describe(E)
      else
      begin
        // A device error: the device stopped or was removed, and the file was finished with
        // what came before. Ask the user to check it, then open the one now the default.
        FStatus.Caption := 'Check the microphone: ' + Describe(E);
        OpenDevice;
      end;
  end;
end;

// Five times per half ring while recording; the levels are those of the previous measurement
// ('No Sound' before the first one).
procedure TRecorderForm.LevelChanged(Sender: TObject);
begin
  FLevels.Caption := 'Left ' + VarToStr(FWendrix.dBLeft) + ' dB   Right ' +
    VarToStr(FWendrix.dBRight) + ' dB';
end;

end.
