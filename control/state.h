// The control-state record: the one set of member variables every operation of the control
// reads and writes. Every member is zero at creation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/capture.h"
#include "platform/files.h"
#include "platform/variant.h"
#include "platform/wave_format.h"
#include "recording/position_watch.h"
#include "recording/ring.h"

namespace wendrix {

struct ControlState {
  Boolean MeterDataReady = False;   // the drain has filled the sample block since the last start
  float TickPhase = 0;              // meter tick accumulator: 0.2 per tick, drain at exactly 1.0
  Boolean ReinitPending = False;    // re-create the recorder when the recording stops
  Boolean IsRecording = False;      // a recording runs
  Boolean DrainBusy = False;        // the drain runs (guard against re-entry)
  std::vector<uint8_t> SampleBytes;  // the bytes of the last drain, plus one zero element
  int32_t DeviceCursor = 0;         // device position of the last GetCurrentPosition
  int32_t ReadCursor = 0;           // read position of the last GetCurrentPosition
  int32_t DrainOffset = 0;          // ring offset where the next drain reads
  WaveFormat FileFormat;            // written as the body of the "fmt " chunk
  ChunkInfo SubChunk;               // the "fmt " chunk, then the "data" chunk
  ChunkInfo RiffChunk;              // the RIFF chunk
  Variant LastFileResult;           // result of the last multimedia-file call
  std::unique_ptr<MultimediaFile> FileHandle;  // the open output file
  Boolean DeviceReady = False;      // Init_DSWendrix succeeded and the recorder objects exist
  WaveFormat DeviceFormat;          // the format handed to the ring buffer
  std::shared_ptr<CaptureBuffer> RecorderBuffer;
  std::shared_ptr<CaptureDevice> RecorderDevice;
  CaptureBufferDesc BufferDesc;     // description RecorderBuffer was created from
  int16_t ControlHeight = 0;        // twips: 255 or 510
  int16_t ControlWidth = 0;         // twips: 1830
  int32_t BytesRecorded = 0;        // sample bytes written to the data chunk in this recording
  Boolean IsEnabled = False;        // backs Enabled
  Variant LevelLeftDb;              // backs dBLeft; Integer -200 = no level yet
  Variant LevelRightDb;             // backs dBRight
  Boolean MeterVisible = False;     // backs ShowVU
  Boolean ScaleVisible = False;     // backs ShowVUScale
  Variant PositionValue;            // backs BufferPosition: the value its getter last produced
  int32_t SampleRate = 0;           // backs SamplesPerSecond
  int32_t ChannelCount = 0;         // backs NumChannels
  int32_t SampleBits = 0;           // backs BitsPerSample
  Boolean AutoBufferSize = False;   // backs AutoCalculateBuff
  int32_t BufferBytes = 0;          // backs BufferLength: ring length in bytes
  std::string OutputFileName;       // the path given to Wendrix_Start
  std::vector<int16_t> SampleWords;  // the bytes of the last drain as 16-bit samples

  // --- The recorder's own bookkeeping (recording/recorder.cpp, recording/drain.cpp) ---
  // Not part of the persisted or public state; they keep a recording whole through failures
  // and re-entry.
  Boolean CaptureRunning = False;   // RecorderBuffer was started for this recording, not stopped
  Boolean FileNeedsFinish = False;  // the output file has its header and still awaits its sizes
  Boolean StopInProgress = False;   // a stop sequence runs (a nested stop does nothing)
  Boolean AppendEnded = False;      // this recording writes no more (size limit or failed write)
  Boolean DrainRetry = False;       // the last transfer failed: retry on every tick until one works
  Boolean DrainBacklog = False;     // the watch still holds saved audio: drain on every tick
  Boolean FileCreated = False;      // this start created (or emptied) the output file
  int32_t HeaderBytes = 0;          // the data size the file's header shows now
  int64_t HeaderTime = 0;           // capture clock (us) when the header's sizes were last written
  Boolean TickRunning = False;      // a tick runs: a tick inside it (a pumping handler) only drains
  Boolean DeviceFlowing = False;    // the read position has moved since the recording started
  int64_t SuspendedSeen = 0;        // the platform's suspended time at the last read
  uint32_t DeviceChangesSeen = 0;   // the platform's default-device changes at Start
  Boolean DeviceChangeReported = False;  // this recording has reported a new default device
  Boolean DeviceLostReported = False;  // this recording has reported a stopped or removed device
  Boolean BurstReported = False;  // this recording has told of bursts longer than the ring
  Boolean BufferRemade = False;   // this recording made its ring buffer anew (it never started)
  int64_t WatchPaused = 0;        // pauses (us) the position watch saw in this recording
  int64_t CaptureStartTime = 0;     // capture clock (us) when RecorderBuffer was started
  int64_t LastReadTime = 0;         // capture clock (us) when the ring was read up to DrainOffset
  int64_t LastMoveTime = 0;         // capture clock (us) when the read position last moved
  // Audio the device produced that this recording could not read: how often, how much, how much
  // of it the file holds as silence, how much the first report told, and whether any amount was
  // only the least the clock makes certain.
  int32_t LossCount = 0;
  int64_t LostBytes = 0;
  int64_t SilenceBytes = 0;
  int64_t LostBytesReported = 0;
  Boolean LossAtLeast = False;
  // Bytes of this recording's start read so far that were exact digital silence (-1: sound was
  // found, or the start was judged); whether a silent start was told since Init_DSWendrix.
  int64_t SilentStartBytes = 0;
  Boolean SilentStartReported = False;
  uint32_t RecordingSerial = 0;     // counts started recordings
  uint32_t SampleFirstRegion = 0;   // bytes of the sample block from the ring's first region
  Boolean SampleWordsDue = False;   // SampleWords do not hold the sample block yet
  std::string ReportedDrainFault;   // the drain failure last reported in this recording
  // The count of what the running buffer delivered, and the thread that samples its positions
  // (last, so that it goes first: it uses the buffer and the count).
  std::unique_ptr<PositionWatch> Watch;
  std::unique_ptr<PeriodicThread> WatchThread;
};

}  // namespace wendrix
