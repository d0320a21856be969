#include "platform/sim/sim_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace wendrix::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

uint32_t LongAt(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

std::string TextAt(const Bytes& b, size_t at) {
  return std::string(b.begin() + at, b.begin() + at + 4);
}

TEST(SimFiles, ChunksAreWrittenAndAscendedAsTheMultimediaCallsDo) {
  TempDir dir;
  SimFileSystem fs;
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

  // A chunk whose size was right from the start is not rewritten and gets no pad byte.
  ChunkInfo exact;
  exact.ckid = StringToFourCC("efgh");
  exact.cksize = 2;
  ASSERT_EQ(file->CreateChunk(exact, 0), kFileOk);
  ASSERT_EQ(file->Write("hi", 2), 2);
  ASSERT_EQ(file->Ascend(exact, 0), kFileOk);

  // The RIFF chunk's size counts the form type, both sub-chunks and the pad byte.
  ASSERT_EQ(file->Ascend(riff, 0), kFileOk);
  EXPECT_EQ(riff.cksize, 4u + 12u + 10u);
  ASSERT_EQ(file->Close(), kFileOk);

  const auto b = SimFileSystem::ReadAll(path);
  ASSERT_TRUE(b);
  ASSERT_EQ(b->size(), 34u);
  EXPECT_EQ(TextAt(*b, 0), "RIFF");
  EXPECT_EQ(LongAt(*b, 4), 26u);
  EXPECT_EQ(TextAt(*b, 8), "WAVE");
  EXPECT_EQ(TextAt(*b, 12), "abcd");
  EXPECT_EQ(LongAt(*b, 16), 3u);
  EXPECT_EQ(Bytes(b->begin() + 20, b->begin() + 24), (Bytes{'x', 'y', 'z', 0}));
  EXPECT_EQ(TextAt(*b, 24), "efgh");
  EXPECT_EQ(LongAt(*b, 28), 2u);
  EXPECT_EQ(fs.calls,
            (std::vector<std::string>{"Create " + path, "CreateChunk RIFF 32", "CreateChunk abcd 0",
                                      "Write 3", "Ascend abcd", "CreateChunk efgh 0", "Write 2",
                                      "Ascend efgh", "Ascend RIFF", "Close"}));
}

TEST(SimFiles, AnExistingFileIsEmptiedOnlyByTruncateAndEveryWriteIsOnDiskAtOnce) {
  TempDir dir;
  SimFileSystem fs;
  const std::string path = dir.File("old.bin");
  ASSERT_TRUE(SimFileSystem::WriteAll(path, Bytes(100, 0xEE)));

  auto file = fs.OpenOutputFile(path);
  EXPECT_FALSE(file->Created());
  EXPECT_EQ(SimFileSystem::ReadAll(path)->size(), 100u);
  ASSERT_EQ(file->Truncate(), kFileOk);
  EXPECT_EQ(SimFileSystem::ReadAll(path)->size(), 0u);
  ASSERT_EQ(file->Write("abc", 3), 3);
  EXPECT_EQ(*SimFileSystem::ReadAll(path), Text("abc"));  // no buffer, no close needed
  EXPECT_EQ(file->Seek(1, kSeekSet), 1);
  ASSERT_EQ(file->Write("Z", 1), 1);
  EXPECT_EQ(*SimFileSystem::ReadAll(path), Text("aZc"));
}

TEST(SimFiles, FullDiskCutsWritesShortAndOverwritingStillWorks) {
  TempDir dir;
  SimFileSystem fs;
  const std::string path = dir.File("full.bin");
  auto file = fs.OpenOutputFile(path);
  fs.free_space = 10;
  EXPECT_EQ(file->Write("0123456", 7), 7);
  EXPECT_EQ(file->Write("789abc", 6), 3);  // short
  EXPECT_EQ(file->Write("d", 1), -1);      // nothing fits
  EXPECT_EQ(*fs.free_space, 0u);

  // A chunk header that does not fit fails and leaves the position where it was.
  ChunkInfo chunk;
  chunk.ckid = StringToFourCC("data");
  EXPECT_EQ(file->CreateChunk(chunk, 0), kFileCannotWrite);
  EXPECT_EQ(file->Seek(0, 1), 10);

  // Bytes inside the file take no new space.
  ASSERT_EQ(file->Seek(0, kSeekSet), 0);
  EXPECT_EQ(file->Write("AB", 2), 2);
  ASSERT_EQ(file->Close(), kFileOk);
  auto binary = fs.OpenBinaryFile(path, {});
  EXPECT_NO_THROW(binary->WriteLongAt(4, 0x64636261));
  try {
    binary->WriteLongAt(8, 1);  // runs 2 bytes past the end
    ADD_FAILURE() << "a write past a full disk succeeded";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), errc::DiskFull);
  }
  binary->Close();
  const Bytes b = *SimFileSystem::ReadAll(path);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 8), Text("AB23abcd"));
  EXPECT_EQ(fs.calls.back(), "CloseBinary");
  EXPECT_EQ(fs.calls[fs.calls.size() - 2], "!WriteLongAt 8 1");
}

