#include "setup/runtime/prerequisite.h"

#include <utility>

#include "setup/core/handles.h"
#include "setup/core/install_log.h"
#include "setup/core/language.h"
#include "setup/core/paths.h"
#include "setup/core/progress.h"
#include "setup/core/protected_folder.h"
#include "setup/core/sha256.h"
#include "setup/core/text.h"
#include "setup/runtime/download.h"
#include "setup/runtime/runtime_descriptor.h"
#include "setup/runtime/runtime_detection.h"

namespace {

constexpr DWORD kInstallFailedExitCode = 1603;
constexpr wchar_t kInstallerParameters[] = L" /install /quiet /norestart";

// Starts the image itself, whatever the shell associates with its suffix, and waits
// for it without limit; 1603 when it could not be started or its code not read. The
// lock on the verified package is released once the process exists.
DWORD RunRuntimeInstaller(const std::wstring& path, UniqueFile packageLock) {
  std::wstring commandLine = L"\"" + path + L"\"" + kInstallerParameters;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION started = {};
  BOOL created = CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &started);
  packageLock.reset();
  if (!created) LogEvent(L"runtime installer not started: ", SystemError{GetLastError()});
  if (!created) return kInstallFailedExitCode;
  UniqueHandle process(started.hProcess);
  UniqueHandle thread(started.hThread);
  if (!process) return kInstallFailedExitCode;
  WaitForSingleObject(process.get(), INFINITE);
  DWORD exitCode = kInstallFailedExitCode;
  if (!GetExitCodeProcess(process.get(), &exitCode)) return kInstallFailedExitCode;
  LogEvent(L"runtime installer ended with exit code ", exitCode);
  return exitCode;
}

bool IsInstallerSuccess(DWORD exitCode) { return exitCode == 0 || exitCode == ERROR_SUCCESS_REBOOT_REQUIRED; }

UniqueFile DownloadVerified(const RuntimeDescriptor& descriptor, const std::wstring& packagePath,
                           const HWND* progressTarget) {
  const wchar_t* text = Tr(L"Downloading required components", L"正在下载必要组件");
  PostProgress(progressTarget, text, 0.1);
  if (!DownloadToFile(descriptor, packagePath, progressTarget)) return UniqueFile();
  return OpenVerifiedRuntimePackage(packagePath, descriptor);
}

}  // namespace

// What was verified is what starts: the handle stays open until the process exists.
UniqueFile OpenVerifiedRuntimePackage(const std::wstring& path, const RuntimeDescriptor& descriptor) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) LogEvent(L"runtime package not opened: ", SystemError{GetLastError()});
  if (!file) return file;
  LARGE_INTEGER size = {};
  std::wstring digest;
  if (!GetFileSizeEx(file.get(), &size) || std::uint64_t(size.QuadPart) != descriptor.size ||
      !ComputeOpenFileSha256(file.get(), digest) || !EqualsIgnoreAsciiCase(digest, descriptor.sha256)) {
    LogEvent(L"runtime package refused: ", size.QuadPart, L" bytes, SHA-256 ", digest, L"; expected ",
             descriptor.size, L" bytes, SHA-256 ", descriptor.sha256);
    return UniqueFile();
  }
  LogEvent(L"runtime package verified: ", size.QuadPart, L" bytes, SHA-256 ", digest, L" as described");
  return file;
}

std::wstring RuntimePackagePath() {
  return JoinPath(InstallerTempFolder(),
                  L"windowsdesktop-runtime-" + DecimalText(GetCurrentProcessId()) + L".download");
}

bool EnsureDesktopRuntime(const HWND* progressTarget, std::wstring& message) {
  if (IsDesktopRuntimeInstalled()) return true;
  LogEvent(L"desktop runtime 8 missing");
  RuntimeDescriptor descriptor;
  if (!ReadRuntimeDescriptor(descriptor)) {
    message = Tr(L"Information for a required component is missing. Download setup again.",
                 L"必要组件信息缺失，请重新下载安装程序。");
    LogEvent(L"runtime descriptor missing or not valid, message stored: ", message);
    return false;
  }
  HeldInstallerTemp held;  // until the runtime installer has run
  if (!HoldProtectedInstallerTemp(InstallerTempFolder(), held)) {
    message = Tr(L"The installer could not create its temporary directory.", L"安装程序无法创建临时目录。");
    LogEvent(L"installer temporary folder refused, message stored: ", message);
    return false;
  }
  std::wstring packagePath = RuntimePackagePath();
  DeleteFileW(packagePath.c_str());
  UniqueFile packageLock = DownloadVerified(descriptor, packagePath, progressTarget);
  if (!packageLock) {
    DeleteFileW(packagePath.c_str());
    message = Tr(L"A required component could not be downloaded safely. Check the network and try again.",
                 L"必要组件未能安全下载，请检查网络后重试。");
    LogEvent(L"runtime download failed, message stored: ", message);
    return false;
  }
  PostProgress(progressTarget, Tr(L"Installing required components", L"正在安装必要组件"), 0.32);
  DWORD exitCode = RunRuntimeInstaller(packagePath, std::move(packageLock));
  DeleteFileW(packagePath.c_str());
  // The runtime's installer has already started a restart: staging and swapping folders
  // now would race Windows shutting down.
  if (exitCode == ERROR_SUCCESS_REBOOT_INITIATED) {
    message = Tr(L"Windows is restarting to finish installing the desktop runtime. Run setup again after the "
                 L"restart.",
                 L"Windows 正在重新启动以完成桌面运行时的安装。请在重新启动后再次运行安装程序。");
    return false;
  }
  if (IsInstallerSuccess(exitCode) && IsDesktopRuntimeInstalled()) return true;
  message = Tr(L"A required component could not be installed. Try again.", L"必要组件未能安装，请重试。");
  LogEvent(L"runtime not installed, message stored: ", message);
  return false;
}
