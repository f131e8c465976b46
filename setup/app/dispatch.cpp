#include "setup/app/dispatch.h"

#include "setup/core/environment.h"
#include "setup/core/existing_install.h"
#include "setup/core/folder_identity.h"
#include "setup/core/handles.h"
#include "setup/core/install_log.h"
#include "setup/core/language.h"
#include "setup/core/paths.h"
#include "setup/core/text.h"
#include "setup/engine/install_transaction.h"
#include "setup/engine/installed_record.h"
#include "setup/ui/dialogs.h"
#include "setup/ui/setup_window.h"
#include "setup/uninstall/uninstall_flow.h"

namespace {

constexpr DWORD kStarterWaitMilliseconds = 120000;

struct Switches {
  bool quiet, worker, uninstall, update, repair;
};

// Refusal of a mode: silent with "/quiet", otherwise told in the message dialog.
int Refuse(bool quiet, const wchar_t* english, const wchar_t* chinese) {
  LogEvent(L"refused: ", english);
  if (!quiet) ShowMessageDialog(Tr(english, chinese));
  return kExitRefused;
}

int RefuseStarterStillRunning(bool quiet) {
  return Refuse(quiet, L"Velmora did not close in time.", L"岫澜未能及时关闭，请关闭程序后重试。");
}

int ExitCodeOf(UninstallOutcome outcome) {
  switch (outcome) {
    case UninstallOutcome::kRemoved: return kExitDone;
    case UninstallOutcome::kApplicationRunning: return kExitRefused;
    case UninstallOutcome::kIncomplete: break;
  }
  return kExitIncomplete;
}

const wchar_t* DescribeOutcome(InstallModeOutcome outcome) {
  switch (outcome) {
    case InstallModeOutcome::Fresh: return L"fresh install";
    case InstallModeOutcome::Update: return L"update";
    case InstallModeOutcome::Repair: return L"repair";
    case InstallModeOutcome::NotInstalled: return L"refused, not installed";
    case InstallModeOutcome::NewerInstalled: return L"refused, newer version installed";
  }
  return L"";
}

const wchar_t* DescribeComparison(const std::wstring& location, const std::wstring& version) {
  if (location.empty()) return L"nothing registered";
  switch (CompareVersions(version)) {
    case 0: return L"same version";
    case 1: return L"registered is newer";
    default: return L"registered is older or unreadable";
  }
}

void LogInstallDecision(InstallModeOutcome outcome, const std::wstring& location, const std::wstring& version,
                        const Switches& switches) {
  LogEvent(L"install mode: ", DescribeOutcome(outcome), L" (registered version \"", version, L"\" in \"", location,
           L"\", this version ", kProductVersion, L": ", DescribeComparison(location, version),
           switches.update ? L"; /update" : L"", switches.repair ? L"; /repair" : L"", L")");
}

int UninstallWorkerMode(const ArgumentList& arguments, bool quiet) {
  LogEvent(L"uninstall worker for \"", FindSwitchValue(arguments, kTargetSwitch), L"\"");
  if (!WaitForStarter(OpenStarter(arguments))) return kExitRefused;
  auto target = IdentifyFolder(FindSwitchValue(arguments, kTargetSwitch));
  if (!target) return kExitIncomplete;
  return ExitCodeOf(RunUninstallAndReport(*target, quiet));
}

int UninstallMode(const ArgumentList& arguments, bool quiet) {
  const Starter starter = OpenStarter(arguments);  // before the confirmation
  const std::wstring given = FindSwitchValue(arguments, kInstallDirSwitch);
  const std::wstring text = !given.empty() ? given : ReadUninstallValue(L"InstallLocation");
  if (text.empty()) return kExitDone;
  auto folder = IdentifyFolder(text);
  if (!folder) {
    return Refuse(quiet, L"The installation folder is not valid.", L"安装位置无效，请重新运行卸载程序。");
  }
  LogEvent(L"uninstall mode for \"", folder->path, given.empty() ? L"\" (registered)" : L"\" (/install-dir)");
  if (!quiet && !ConfirmUninstall()) return kExitDone;
  if (!WaitForStarter(starter)) return RefuseStarterStillRunning(quiet);
  if (!given.empty()) return ExitCodeOf(RunUninstallAndReport(*folder, quiet));
  return HandOffUninstall(*folder, quiet) ? kExitDone : kExitIncomplete;
}

int InstallMode(const ArgumentList& arguments, const Switches& switches, HINSTANCE module) {
  const bool quiet = switches.quiet;
  const Starter starter = OpenStarter(arguments);
  std::wstring given = FindSwitchValue(arguments, kInstallDirSwitch);
  std::wstring location = ReadUninstallValue(L"InstallLocation");
  std::wstring version = ReadUninstallValue(L"DisplayVersion");
  std::wstring chosen = !given.empty() ? given : !location.empty() ? location : DefaultInstallFolder();
  auto identity = IdentifyFolder(chosen);
  InstallModeOutcome outcome = DecideInstallMode(location, version, switches.repair, switches.update);
  // A fresh install of ours that ended before its registration was complete: its folder
  // holds a complete record, and installing the package again repairs it.
  if (location.empty() && identity && HoldsInstalledRecord(identity->path)) outcome = InstallModeOutcome::Repair;
  LogInstallDecision(outcome, location, version, switches);
  if (outcome == InstallModeOutcome::NotInstalled) {
    return Refuse(quiet, L"Velmora is not installed yet.", L"尚未安装岫澜，请先完成安装。");
  }
  if (!identity) {
    return Refuse(quiet, L"The installation folder is not valid.", L"安装位置无效，请重新选择。");
  }
  const std::wstring& folder = identity->path;
  LogEvent(L"installation folder \"", folder, L"\"");
  if (!WaitForStarter(starter)) return RefuseStarterStillRunning(quiet);
  if (outcome == InstallModeOutcome::NewerInstalled) {
    return Refuse(quiet,
                  L"A newer version of Velmora is already installed. Uninstall it before installing "
                  L"this version.",
                  L"已安装更高版本的岫澜；如需安装当前版本，请先卸载现有版本。");
  }
  if (quiet) {
    std::wstring discarded;
    return InstallPackage(folder, nullptr, discarded) ? kExitDone : kExitRefused;
  }
  WindowStartState start{folder, outcome == InstallModeOutcome::Update, outcome == InstallModeOutcome::Repair};
  return RunSetupWindow(start, module);
}

}  // namespace

