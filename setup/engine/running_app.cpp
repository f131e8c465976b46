#include "setup/engine/running_app.h"

#include <windows.h>
#include <tlhelp32.h>

#include <vector>

#include "setup/core/handles.h"
#include "setup/core/no_follow.h"
#include "setup/core/paths.h"
#include "setup/core/text.h"
#include "setup/engine/install_transaction.h"

namespace {

constexpr DWORD kImagePathBufferSize = 32768;

// The process's image path in the usual form, or empty when it cannot be asked.
std::wstring ProcessImagePath(DWORD processId) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return {};
  std::vector<wchar_t> buffer(kImagePathBufferSize, L'\0');
  DWORD length = kImagePathBufferSize;
  if (!QueryFullProcessImageNameW(process.get(), 0, buffer.data(), &length)) return {};
  return std::wstring(buffer.data(), length);
}

// By the folder's identity: a process started through a short name reports that name.
bool IsStartedFrom(const std::wstring& image, const FolderIdentity& folder) {
  size_t last = image.find_last_of(L"\\/");
  if (last == std::wstring::npos || !EqualsIgnoreAsciiCase(image.substr(last + 1), kApplicationExeName)) return false;
  auto imageFolder = IdentifyFolderOf(image);
  return imageFolder && IsSameFolder(*imageFolder, folder);
}

}  // namespace

bool IsApplicationRunning(const FolderIdentity& installFolder) {
  UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return true;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  if (!Process32FirstW(snapshot.get(), &entry)) return false;
  do {
    if (!EqualsIgnoreAsciiCase(entry.szExeFile, kApplicationExeName)) continue;
    std::wstring image = ProcessImagePath(entry.th32ProcessID);
    if (IsStartedFrom(image, installFolder)) return true;
  } while (Process32NextW(snapshot.get(), &entry));
  return false;
}

void RemoveUpdateCache() {
  std::wstring localAppData = ReadEnvironmentVariable(L"LOCALAPPDATA");
  if (localAppData.empty()) return;
  const std::wstring base = JoinPath(localAppData, L"Velmora");
  // The user owns this folder. A base that is a link is left alone with everything
  // below it; a plain one is held without delete sharing, so that it cannot be swapped
  // for a link while its two folders go. DeleteTree removes a link as itself.
  OpenedEntry held;
  if (OpenEntryItself(base, ExpectedFinalPath(base), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, held) !=
          OpenOutcome::kOpened ||
      !IsPlainDirectory(held)) {
    return;
  }
  DeleteTree(JoinPath(base, L"updates"));
  DeleteTree(JoinPath(base, L"cache"));
  DeleteOpenedEntry(held);  // only when nothing else is left in it
}
