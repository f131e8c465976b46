// Benchmark floor for the runtime download, built by scripts/bench-runtime: one WinHTTP
// GET over HTTPS, reads of up to 1 MiB each written straight to a new file, nothing
// else (no checks, no progress). Usage: floor.exe https://host:port/path DEST
// Prints "elapsed <seconds>" and "bytes <count>".
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 87;
  LARGE_INTEGER start, end, frequency;
  QueryPerformanceCounter(&start);
  wchar_t host[256] = {}, path[2048] = {};
  URL_COMPONENTS url = {};
  url.dwStructSize = sizeof(url);
  url.lpszHostName = host;
  url.dwHostNameLength = 256;
  url.lpszUrlPath = path;
  url.dwUrlPathLength = 2048;
  if (!WinHttpCrackUrl(argv[1], 0, 0, &url)) return 2;
  HINTERNET session = WinHttpOpen(L"floor", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, nullptr, nullptr, 0);
  HINTERNET connection = session ? WinHttpConnect(session, host, url.nPort, 0) : nullptr;
  HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", path, nullptr, nullptr, nullptr,
                                                      WINHTTP_FLAG_SECURE)
                                 : nullptr;
  if (!request || !WinHttpSendRequest(request, nullptr, 0, nullptr, 0, 0, 0) ||
      !WinHttpReceiveResponse(request, nullptr)) {
    return 3;
  }
  HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 4;
  std::vector<char> buffer(1 << 20);
  unsigned long long total = 0;
  DWORD read = 0, written = 0;
  while (WinHttpReadData(request, buffer.data(), DWORD(buffer.size()), &read) && read > 0) {
    WriteFile(file, buffer.data(), read, &written, nullptr);
    total += read;
  }
  FlushFileBuffers(file);
  CloseHandle(file);
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
  QueryPerformanceCounter(&end);
  QueryPerformanceFrequency(&frequency);
  std::printf("elapsed %.6f\nbytes %llu\n", double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart), total);
  return 0;
}
