// The WAVE file of a recording, byte for byte: the header at the start, the sizes at the stop.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "control/control.h"
#include "platform/error.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_host.h"

namespace wendrix {
namespace {

using Bytes = std::vector<uint8_t>;

class NoCapture : public CaptureSystem {
 public:
  std::shared_ptr<CaptureDevice> CreateDefaultDevice() override {
    throw Error::Platform(0x88780078u, "no device in these tests");
  }
};

void PutText(Bytes& b, const char* text) { b.insert(b.end(), text, text + 4); }
void PutLE(Bytes& b, uint32_t v, int size) {
  for (int i = 0; i < size; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
int32_t LongAt(const Bytes& b, size_t at) {
  return static_cast<int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                              static_cast<uint32_t>(b[at + 3]) << 24);
}

// The header a reader expects, built field by field from the format's three numbers.
Bytes ExpectedHeader(int rate, int channels, int bits, uint32_t data_size) {
  const int align = channels * bits / 8;
  Bytes b;
  PutText(b, "RIFF");
  PutLE(b, data_size ? data_size + 38 : 0, 4);
  PutText(b, "WAVE");
  PutText(b, "fmt ");
  PutLE(b, 18, 4);
  PutLE(b, 1, 2);  // PCM
  PutLE(b, channels, 2);
  PutLE(b, rate, 4);
  PutLE(b, rate * align, 4);
  PutLE(b, align, 2);
  PutLE(b, bits, 2);
  PutLE(b, 0, 2);  // cbSize
  PutText(b, "data");
  PutLE(b, data_size, 4);
  return b;
}

struct WriterFixture : ::testing::Test {
  sim::TempDir dir;
  sim::SimFileSystem files;
  sim::SimHost host;
  NoCapture capture;
  Control control{Platform{host, host, host, host, capture, files}};
  ControlState& s = control.state();

  void SetFormat(int rate, int channels, int bits) {
    const auto align = static_cast<int16_t>(channels * bits / 8);
    s.DeviceFormat = WaveFormat{1,     static_cast<int16_t>(channels), rate, rate * align,
                                align, static_cast<int16_t>(bits),     0};
  }
  // What the recorder does around the writer: header at the start, the drain's appends, the
  // finish at the stop.
  void Start(const std::string& name) {
    s.OutputFileName = dir.File(name);
    s.BytesRecorded = 0;
    control.WriteWaveHeader();
    control.CreateDataChunk();
  }
  void Append(const Bytes& data) {
    ASSERT_EQ(s.FileHandle->Write(data.data(), static_cast<int32_t>(data.size())),
              static_cast<int32_t>(data.size()));
    s.BytesRecorded += static_cast<int32_t>(data.size());
  }
  Bytes FileBytes() { return *sim::SimFileSystem::ReadAll(s.OutputFileName); }
};

TEST_F(WriterFixture, HeaderAndSizesForEveryFormat) {
  for (int rate : {11025, 22050, 44100}) {
    for (int channels : {1, 2}) {
      for (int bits : {8, 16}) {
        SCOPED_TRACE(std::to_string(rate) + "/" + std::to_string(channels) + "/" +
                     std::to_string(bits));
        SetFormat(rate, channels, bits);
        Start("f.wav");
        // While recording: the whole header, sizes 0, the file standing at offset 46.
        EXPECT_EQ(FileBytes(), ExpectedHeader(rate, channels, bits, 0));
        EXPECT_EQ(s.FileHandle->Seek(0, 1), 46);
        EXPECT_EQ(s.FileFormat.cbSize, 0);

        Bytes data(static_cast<size_t>(rate / 10 * channels * bits / 8));
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
        Append(data);
        control.FinishWaveFile();
        EXPECT_FALSE(s.FileHandle);

        Bytes expected = ExpectedHeader(rate, channels, bits, static_cast<uint32_t>(data.size()));
        expected.insert(expected.end(), data.begin(), data.end());
        EXPECT_EQ(FileBytes(), expected);
      }
    }
  }
}

TEST_F(WriterFixture, OddDataGetsNoPadByte) {
  SetFormat(11025, 1, 8);
  Start("odd.wav");
  Append({128, 129, 130});
  Append({131, 132});
  control.FinishWaveFile();
  const Bytes b = FileBytes();
  ASSERT_EQ(b.size(), 51u);
  EXPECT_EQ(LongAt(b, 4), 43);  // file length less 8
  EXPECT_EQ(LongAt(b, 42), 5);
  EXPECT_EQ(Bytes(b.begin() + 46, b.end()), (Bytes{128, 129, 130, 131, 132}));
}

TEST_F(WriterFixture, AnExistingFileIsReplacedEvenWhenStoppedAtOnce) {
  SetFormat(22050, 2, 16);
  s.OutputFileName = dir.File("old.wav");
  ASSERT_TRUE(sim::SimFileSystem::WriteAll(s.OutputFileName, Bytes(5000, 0xAB)));
  Start("old.wav");
  EXPECT_EQ(FileBytes().size(), 46u);
  control.FinishWaveFile();
  const Bytes b = FileBytes();
  ASSERT_EQ(b.size(), 46u);
  EXPECT_EQ(LongAt(b, 4), 38);
  EXPECT_EQ(LongAt(b, 42), 0);
}

TEST_F(WriterFixture, TheCallsAndTheirOrder) {
  SetFormat(44100, 2, 16);
  Start("order.wav");
  Append(Bytes(8, 0));
  control.FinishWaveFile();
  const std::string path = s.OutputFileName;
  EXPECT_EQ(files.calls,
            (std::vector<std::string>{
                "Create " + path, "Truncate", "Seek 0 0", "CreateChunk RIFF 32",
                "CreateChunk fmt  0", "Write 18", "Ascend fmt ", "CreateChunk data 0", "Write 8",
                // The sizes go in through the recording's own handle, before it is closed.
                "Seek 42 0", "Write 4", "Seek 4 0", "Write 4", "Close"}));
  EXPECT_EQ(s.LastFileResult, Variant::Long(0));
  EXPECT_EQ(s.RiffChunk.fccType, StringToFourCC("WAVE"));
  EXPECT_EQ(s.SubChunk.ckid, StringToFourCC("data"));
}

// The RIFF size is the data size + 38 in a signed 32-bit field: the largest data size it
// takes is 2,147,483,609. Beyond it the stop fails with Overflow after the data size is in.
TEST_F(WriterFixture, RiffSizeOverflowIsGuarded) {
  SetFormat(44100, 2, 16);
  Start("big.wav");
  s.BytesRecorded = 2147483609;
  control.FinishWaveFile();
  Bytes b = FileBytes();
  EXPECT_EQ(LongAt(b, 42), 2147483609);
  EXPECT_EQ(LongAt(b, 4), 2147483647);

  Start("bigger.wav");
  s.BytesRecorded = 2147483610;
  try {
    control.FinishWaveFile();
    ADD_FAILURE() << "no overflow";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), errc::Overflow);
  }
  b = FileBytes();
  EXPECT_EQ(LongAt(b, 42), 2147483610);
  EXPECT_EQ(LongAt(b, 4), 0);
  EXPECT_EQ(files.calls[files.calls.size() - 2], "Write 4");  // offset 42 only, then closed
  EXPECT_EQ(files.calls.back(), "Close");
}

// Where the mmio calls would let a failure pass unnoticed, the writer throws and leaves no
// file open, so that the start can fail instead of recording into nothing.
TEST_F(WriterFixture, HeaderFailuresThrowWithTheFileClosed) {
  SetFormat(44100, 2, 16);
  s.OutputFileName = dir.File("missing dir/x.wav");
  try {
    control.WriteWaveHeader();
    ADD_FAILURE() << "created";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), errc::PathNotFound);
    EXPECT_NE(e.description().find(s.OutputFileName), std::string::npos);
  }
  EXPECT_FALSE(s.FileHandle);

  // A disk that takes 20 bytes: the fmt chunk's body does not fit.
  s.OutputFileName = dir.File("full.wav");
  files.free_space = 20;
  EXPECT_THROW(control.WriteWaveHeader(), Error);
  EXPECT_FALSE(s.FileHandle);
  EXPECT_EQ(s.LastFileResult, Variant::Long(-1));

  // One that takes the header up to the "data" chunk.
  files.free_space = 38;
  control.WriteWaveHeader();
  ASSERT_TRUE(s.FileHandle);
  EXPECT_THROW(control.CreateDataChunk(), Error);
  EXPECT_FALSE(s.FileHandle);
  EXPECT_EQ(s.LastFileResult, Variant::Long(static_cast<int32_t>(kFileCannotWrite)));
}

