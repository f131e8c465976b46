#include "setup/runtime/download.h"

#include <winhttp.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "setup/core/handles.h"
#include "setup/core/install_log.h"
#include "setup/core/language.h"
#include "setup/core/progress.h"

namespace {

struct WinHttpHandleTraits {
  using Value = HINTERNET;
  static Value Invalid() { return nullptr; }
  static void Close(Value h) { WinHttpCloseHandle(h); }
};
using UniqueInternet = UniqueResource<WinHttpHandleTraits>;

constexpr wchar_t kUserAgent[] = L"VelmoraSetup/1.0";
constexpr DWORD kHostBufferSize = 512;
constexpr DWORD kPathBufferSize = 4096;
constexpr DWORD kReadBufferSize = 1048576;
constexpr double kFirstFraction = 0.1;
constexpr double kFractionSpan = 0.22;

struct UrlParts {
  wchar_t host[kHostBufferSize] = {};
  wchar_t path[kPathBufferSize] = {};
  wchar_t extra[kPathBufferSize] = {};
  INTERNET_PORT port = 0;
  INTERNET_SCHEME scheme = INTERNET_SCHEME_HTTP;
};

bool CrackUrl(const std::wstring& url, UrlParts& parts) {
  URL_COMPONENTS components = {};
  components.dwStructSize = sizeof(components);
  components.lpszHostName = parts.host;
  components.dwHostNameLength = kHostBufferSize;
  components.lpszUrlPath = parts.path;
  components.dwUrlPathLength = kPathBufferSize;
  components.lpszExtraInfo = parts.extra;
  components.dwExtraInfoLength = kPathBufferSize;
  if (!WinHttpCrackUrl(url.c_str(), DWORD(url.size()), 0, &components)) return false;
  parts.port = components.nPort;
  parts.scheme = components.nScheme;
  return true;
}

// The system's proxy settings, a PAC script included; Windows before 8.1 refuses the
// automatic kind and gets the default proxy configuration instead.
UniqueInternet OpenSession(const DownloadTimeouts& timeouts) {
  UniqueInternet session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) {
    LogEvent(L"automatic proxy settings refused (", SystemError{GetLastError()}, L"), using the default proxy");
    session.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0));
  }
  if (!session) return session;
  WinHttpSetTimeouts(session.get(), timeouts.resolve, timeouts.connect, timeouts.send, timeouts.receive);
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
  WinHttpSetOption(session.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));
  return session;
}

// Sends the GET and waits for a 200; any TLS, redirect or status failure is false.
bool RequestOk(HINTERNET request, const DownloadTimeouts& timeouts) {
  DWORD responseTimeout = DWORD(timeouts.receive);
  WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout, sizeof(responseTimeout));
  if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request, nullptr)) {
    LogEvent(L"download request failed: ", SystemError{GetLastError()});
    return false;
  }
  DWORD status = 0;
  DWORD length = sizeof(status);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &length, WINHTTP_NO_HEADER_INDEX)) {
    LogEvent(L"download status unreadable: ", SystemError{GetLastError()});
    return false;
  }
  LogEvent(L"download HTTP status ", status);
  return status == 200;
}

// WinHttpReadDataEx (Windows 11 and later) fills the whole block in one call instead of
// returning one TLS record (16 KiB) at a time; older systems read record by record.
using ReadDataExFunction = DWORD(WINAPI*)(HINTERNET request, void* buffer, DWORD size, DWORD* read,
                                          ULONGLONG flags, DWORD propertySize, void* property);
constexpr ULONGLONG kFillBuffer = 0x1;  // WINHTTP_READ_DATA_EX_FLAG_FILL_BUFFER

ReadDataExFunction FindReadDataEx() {
  HMODULE winhttp = GetModuleHandleW(L"winhttp.dll");
  return winhttp ? reinterpret_cast<ReadDataExFunction>(
                       reinterpret_cast<void*>(GetProcAddress(winhttp, "WinHttpReadDataEx")))
                 : nullptr;
}

