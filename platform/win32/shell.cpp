// ShellExecuteEx/ShellExecute with "open" and "runas". Linux has no
// elevation prompt for a user program, so "runas" runs as "open" does,
// unless the test switch makes it fail as a declined prompt (1223).
#include <cwctype>

#include "paths.h"
#include "process_launch.h"
#include "test_switches.h"
#include "text.h"

using namespace w32;

namespace {

struct Request {
  std::wstring verb, file, parameters, directory;
};

bool IsUrl(const std::wstring& file) {
  size_t colon = file.find(L"://");
  return colon != std::wstring::npos && colon > 1;
}

// Returns the process handle (or nullptr with the last error and *code set).
HANDLE Execute(const Request& r, INT_PTR* code) {
  std::wstring verb;
  for (wchar_t c : r.verb) verb += static_cast<wchar_t>(std::towlower(c));
  if (!verb.empty() && verb != L"open" && verb != L"runas") {
    SetLastError(ERROR_NO_ASSOCIATION);
    *code = SE_ERR_NOASSOC;
    return nullptr;
  }
  if (verb == L"runas" && ElevationDeclinedForTesting()) {
    SetLastError(ERROR_CANCELLED);
    *code = SE_ERR_ACCESSDENIED;
    return nullptr;
  }
  std::vector<std::string> command;
  if (IsUrl(r.file)) {
    std::string opener = FindInPath("xdg-open");
    if (opener.empty()) {
      SetLastError(ERROR_NO_ASSOCIATION);
      *code = SE_ERR_NOASSOC;
      return nullptr;
    }
    command = {opener, WideToUtf8(r.file)};
  } else {
    auto path = PosixArgument(r.file.c_str());
    if (!path) {
      *code = SE_ERR_PNF;
      return nullptr;
    }
    std::vector<std::string> args;
    for (auto& word : SplitCommandLine(r.parameters)) args.push_back(WideToUtf8(word));
    DWORD error = 0;
    auto found = CommandFor(*path, args, true, &error);
    if (!found) {
      SetLastError(error);
      *code = error == ERROR_FILE_NOT_FOUND  ? SE_ERR_FNF
              : error == ERROR_ACCESS_DENIED ? SE_ERR_ACCESSDENIED
                                             : SE_ERR_NOASSOC;
      return nullptr;
    }
    command = *found;
  }
  std::string cwd;
  if (!r.directory.empty()) {
    auto posix = PosixArgument(r.directory.c_str());
    if (!posix) {
      *code = SE_ERR_PNF;
      return nullptr;
    }
    cwd = *posix;
  }
  HANDLE process = Launch(command, cwd, nullptr);
  *code = process ? 42 : SE_ERR_FNF;  // above 32 means success
  return process;
}

template <typename Info>
BOOL Finish(Info* info, HANDLE process, INT_PTR code) {
  info->hInstApp = reinterpret_cast<HINSTANCE>(code);
  info->hProcess = nullptr;
  if (!process) return FALSE;
  if (info->fMask & SEE_MASK_NOCLOSEPROCESS) {
    info->hProcess = process;
  } else {
    CloseHandle(process);  // the child runs on; nobody waits for it
  }
  return TRUE;
}

}  // namespace

BOOL WINAPI ShellExecuteExW(SHELLEXECUTEINFOW* info) {
  if (info == nullptr || info->lpFile == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Request r{info->lpVerb ? info->lpVerb : L"", info->lpFile, info->lpParameters ? info->lpParameters : L"",
            info->lpDirectory ? info->lpDirectory : L""};
  INT_PTR code = 0;
  HANDLE process = Execute(r, &code);
  return Finish(info, process, code);
}

BOOL WINAPI ShellExecuteExA(SHELLEXECUTEINFOA* info) {
  if (info == nullptr || info->lpFile == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Request r{AcpToWide(info->lpVerb), AcpToWide(info->lpFile), AcpToWide(info->lpParameters),
            AcpToWide(info->lpDirectory)};
  INT_PTR code = 0;
  HANDLE process = Execute(r, &code);
  return Finish(info, process, code);
}

HINSTANCE WINAPI ShellExecuteW(HWND, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters, LPCWSTR lpDirectory,
                               INT) {
  if (lpFile == nullptr) return reinterpret_cast<HINSTANCE>(SE_ERR_FNF);
  Request r{lpOperation ? lpOperation : L"", lpFile, lpParameters ? lpParameters : L"",
            lpDirectory ? lpDirectory : L""};
  INT_PTR code = 0;
  if (HANDLE process = Execute(r, &code)) CloseHandle(process);
  return reinterpret_cast<HINSTANCE>(code);
}

HINSTANCE WINAPI ShellExecuteA(HWND, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR lpDirectory, INT) {
  if (lpFile == nullptr) return reinterpret_cast<HINSTANCE>(SE_ERR_FNF);
  Request r{AcpToWide(lpOperation), AcpToWide(lpFile), AcpToWide(lpParameters), AcpToWide(lpDirectory)};
  INT_PTR code = 0;
  if (HANDLE process = Execute(r, &code)) CloseHandle(process);
  return reinterpret_cast<HINSTANCE>(code);
}
