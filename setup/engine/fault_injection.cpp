#include "setup/engine/fault_injection.h"

namespace {

HRESULT SaveShortcut(IPersistFile* file, LPCOLESTR path, BOOL remember) { return file->Save(path, remember); }

}  // namespace

EngineCalls RealEngineCalls() {
  return EngineCalls{MoveFileExW, RemoveDirectoryW, RegSetValueExW, SaveShortcut, WriteFile, FlushFileBuffers,
                     CreateFileW, ReadPayloadManifest};
}

EngineCalls engineCalls = RealEngineCalls();