bool ReadSome(HINTERNET request, ReadDataExFunction readDataEx, char* buffer, DWORD wanted, DWORD& read) {
  read = 0;
  if (readDataEx) return readDataEx(request, buffer, wanted, &read, kFillBuffer, 0, nullptr) == ERROR_SUCCESS;
  return WinHttpReadData(request, buffer, wanted, &read) != FALSE;
}

bool WriteAll(HANDLE file, const char* bytes, DWORD count) {
  DWORD written = 0;
  return count == 0 || (WriteFile(file, bytes, count, &written, nullptr) && written == count);
}

// Copies the body to the file in blocks of kReadBufferSize; false on any failure or more
// than size bytes. What arrived before a failure is still written. Never asks for more
// than one byte past the announced size, so a longer body ends the download at once.
bool ReceiveBody(HINTERNET request, HANDLE file, std::uint64_t size, const HWND* progressTarget,
                 std::uint64_t& received) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kReadBufferSize]);
  if (!buffer) return false;
  const ReadDataExFunction readDataEx = FindReadDataEx();
  ProgressPacer pacer;
  DWORD filled = 0;
  bool ok = true;
  bool ended = false;
  while (ok && !ended) {
    const std::uint64_t past = size - received + 1;
    const DWORD room = kReadBufferSize - filled;
    DWORD read = 0;
    ok = ReadSome(request, readDataEx, buffer.get() + filled, past < room ? DWORD(past) : room, read);
    ended = read == 0;
    filled += read;
    received += read;
    if (!ok) LogEvent(L"download stopped after ", received, L" bytes: ", SystemError{GetLastError()});
    if (received > size) LogEvent(L"download cut off: more than the ", size, L" bytes described");
    if (received > size) ok = false;
    if (ok && read > 0 && progressTarget) {
      PostProgressPaced(progressTarget, pacer, Tr(L"Downloading required components", L"正在下载必要组件"),
                        kFirstFraction + kFractionSpan * double(received) / double(size));
    }
    if (filled == kReadBufferSize || !ok || ended) {
      if (!WriteAll(file, buffer.get(), filled)) return false;
      filled = 0;
    }
  }
  return ok;
}

bool CreateAndReceive(HINTERNET request, const RuntimeDescriptor& descriptor, const std::wstring& destination,
                      const HWND* progressTarget) {
  UniqueFile file(CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) LogEvent(L"download file not created: ", SystemError{GetLastError()});
  if (!file) return false;
  std::uint64_t received = 0;
  const bool complete = ReceiveBody(request, file.get(), descriptor.size, progressTarget, received);
  LogEvent(L"download received ", received, L" of ", descriptor.size, L" bytes");
  if (!complete) return false;
  if (!FlushFileBuffers(file.get())) return false;
  return received == descriptor.size;
}

}  // namespace

bool DownloadToFile(const RuntimeDescriptor& descriptor, const std::wstring& destination,
                    const HWND* progressTarget, const DownloadTimeouts& timeouts) {
  UrlParts parts;
  LogEvent(L"download ", descriptor.url);
  if (!CrackUrl(descriptor.url, parts) || parts.scheme != INTERNET_SCHEME_HTTPS) return false;
  UniqueInternet session = OpenSession(timeouts);
  if (!session) LogEvent(L"download session not opened: ", SystemError{GetLastError()});
  if (!session) return false;
  UniqueInternet connection(WinHttpConnect(session.get(), parts.host, parts.port, 0));
  if (!connection) LogEvent(L"download connection failed: ", SystemError{GetLastError()});
  if (!connection) return false;
  // The fragment belongs to the client: only the path and the query go to the server.
  std::wstring objectName = std::wstring(parts.path) + parts.extra;
  objectName.erase(std::min(objectName.find(L'#'), objectName.size()));
  UniqueInternet request(WinHttpOpenRequest(connection.get(), L"GET", objectName.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            WINHTTP_FLAG_SECURE));
  if (!request || !RequestOk(request.get(), timeouts)) return false;
  return CreateAndReceive(request.get(), descriptor, destination, progressTarget);
}