TEST(SimFiles, BinaryOpeningKeepsTheContentAndWritesLittleEndianLongs) {
  TempDir dir;
  SimFileSystem fs;
  const std::string path = dir.File("keep.bin");
  ASSERT_TRUE(SimFileSystem::WriteAll(path, Text("0123456789")));
  auto file = fs.OpenBinaryFile(path, {});
  file->WriteLongAt(2, -2);
  file->WriteLongAt(12, 0x01020304);  // past the end: the gap is zero-filled
  file->Close();
  EXPECT_EQ(*SimFileSystem::ReadAll(path),
            (Bytes{'0', '1', 0xFE, 0xFF, 0xFF, 0xFF, '6', '7', '8', '9', 0, 0, 4, 3, 2, 1}));

  // A missing file is not created: the patch must not leave a header-less one.
  const std::string missing = dir.File("missing.bin");
  EXPECT_THROW(fs.OpenBinaryFile(missing, {}), Error);
  EXPECT_FALSE(std::filesystem::exists(missing));

  // A relative name is resolved against the current directory once; an absolute one stays.
  EXPECT_EQ(fs.FullPath(path), path);
  const auto here = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const std::string resolved = fs.FullPath("take.wav");
  std::filesystem::current_path(here);
  EXPECT_TRUE(std::filesystem::path(resolved).is_absolute()) << resolved;
  EXPECT_TRUE(
      std::filesystem::equivalent(std::filesystem::path(resolved).parent_path(), dir.path()));
}

TEST(SimFiles, OpeningFailuresNameThePathAndTheCause) {
  TempDir dir;
  SimFileSystem fs;
  struct Case {
    std::string path;
    std::vector<int32_t> numbers;
  };
  const Case cases[] = {
      {dir.File("no such dir/a.wav"), {errc::PathNotFound}},
      // A directory: Windows calls it a denied access.
      {dir.path(), {errc::PathFileAccess, errc::PermissionDenied}},
  };
  for (const Case& c : cases) {
    for (int binary = 0; binary < 2; ++binary) {
      SCOPED_TRACE(c.path + (binary ? " (binary)" : ""));
      try {
        if (binary) {
          fs.OpenBinaryFile(c.path, {});
        } else {
          fs.OpenOutputFile(c.path);
        }
        ADD_FAILURE() << "opened";
      } catch (const Error& e) {
        EXPECT_NE(std::find(c.numbers.begin(), c.numbers.end(), e.number()), c.numbers.end())
            << e.number();
        EXPECT_NE(e.description().find("\"" + c.path + "\""), std::string::npos) << e.description();
      }
    }
  }
  EXPECT_EQ(fs.calls.front(), "!Create " + dir.File("no such dir/a.wav"));
}

TEST(SimFiles, InjectedFaults) {
  TempDir dir;
  SimFileSystem fs;
  const std::string path = dir.File("f.bin");

  fs.fail_create = Error(errc::PermissionDenied, "denied");
  EXPECT_THROW(fs.OpenOutputFile(path), Error);
  EXPECT_FALSE(std::filesystem::exists(path));
  fs.fail_create.reset();

  fs.fail_close = true;
  auto file = fs.OpenOutputFile(path);
  ASSERT_EQ(file->Write("abcd", 4), 4);
  EXPECT_EQ(file->Close(), kFileCannotClose);
  EXPECT_EQ(file->Write("e", 1), -1);  // closed all the same
  EXPECT_EQ(*SimFileSystem::ReadAll(path), Text("abcd"));

  fs.fail_binary_open = Error(errc::PermissionDenied, "denied");
  EXPECT_THROW(fs.OpenBinaryFile(path, {}), Error);
  fs.fail_binary_open.reset();

  fs.fail_binary_write = Error(errc::PathFileAccess, "write");
  auto binary = fs.OpenBinaryFile(path, {});
  EXPECT_THROW(binary->WriteLongAt(0, 1), Error);
  fs.fail_binary_write.reset();
  fs.fail_binary_close = Error(errc::PathFileAccess, "close");
  EXPECT_THROW(binary->Close(), Error);
  EXPECT_EQ(*SimFileSystem::ReadAll(path), Text("abcd"));
  EXPECT_EQ(fs.calls,
            (std::vector<std::string>{"!Create " + path, "Create " + path, "Write 4", "!Close",
                                      "!Write 1", "!OpenBinary " + path, "OpenBinary " + path,
                                      "!WriteLongAt 0 1", "!CloseBinary"}));
}

TEST(SimFiles, NonAsciiNamesWork) {
  TempDir dir;
  SimFileSystem fs;
  const std::string name =
      "Aufnahme Gr\xC3\xBC\xC3\x9F"
      "e \xE5\xBD\x95\xE9\x9F\xB3.wav";
  const std::string path = dir.File(name);
  auto file = fs.OpenOutputFile(path);
  ASSERT_EQ(file->Write("ok", 2), 2);
  ASSERT_EQ(file->Close(), kFileOk);
  auto binary = fs.OpenBinaryFile(path, {});
  binary->WriteLongAt(2, 7);
  binary->Close();
  EXPECT_EQ(*SimFileSystem::ReadAll(path), (Bytes{'o', 'k', 7, 0, 0, 0}));

  // The name on disk is the same UTF-8 text, not a mangled one.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(
           std::filesystem::path(std::u8string(dir.path().begin(), dir.path().end())))) {
    const std::u8string n = entry.path().filename().u8string();
    names.emplace_back(n.begin(), n.end());
  }
  EXPECT_EQ(names, std::vector<std::string>{name});
}

}  // namespace
}  // namespace wendrix::sim
