#include "platform/win32/file_identity.h"

namespace wendrix::win32 {
namespace {

constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);  // FileIdInfo

struct FileIdInformation {  // FILE_ID_INFO (Windows 8, Server 2012)
  ULONGLONG VolumeSerialNumber;
  BYTE FileId[16];
};

uint64_t Bytes(const BYTE* bytes) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | bytes[i];
  return v;
}

bool StartsWith(const wchar_t* text, const wchar_t* start) {
  while (*start)
    if (*text++ != *start++) return false;
  return true;
}

// Whether the volume numbers its files by where their entries are (FAT12/16/32, exFAT).
bool IndexIsAPlace(HANDLE file) {
  wchar_t name[MAX_PATH + 1] = L"";
  if (!GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, nullptr, name,
                                     MAX_PATH + 1))
    return false;
  return StartsWith(name, L"FAT") || (StartsWith(name, L"exFAT") && name[5] == 0);
}

}  // namespace

FileIdentity IdentityOf(HANDLE file) {
  FileIdentity identity;
  FileIdInformation id{};
  BY_HANDLE_FILE_INFORMATION info{};
  // Before Windows 8 (and on some redirectors) only the 64-bit index is there.
  if (GetFileInformationByHandleEx(file, kFileIdInfo, &id, sizeof id)) {
    identity.volume = id.VolumeSerialNumber;
    identity.index = Bytes(id.FileId);
    identity.index_high = Bytes(id.FileId + 8);
  } else if (GetFileInformationByHandle(file, &info)) {
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
  } else {
    return FileIdentity{};
  }
  if (IndexIsAPlace(file) && GetFileInformationByHandle(file, &info)) {
    identity.created = static_cast<int64_t>(uint64_t{info.ftCreationTime.dwHighDateTime} << 32 |
                                            info.ftCreationTime.dwLowDateTime);
  }
  return identity;
}

}  // namespace wendrix::win32