TEST_F(WriterFixture, FinishFailures) {
  SetFormat(44100, 1, 16);
  // A handle that refuses the sizes: they go in through a second opening of the same file.
  Start("a.wav");
  Append(Bytes(10, 5));
  files.fail_seek_to = 4;
  control.FinishWaveFile();
  EXPECT_FALSE(s.FileHandle);
  EXPECT_EQ(LongAt(FileBytes(), 42), 10);
  EXPECT_EQ(LongAt(FileBytes(), 4), 48);
  EXPECT_EQ(files.calls[files.calls.size() - 5], "Close");
  EXPECT_EQ(files.calls[files.calls.size() - 4], "OpenBinary " + s.OutputFileName);

  // When that opening fails too, the finish fails: no file with sizes 0 passes for finished.
  Start("a.wav");
  Append(Bytes(10, 5));
  files.fail_binary_open = Error(errc::PermissionDenied, "denied");
  EXPECT_THROW(control.FinishWaveFile(), Error);
  EXPECT_FALSE(s.FileHandle);
  EXPECT_EQ(FileBytes().size(), 56u);
  files.fail_binary_open.reset();
  files.fail_seek_to.reset();

#ifndef _WIN32
  // Nor when another file has taken the name meanwhile: that one is left as it is. (The C
  // runtime's files on Windows can neither be removed while open nor told apart; the Windows
  // suite checks this on the system's own files.)
  Start("c.wav");
  Append(Bytes(10, 5));
  files.fail_seek_to = 4;
  ASSERT_EQ(std::remove(s.OutputFileName.c_str()), 0);
  ASSERT_TRUE(sim::SimFileSystem::WriteAll(s.OutputFileName, Bytes(7, 1)));
  EXPECT_THROW(control.FinishWaveFile(), Error);
  EXPECT_EQ(FileBytes(), Bytes(7, 1));
  files.fail_seek_to.reset();
#endif

  // A failing close of the recording's handle is reported, after the sizes are in.
  Start("b.wav");
  Append(Bytes(10, 5));
  files.fail_close = true;
  EXPECT_THROW(control.FinishWaveFile(), Error);
  EXPECT_EQ(LongAt(FileBytes(), 42), 10);
  EXPECT_EQ(LongAt(FileBytes(), 4), 48);
}

}  // namespace
}  // namespace wendrix
