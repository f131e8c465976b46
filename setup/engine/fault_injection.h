// The few system calls of the engine that rarely fail for real, reached through one
// table so that tests can make them fail and check the rollback. Programs never change
// the table; it always holds the real calls there.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>
#include <vector>

#include "setup/engine/payload_manifest.h"

struct EngineCalls {
  BOOL(WINAPI* moveFile)(LPCWSTR from, LPCWSTR to, DWORD flags);
  BOOL(WINAPI* removeDirectory)(LPCWSTR path);
  LSTATUS(WINAPI* setRegistryValue)(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                    DWORD size);
  HRESULT (*saveShortcut)(IPersistFile* file, LPCOLESTR path, BOOL remember);
  BOOL(WINAPI* writeFile)(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
  BOOL(WINAPI* flushFile)(HANDLE file);
  HANDLE(WINAPI* createFile)(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD flags, HANDLE templateFile);
  // Not a fault point: lets tests hand packages of any shape to the real extraction.
  bool (*readPayloadManifest)(std::vector<PayloadEntry>& entries, std::wstring& manifestText);
};

// The table every engine call goes through.
extern EngineCalls engineCalls;

// The real calls, for restoring the table and for fakes that fail only sometimes.
EngineCalls RealEngineCalls();