Starter OpenStarter(const ArgumentList& arguments) {
  Starter starter;
  std::wstring value = FindSwitchValue(arguments, kWaitPidSwitch);
  if (value.empty()) return starter;
  auto pid = ReadUnsigned32(value, true);
  if (!pid || *pid == 0) {
    starter.valid = false;
    return starter;
  }
  starter.process.reset(OpenProcess(SYNCHRONIZE, FALSE, *pid));
  // ERROR_INVALID_PARAMETER: no such process any more, nothing to wait for.
  if (!starter.process) starter.valid = GetLastError() == ERROR_INVALID_PARAMETER;
  return starter;
}

bool WaitForStarter(const Starter& starter) {
  if (!starter.valid) return false;
  if (!starter.process) return true;
  return WaitForSingleObject(starter.process.get(), kStarterWaitMilliseconds) == WAIT_OBJECT_0;
}

int DispatchMode(const ArgumentList& arguments, const DispatchConfiguration& configuration) {
  Switches switches{HasSwitch(arguments, kQuietSwitch), HasSwitch(arguments, kUninstallWorkerSwitch),
                    HasSwitch(arguments, kUninstallSwitch), HasSwitch(arguments, kUpdateSwitch),
                    HasSwitch(arguments, kRepairSwitch)};
  if (configuration.maintenance && !switches.uninstall && !switches.worker) return kExitNoUninstallSwitch;
  if (!IsSupportedWindows()) {
    if (!switches.quiet) {
      ShowMessageDialog(Tr(L"Velmora requires Windows 10, Windows 11, or a supported Windows Server Desktop "
                           L"Experience installation.",
                           L"岫澜需要 Windows 10、Windows 11，或受支持的 Windows Server 桌面体验版。"));
    }
    return kExitUnsupportedWindows;
  }
  if (switches.worker) return UninstallWorkerMode(arguments, switches.quiet);
  if (switches.uninstall) return UninstallMode(arguments, switches.quiet);
  return InstallMode(arguments, switches, configuration.module);
}

void LogProgramStart(bool maintenance) {
  if (!IsInstallLogOpen()) return;
  wchar_t locale[LOCALE_NAME_MAX_LENGTH] = {};
  GetUserDefaultLocaleName(locale, LOCALE_NAME_MAX_LENGTH);
  wchar_t display[LOCALE_NAME_MAX_LENGTH] = {};
  LCIDToLocaleName(MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT), display, LOCALE_NAME_MAX_LENGTH, 0);
  LogEvent(L"Velmora.Maintenance ", kProductVersion, maintenance ? L", maintenance" : L", setup",
           L" configuration, running from \"", GetOwnProgramPath(), L"\"");
  LogEvent(L"command line: ", GetCommandLineW());
  LogEvent(L"Windows ", WindowsVersionText(), L", user locale ", locale, L", display language ", display,
           L", texts in ", UseEnglish ? L"English" : L"Chinese");
}
