// Test driver for the runtime prerequisite: runs the download or the whole flow on a
// worker thread while the main thread receives the progress messages, as the setup
// window does, and prints what happened, one fact per line:
//   runtime-probe download URL SIZE DEST [--progress] [--receive-timeout MS]
//   runtime-probe ensure [--progress] [--stale] [--program-data VALUE|--no-program-data]
//   runtime-probe set-descriptor EXE FILE     (embeds FILE as the descriptor of EXE)
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

#include "setup/core/handles.h"
#include "setup/core/paths.h"
#include "setup/core/progress.h"
#include "setup/core/switches.h"
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

// Runs work(target) on a thread; target points at a message-only window when progress
// is wanted. Prints every progress message in arrival order, then the result.
bool RunWithProgress(bool wantProgress, const std::function<bool(const HWND*)>& work) {
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  bool result = false;
  std::thread worker([&] {
    result = work(wantProgress ? &window : nullptr);
    PostMessageW(window, kWorkDone, 0, 0);
  });
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0 && message.message != kWorkDone) {
    if (message.message != ProgressMessage) continue;
    auto* update = reinterpret_cast<ProgressUpdate*>(message.lParam);
    Print(L"progress " + std::to_wstring(update->fraction) + L" " + update->text);
    delete update;
  }
  worker.join();
  DestroyWindow(window);
  Print(result ? L"result 1" : L"result 0");
  return result;
}

int Download(const ArgumentList& args) {
  if (args.size() < 5) return 2;
  RuntimeDescriptor descriptor{args[2], std::stoull(args[3]), L""};
  DownloadTimeouts timeouts;
  std::wstring receive = FindSwitchValue(args, L"--receive-timeout");
  if (!receive.empty()) timeouts.receive = std::stoi(receive);
  auto start = std::chrono::steady_clock::now();
  bool ok = RunWithProgress(HasSwitch(args, L"--progress"), [&](const HWND* target) {
    return DownloadToFile(descriptor, args[4], target, timeouts);
  });
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  Print(L"elapsed " + std::to_wstring(elapsed.count()));
  return ok ? 0 : 1;
}

int Ensure(const ArgumentList& args) {
  Print(L"pid " + std::to_wstring(GetCurrentProcessId()));
  // Wine sets ProgramData itself at start, so the test's value is applied here.
  std::wstring programData = FindSwitchValue(args, L"--program-data");
  if (!programData.empty()) SetEnvironmentVariableW(L"ProgramData", programData.c_str());
  if (HasSwitch(args, L"--no-program-data")) SetEnvironmentVariableW(L"ProgramData", nullptr);
  if (HasSwitch(args, L"--stale")) {
    EnsureDirectory(InstallerTempFolder());
    if (!(std::ofstream(std::filesystem::path(RuntimePackagePath())) << "stale")) return 2;
  }
  std::wstring message = L"<untouched>";
  bool ok = RunWithProgress(HasSwitch(args, L"--progress"),
                            [&](const HWND* target) { return EnsureDesktopRuntime(target, message); });
  Print(L"message " + message);
  return ok ? 0 : 1;
}

int SetDescriptor(const ArgumentList& args) {
  if (args.size() < 4) return 2;
  std::ifstream file(std::filesystem::path(args[3]), std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(file), {}};
  UniqueResourceUpdate update(BeginUpdateResourceW(args[2].c_str(), FALSE));
  const LPWSTR id = MAKEINTRESOURCEW(RuntimeDescriptorResourceId);
  bool updated = file && update &&
                 UpdateResourceW(update.get(), RT_RCDATA, id, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                 bytes.data(), DWORD(bytes.size()));
  return updated && EndUpdateResourceW(update.release(), FALSE) ? 0 : 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  ArgumentList args(argv, argv + argc);
  if (args.size() < 2) return 2;
  if (args[1] == L"download") return Download(args);
  if (args[1] == L"ensure") return Ensure(args);
  if (args[1] == L"set-descriptor") return SetDescriptor(args);
  return 2;
}
