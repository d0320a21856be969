// The Windows file services: the WAVE writer's file and the size patch through CreateFileW,
// byte for byte, on ASCII and non-ASCII paths; what the output name may be.
#include "platform/win32/win_headers.h"
// (first: the core headers must see MessageBox as it is)

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>

#include "control/control.h"
#include "platform/error.h"
#include "platform/sim/sim_capture.h"
#include "platform/win32/file_system.h"
#include "platform/win32/folder_file.h"
#include "platform/win32/host_surface.h"
#include "platform/win32/system_error.h"
#include "platform/win32/text.h"
#include "tests/win/win32_test_support.h"

namespace wendrix::test {
namespace {

class NoCapture : public CaptureSystem {
 public:
  std::shared_ptr<CaptureDevice> CreateDefaultDevice() override {
    throw Error::Platform(0x88780078u, "no device in these tests");
  }
};

Bytes ExpectedHeader(int rate, int channels, int bits, uint32_t data_size) {
  const int align = channels * bits / 8;
  Bytes b;
  const auto text = [&](const char* t) { b.insert(b.end(), t, t + 4); };
  const auto le = [&](uint32_t v, int size) {
    for (int i = 0; i < size; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  text("RIFF");
  le(data_size ? data_size + 38 : 0, 4);
  text("WAVE");
  text("fmt ");
  le(18, 4);
  le(1, 2);
  le(channels, 2);
  le(rate, 4);
  le(rate * align, 4);
  le(align, 2);
  le(bits, 2);
  le(0, 2);
  text("data");
  le(data_size, 4);
  return b;
}

// The control's own writer (header at the start, appends, finish) on the Windows files.
struct WinWriter : ::testing::Test {
  WinTempDir dir;
  win32::Win32FileSystem files;
  RecordingContainer container;
  win32::SurfaceState surface;
  win32::ElementsState elements;
  ManualTimer timer;
  NoCapture capture;
  Control control{Platform{container, surface, elements, timer, capture, files}};
  ControlState& s = control.state();

  void Start(const std::string& path, int rate, int channels, int bits) {
    const auto align = static_cast<int16_t>(channels * bits / 8);
    s.DeviceFormat = WaveFormat{1,     static_cast<int16_t>(channels), rate, rate * align,
                                align, static_cast<int16_t>(bits),     0};
    s.OutputFileName = path;
    s.BytesRecorded = 0;
    control.WriteWaveHeader();
    control.CreateDataChunk();
  }
  void Append(const Bytes& data) {
    ASSERT_TRUE(s.FileHandle);
    ASSERT_EQ(s.FileHandle->Write(data.data(), static_cast<int32_t>(data.size())),
              static_cast<int32_t>(data.size()));
    s.BytesRecorded += static_cast<int32_t>(data.size());
  }
};

TEST_F(WinWriter, HeaderWhileRecordingAndSizesAfterTheFinish) {
  struct Case {
    std::string name;
    int rate, channels, bits;
    Bytes data;
  };
  Bytes block(4410 * 4);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + 3);
  const Case cases[] = {
      {"plain.wav", 44100, 2, 16, block},
      // Odd data: no pad byte, the RIFF size is still the file length less 8.
      {"odd.wav", 11025, 1, 8, {128, 129, 130, 131, 132}},
      {"Aufnahme \xC3\xA4 \xE9\x8C\xB2\xE9\x9F\xB3.wav", 22050, 2, 8, {1, 2, 3, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(c.name);
    Start(path, c.rate, c.channels, c.bits);
    // A reader sees the whole header with sizes 0 while the file is open.
    EXPECT_EQ(ReadAll(path), ExpectedHeader(c.rate, c.channels, c.bits, 0));
    EXPECT_EQ(s.FileHandle->Seek(0, 1), 46);
    Append(c.data);
    control.FinishWaveFile();
    EXPECT_FALSE(s.FileHandle);

    Bytes expected =
        ExpectedHeader(c.rate, c.channels, c.bits, static_cast<uint32_t>(c.data.size()));
    expected.insert(expected.end(), c.data.begin(), c.data.end());
    EXPECT_EQ(ReadAll(path), expected);
  }
  // The non-ASCII name is the one on disk, not a narrowed copy of it.
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(win32::Wide(dir.File("Aufnahme*")).c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::wstring(found.cFileName), L"Aufnahme \u00E4 \u9332\u97F3.wav");
  FindClose(find);
}

TEST_F(WinWriter, AnExistingFileIsReplacedEvenWhenStoppedAtOnce) {
  const std::string path = dir.File("old.wav");
  ASSERT_TRUE(WriteAll(path, Bytes(5000, 0xAB)));
  Start(path, 22050, 2, 16);
  EXPECT_EQ(ReadAll(path)->size(), 46u);
  control.FinishWaveFile();
  const Bytes b = *ReadAll(path);
  ASSERT_EQ(b.size(), 46u);
  EXPECT_EQ(U32At(b, 4), 38u);
  EXPECT_EQ(U32At(b, 42), 0u);
}

TEST(WinOutputFile, ChunksAreAscendedWithTheirSizeAndPadByte) {
  WinTempDir dir;
  win32::Win32FileSystem fs;
  const std::string path = dir.File("chunks.bin");
  auto file = fs.OpenOutputFile(path);
  ChunkInfo riff;
  riff.fccType = StringToFourCC("WAVE");
  ASSERT_EQ(file->CreateChunk(riff, kCreateRiff), kFileOk);
  EXPECT_EQ(riff.ckid, StringToFourCC("RIFF"));
  EXPECT_EQ(riff.dwDataOffset, 8u);
  ChunkInfo odd;
  odd.ckid = StringToFourCC("abcd");
  ASSERT_EQ(file->CreateChunk(odd, 0), kFileOk);
  EXPECT_EQ(odd.dwDataOffset, 20u);
  ASSERT_EQ(file->Write("xyz", 3), 3);
  ASSERT_EQ(file->Ascend(odd, 0), kFileOk);
  EXPECT_EQ(odd.cksize, 3u);
  EXPECT_EQ(file->Seek(0, 1), 24) << "past the pad byte";
  ASSERT_EQ(file->Close(), kFileOk);
  // A closed file refuses every call.
  EXPECT_EQ(file->Write("x", 1), -1);
  EXPECT_EQ(file->Seek(0, 0), -1);
  EXPECT_EQ(file->CreateChunk(odd, 0), kFileInvalidHandle);
  EXPECT_EQ(file->Close(), kFileInvalidHandle);

  const Bytes b = *ReadAll(path);
  ASSERT_EQ(b.size(), 24u);
  EXPECT_EQ(TextAt(b, 12), "abcd");
  EXPECT_EQ(U32At(b, 16), 3u);
  EXPECT_EQ(Bytes(b.begin() + 20, b.end()), (Bytes{'x', 'y', 'z', 0}));
}

DWORD WINAPI CloseLater(void* handle) {
  Sleep(300);
  return CloseHandle(static_cast<HANDLE>(handle)) ? 0 : 1;
}

TEST(WinBinaryFile, PatchesInPlaceNeverCreatesAndWaitsForAHolder) {
  WinTempDir dir;
  win32::Win32FileSystem fs;
  const std::string path = dir.File("patch \xC3\xA4.bin");
  ASSERT_TRUE(WriteAll(path, Bytes(10, 0)));
  auto file = fs.OpenBinaryFile(path, {});
  file->WriteLongAt(2, -2);
  file->WriteLongAt(6, 0x01020304);
  file->Close();
  EXPECT_EQ(ReadAll(path), (Bytes{0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1}));
  // Only the file the recording wrote: one that took its name is left alone.
  const FileIdentity written = fs.OpenOutputFile(path)->Identity();
  EXPECT_NO_THROW(fs.OpenBinaryFile(path, written)->Close());
  const FileIdentity& w = written;
  for (const FileIdentity other : {FileIdentity{w.volume, w.index + 1, w.index_high, w.created},
                                   FileIdentity{w.volume, w.index, w.index_high + 1, w.created},
                                   FileIdentity{w.volume, w.index, w.index_high, w.created + 1}})
    EXPECT_THROW(fs.OpenBinaryFile(path, other), Error);
  EXPECT_THROW(file->Close(), Error);
  EXPECT_THROW(file->WriteLongAt(0, 1), Error);
  // A file that is gone is not made again at the patch.
  EXPECT_THROW(fs.OpenBinaryFile(dir.File("gone.bin"), {}), Error);
  EXPECT_FALSE(ReadAll(dir.File("gone.bin")));

  // A reader that shares no writes (a scanner) is waited for; one that holds on is reported.
  for (const bool lets_go : {true, false}) {
    HANDLE holder = CreateFileW(win32::Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    HANDLE releaser = lets_go ? CreateThread(nullptr, 0, &CloseLater, holder, 0, nullptr) : holder;
    const double started = Now();
    try {
      fs.OpenBinaryFile(path, {})->Close();
      EXPECT_TRUE(lets_go);
    } catch (const Error& e) {
      EXPECT_FALSE(lets_go) << e.description();
      EXPECT_NE(e.description().find("Permission denied (another program has the file open)"),
                std::string::npos);
      EXPECT_GE(Now() - started, 1.5);
    }
    EXPECT_LT(Now() - started, 5.0);
    WaitForSingleObject(releaser, INFINITE);
    CloseHandle(releaser);
  }
}

// Windows' own refusals name their cause: a path past MAX_PATH works (the \\?\ prefix), a file
// CREATE_ALWAYS will not replace is named hidden or system, the audio engine's codes and the
// privacy setting say what to do.
TEST(WinFiles, LongPathsHiddenFilesAndTheSystemsCodesAreNamed) {
  WinTempDir dir;
  win32::Win32FileSystem fs;
  std::wstring deep = win32::Wide(dir.path());
  while (deep.size() < 300) {
    deep += L"\\" + std::wstring(60, L'd');
    ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr));
  }
  const std::string long_path = win32::Narrow(deep + L"\\take.wav");
  EXPECT_EQ(win32::FileNameWide("create", long_path), L"\\\\?\\" + deep + L"\\take.wav");
  ASSERT_EQ(fs.OpenOutputFile(long_path)->Close(), kFileOk);
  fs.OpenBinaryFile(long_path, {})->WriteLongAt(0, 1);
  EXPECT_EQ(ReadAll("\\\\?\\" + long_path)->size(), 4u);
  ASSERT_TRUE(DeleteFileW((L"\\\\?\\" + deep + L"\\take.wav").c_str()));
  EXPECT_FALSE(ReadAll("\\\\?\\" + long_path));

  // Wine (as root) replaces such files; Windows refuses with access denied.
  const std::wstring kept = win32::Wide(dir.File("kept.wav"));
  ASSERT_TRUE(WriteAll(dir.File("kept.wav"), Bytes(5, 1)));
  EXPECT_EQ(win32::ReplaceRefusal(kept, ERROR_ACCESS_DENIED), "");
  ASSERT_TRUE(SetFileAttributesW(kept.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  EXPECT_EQ(win32::ReplaceRefusal(kept, ERROR_ACCESS_DENIED),
            "the file exists and is hidden and a system file, which Windows does not replace; "
            "clear that attribute or choose another name");
  EXPECT_EQ(win32::ReplaceRefusal(kept, ERROR_SHARING_VIOLATION), "");
  SetFileAttributesW(kept.c_str(), FILE_ATTRIBUTE_NORMAL);
  // Access denied in a folder that is there, to a file without such attributes: Windows
  // Security's Controlled folder access is named; in a folder that is not there, nothing.
  for (const std::wstring& name : {kept, win32::Wide(dir.File("new.wav"))}) {
    EXPECT_NE(win32::CreateRefusal(name, ERROR_ACCESS_DENIED).find("Controlled folder access"),
              std::string::npos);
  }
  EXPECT_EQ(win32::CreateRefusal(win32::Wide(dir.File("none\\new.wav")), ERROR_ACCESS_DENIED), "");

  // Opening or starting the device names the privacy setting whatever the code; other calls
  // only for an access refusal.
  const char* const kPrivacy = "Privacy & security > Microphone";
  const struct {
    const char* api;
    uint32_t code;
    const char* words;
  } codes[] = {{"DirectSoundCaptureCreate", 0x8889000A, "exclusive mode"},
               {"DirectSoundCaptureCreate", 0x88890010, "Windows Audio service"},
               {"DirectSoundCaptureCreate", 0x88890026, "Init_DSWendrix again"},
               {"DirectSoundCaptureCreate", 0x80070005, kPrivacy},
               {"IDirectSoundCapture::CreateCaptureBuffer", 0x88780064, kPrivacy},
               {"IDirectSoundCaptureBuffer::Start", 0x80004005, kPrivacy},
               {"IDirectSoundCaptureBuffer::Lock", 0x80070005, "Settings > Privacy > Microphone"},
               {"IDirectSoundCaptureBuffer::Lock", 0x88780064, nullptr}};
  for (const auto& [api, code, words] : codes) {
    const Error e = win32::ComError(api, static_cast<HRESULT>(code));
    EXPECT_EQ(e.hresult(), code);
    EXPECT_EQ(e.description().find(words ? words : "Privacy") != std::string::npos, !!words)
        << e.description();
  }
  EXPECT_NE(
      win32::FileError("create", "x", ERROR_FILENAME_EXCED_RANGE).description().find("too long"),
      std::string::npos);
}

TEST(WinFiles, OpeningFailuresGiveTheHostsNumbersAndNameThePath) {
  WinTempDir dir;
  win32::Win32FileSystem fs;
  struct Case {
    std::string path;
    std::vector<int32_t> numbers;
  };
  const Case cases[] = {
      {dir.File("no such dir\\a.wav"), {errc::PathNotFound}},
      {dir.path(), {errc::PermissionDenied, errc::PathFileAccess}},
  };
  for (const Case& c : cases) {
    for (int binary = 0; binary < 2; ++binary) {
      SCOPED_TRACE(c.path + (binary ? " (binary)" : " (output)"));
      try {
        if (binary) {
          fs.OpenBinaryFile(c.path, {});
        } else {
          fs.OpenOutputFile(c.path);
        }
        ADD_FAILURE() << "opened";
      } catch (const Error& e) {
        EXPECT_NE(std::find(c.numbers.begin(), c.numbers.end(), e.number()), c.numbers.end())
            << e.number() << " " << e.description();
        EXPECT_NE(e.description().find("\"" + c.path + "\""), std::string::npos) << e.description();
        if (c.numbers.front() == errc::PathNotFound) {
          EXPECT_EQ(e.description(), std::string("Cannot ") + (binary ? "open" : "create") + " \"" +
                                         c.path + "\": Path not found");
        }
      }
    }
  }
}

// A symbolic link `name` to `target`, both in `dir`. Wine's CreateSymbolicLinkW makes nothing;
// there the system's own ln makes it, run in that folder.
bool MakeLink(const std::string& dir, const std::string& name, const std::string& target) {
  const std::wstring link = win32::Wide(dir + "\\" + name);
  CreateSymbolicLinkW(link.c_str(), win32::Wide(target).c_str(), 0);
  if (GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  std::wstring command = L"ln -s " + win32::Wide(target) + L" " + win32::Wide(name);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(L"Z:\\bin\\ln", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      win32::Wide(dir).c_str(), &startup, &process)) {
    return false;
  }
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // The wait may end before the Unix program has (Wine); the link is looked for a while.
  for (int tries = 0; tries < 50; ++tries) {
    if (GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    Sleep(100);
  }
  return false;
}

// Every file under `dir` (in its folders too, and through links) with its bytes.
std::map<std::string, Bytes> Tree(const std::string& dir) {
  std::map<std::string, Bytes> files;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(win32::Wide(dir + "\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return files;
  do {
    const std::string name = dir + "\\" + win32::Narrow(found.cFileName);
    if (found.cFileName == std::wstring(L".") || found.cFileName == std::wstring(L"..")) continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      files.merge(Tree(name));
    } else {
      files[name] = ReadAll(name).value_or(Bytes{0xDE, 0xAD});
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return files;
}

// The output name is a plain file on a disk and nothing else: device names, pipes, streams and
// links at the name are refused with the reason, and nothing outside the name is written,
// made or removed; a pipe's server never sees a client. A start that fails after opening
// leaves a file that was there as it was, and lets go of one it made through its handle only.
TEST(WinFiles, TheOutputIsAPlainFileAndAFailedStartLeavesItAsItWas) {
  WinTempDir dir;
  win32::Win32FileSystem files;
  RecordingContainer container;
  win32::SurfaceState surface;
  win32::ElementsState elements;
  ManualTimer timer;
  sim::SimCaptureSystem capture;
  Control control{Platform{container, surface, elements, timer, capture, files}};
  control.Initialize();
  control.InitProperties();
  control.put_Enabled(True);
  ASSERT_EQ(control.Init_DSWendrix(), True);
  // Where deletion goes by the name stored at the opening (Wine), a file the failed start made
  // is emptied and left; where it follows the handle (Windows), it goes.
  const bool deletes_by_name = win32::DeletesByName();

  const Bytes before(100, 0xEE);
  const std::string there = dir.File("there.wav");
  ASSERT_TRUE(WriteAll(there, before));
  for (const std::string& path : {there, dir.File("new.wav")}) {
    capture.FailNext(sim::CaptureCall::Start,
                     Error::Platform(sim::kDsErrBufferLost, "the device refused to start"));
    EXPECT_EQ(control.Wendrix_Start(path), False);
  }
  EXPECT_EQ(ReadAll(there), before);
  EXPECT_EQ(ReadAll(dir.File("new.wav")), deletes_by_name ? std::optional(Bytes{}) : std::nullopt);
  // Windows' own reading of a name: a trailing "." or " " is dropped.
  EXPECT_NO_THROW(files.OpenOutputFile(dir.File("dotted.wav. ."))->Close());
  EXPECT_EQ(ReadAll(dir.File("dotted.wav")), Bytes{});

  ASSERT_TRUE(WriteAll(dir.File("victim.dat"), Bytes(5, 7)));
  ASSERT_TRUE(MakeLink(dir.path(), "link.wav", "victim.dat"));
  ASSERT_TRUE(CreateDirectoryW(win32::Wide(dir.File("samename")).c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(win32::Wide(dir.File("victimdir")).c_str(), nullptr));
  ASSERT_TRUE(WriteAll(dir.File("victimdir\\take.wav"), Bytes(6, 9)));
  ASSERT_TRUE(MakeLink(dir.File("samename"), "take.wav", "../victimdir/take.wav"));
  // A server that waits for a client, as one that would impersonate it does.
  const std::string pipe_name = "\\\\.\\pipe\\wendrix-output-test";
  HANDLE pipe =
      CreateNamedPipeW(win32::Wide(pipe_name).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                       PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  constexpr const char* kDevice = "the name is a device or a pipe, not a file on a disk";
  constexpr const char* kStream = "the name has a stream";
  constexpr const char* kLink = "the name is a link (a symbolic link or junction) to another place";
  const std::pair<std::string, const char*> refused[] = {
      {"NUL", kDevice},
      {"\\\\.\\NUL", kDevice},
      {"COM1", kDevice},
      {"CONOUT$", kDevice},
      {dir.File("NUL"), kDevice},
      {"\\\\?\\GLOBALROOT\\Device\\Null", kDevice},
      {"\\\\.\\" + dir.File("x.wav"), kDevice},
      {pipe_name, kDevice},
      {"\\\\?\\pipe\\wendrix-output-test", kDevice},
      {"\\\\localhost\\pipe\\wendrix-output-test", kDevice},
      {"\\\\localhost\\mailslot\\wendrix-output-test", kDevice},
      {dir.File("take.wav:evil"), kStream},
      {dir.File("there.wav:evil:$DATA"), kStream},
      {"\\\\?\\" + dir.File("take.wav:evil"), kStream},
      {dir.File("link.wav"), kLink},
      {dir.File("samename\\take.wav"), kLink},
  };
  for (const auto& [name, why] : refused) {
    SCOPED_TRACE(name);
    const auto tree = Tree(dir.path());
    container.message_boxes.clear();
    const bool started = control.Wendrix_Start(name) != False;
    if (started) control.Wendrix_Stop();
    EXPECT_FALSE(started);
    EXPECT_EQ(container.message_boxes.size(), 1u);
    const std::string box = container.message_boxes.empty() ? "" : container.message_boxes[0];
    EXPECT_NE(box.find(why), std::string::npos) << box;
    EXPECT_EQ(Tree(dir.path()), tree);
  }
  // No client ever connected: the wait for one is still pending (a client that came and went
  // would make it fail with ERROR_NO_DATA, one still there with ERROR_PIPE_CONNECTED).
  OVERLAPPED connect{};
  connect.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_FALSE(ConnectNamedPipe(pipe, &connect));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  CancelIo(pipe);
  CloseHandle(connect.hEvent);
  CloseHandle(pipe);

  // A file the start made, renamed away and replaced (or its folder replaced by a link to a
  // folder with a file of the same name) before the failed start lets go of it: only the file
  // made is touched.
  ASSERT_TRUE(CreateDirectoryW(win32::Wide(dir.File("moved")).c_str(), nullptr));
  for (const bool folder_swapped : {false, true}) {
    SCOPED_TRACE(folder_swapped ? "folder replaced by a link" : "file replaced");
    const std::string name = folder_swapped ? "swapped.wav" : "made.wav";
    auto made = files.OpenOutputFile(dir.File("moved\\" + name));
    ASSERT_TRUE(made->Created());
    if (folder_swapped) {
      ASSERT_TRUE(MoveFileW(win32::Wide(dir.File("moved")).c_str(),
                            win32::Wide(dir.File("moved-away")).c_str()));
      ASSERT_TRUE(WriteAll(dir.File("victimdir\\" + name), Bytes(3, 4)));
      ASSERT_TRUE(MakeLink(dir.path(), "moved", "victimdir"));
    } else {
      ASSERT_TRUE(MoveFileW(win32::Wide(dir.File("moved\\made.wav")).c_str(),
                            win32::Wide(dir.File("moved\\away.wav")).c_str()));
      ASSERT_TRUE(WriteAll(dir.File("moved\\made.wav"), Bytes(3, 4)));
    }
    const auto tree = Tree(dir.path());
    made->Discard();
    made.reset();
    auto after = Tree(dir.path());
    after.erase(dir.File(folder_swapped ? "moved-away\\" + name : "moved\\away.wav"));
    EXPECT_EQ(after.size() + 1, tree.size());
    for (const auto& [name, bytes] : after) EXPECT_EQ(tree.at(name), bytes) << name;
  }
  // The removal through the handle, as where deletion follows it (under Wine too, with nothing
  // at the name but the file made).
  win32::UniqueFile gone(CreateFileW(win32::Wide(dir.File("gone.wav")).c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW, 0,
                                     nullptr));
  win32::LetGoOfCreated(gone.get(), false);
  gone.reset();
  EXPECT_FALSE(ReadAll(dir.File("gone.wav")));
  EXPECT_EQ(control.UnInit_DSWendrix(), True);
}

}  // namespace
}  // namespace wendrix::test
