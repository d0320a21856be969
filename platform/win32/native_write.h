// NtWriteFile, documented for drivers (ZwWriteFile) and exported by ntdll since the first NT;
// the user-mode headers leave it out.
#pragma once

#include "platform/win32/win_headers.h"
// (first: winternl.h needs the Windows headers before it)

#include <winternl.h>

extern "C" NTSTATUS NTAPI NtWriteFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc,
                                      void* apc_context, IO_STATUS_BLOCK* status, const void* data,
                                      ULONG count, LARGE_INTEGER* offset, ULONG* key);
