// Test driver for the runtime prerequisite: runs the download or the whole flow on a
// worker thread while the main thread receives the progress messages, as the setup
// window does, and prints what happened, one fact per line:
//   runtime-probe download URL SIZE DEST [--progress] [--receive-timeout MS]
//   runtime-probe ensure [--progress] [--stale] [--program-data VALUE|--no-program-data]
//   runtime-probe set-descriptor EXE FILE     (embeds FILE as the descriptor of EXE)
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "setup/core/handles.h"
#include "setup/core/paths.h"
#include "setup/core/progress.h"
#include "setup/core/text.h"
#include "setup/runtime/download.h"
#include "setup/runtime/prerequisite.h"
#include "setup/runtime/runtime_descriptor.h"

namespace {

constexpr UINT kWorkDone = WM_APP + 1;

// An open resource update: discarded unless released to EndUpdateResourceW.
struct ResourceUpdateTraits {
  using Value = HANDLE;
  static Value Invalid() { return nullptr; }
  static void Close(Value h) { EndUpdateResourceW(h, TRUE); }
};
using UniqueResourceUpdate = UniqueResource<ResourceUpdateTraits>;

void Print(const std::wstring& line) {
  std::string bytes = WideToUtf8(line + L"\n");
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

bool HasOption(const std::vector<std::wstring>& args, const wchar_t* name) {
  for (const auto& arg : args) {
    if (arg == name) return true;
  }
  return false;
}

std::wstring OptionValue(const std::vector<std::wstring>& args, const wchar_t* name) {
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == name) return args[i + 1];
  }
  return {};
}

// Runs work(target) on a thread; target points at a message-only window when
// progress is wanted. Prints every progress message in arrival order.
bool RunWithProgress(bool wantProgress, const std::function<bool(const HWND*)>& work) {
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  bool result = false;
  std::thread worker([&] {
    result = work(wantProgress ? &window : nullptr);
    PostMessageW(window, kWorkDone, 0, 0);
  });
  MSG message;
  int posted = 0;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == kWorkDone) break;
    if (message.message == ProgressMessage) {
      auto* update = reinterpret_cast<ProgressUpdate*>(message.lParam);
      wchar_t fraction[64];
      swprintf(fraction, 64, L"%.6f", update->fraction);
      Print(L"progress " + std::wstring(fraction) + L" " + update->text);
      delete update;
      ++posted;
    }
  }
  worker.join();
  DestroyWindow(window);
  Print(L"posted " + std::to_wstring(posted));
  return result;
}

int Download(const std::vector<std::wstring>& args) {
  if (args.size() < 5) return 2;
  RuntimeDescriptor descriptor{args[2], std::stoull(args[3]), L""};
  DownloadTimeouts timeouts;
  std::wstring receive = OptionValue(args, L"--receive-timeout");
  if (!receive.empty()) timeouts.receive = std::stoi(receive);
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  bool ok = RunWithProgress(HasOption(args, L"--progress"), [&](const HWND* target) {
    QueryPerformanceCounter(&start);
    bool downloaded = DownloadToFile(descriptor, args[4], target, timeouts);
    QueryPerformanceCounter(&end);
    return downloaded;
  });
  wchar_t seconds[64];
  swprintf(seconds, 64, L"%.3f", double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart));
  Print(L"elapsed " + std::wstring(seconds));
  Print(ok ? L"result 1" : L"result 0");
  return ok ? 0 : 1;
}

bool PlantStalePackage() {
  if (!EnsureDirectory(InstallerTempFolder())) return false;
  UniqueFile file(CreateFileW(RuntimePackagePath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && WriteFile(file.get(), "stale", 5, &written, nullptr);
}

int Ensure(const std::vector<std::wstring>& args) {
  Print(L"pid " + std::to_wstring(GetCurrentProcessId()));
  // Wine sets ProgramData itself at start, so the test's value is applied here.
  std::wstring programData = OptionValue(args, L"--program-data");
  if (!programData.empty()) SetEnvironmentVariableW(L"ProgramData", programData.c_str());
  if (HasOption(args, L"--no-program-data")) SetEnvironmentVariableW(L"ProgramData", nullptr);
  if (HasOption(args, L"--stale") && !PlantStalePackage()) return 2;
  std::wstring message = L"<untouched>";
  bool ok = RunWithProgress(HasOption(args, L"--progress"),
                            [&](const HWND* target) { return EnsureDesktopRuntime(target, message); });
  Print(L"message " + message);
  Print(ok ? L"result 1" : L"result 0");
  return ok ? 0 : 1;
}

int SetDescriptor(const std::vector<std::wstring>& args) {
  if (args.size() < 4) return 2;
  UniqueFile file(CreateFileW(args[3].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return 2;
  std::vector<char> bytes(GetFileSize(file.get(), nullptr));
  DWORD read = 0;
  if (!ReadFile(file.get(), bytes.data(), DWORD(bytes.size()), &read, nullptr) || read != bytes.size()) return 2;
  UniqueResourceUpdate update(BeginUpdateResourceW(args[2].c_str(), FALSE));
  if (!update || !UpdateResourceW(update.get(), RT_RCDATA, MAKEINTRESOURCEW(RuntimeDescriptorResourceId),
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), bytes.data(), DWORD(bytes.size()))) {
    return 2;
  }
  return EndUpdateResourceW(update.release(), FALSE) ? 0 : 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv, argv + argc);
  if (args.size() < 2) return 2;
  if (args[1] == L"download") return Download(args);
  if (args[1] == L"ensure") return Ensure(args);
  if (args[1] == L"set-descriptor") return SetDescriptor(args);
  return 2;
}
