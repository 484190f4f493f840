// Child processes on Windows: CreateProcessW with the standard handles redirected. Output
// written in text mode (CR LF line ends) is handed back as the program meant it, with LF.
#include <windows.h>

#include <mutex>
#include <vector>

#include "support/process.h"

namespace testing_support {

namespace {

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int length =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
  return wide;
}

// One argument quoted the way the C runtime splits a command line back into argv.
std::wstring quoted(const std::wstring& argument) {
  std::wstring text = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    text.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    text += c;
  }
  text.append(backslashes * 2, L'\\');
  return text + L"\"";
}

// This process's environment with `changes` ("NAME=value") put in, as CreateProcessW takes it.
std::wstring environmentBlock(const std::vector<std::string>& changes) {
  std::vector<std::wstring> entries;
  wchar_t* inherited = GetEnvironmentStringsW();
  for (const wchar_t* entry = inherited; entry != nullptr && *entry != L'\0';
       entry += wcslen(entry) + 1) {
    entries.emplace_back(entry);
  }
  FreeEnvironmentStringsW(inherited);
  for (const std::string& change : changes) {
    std::wstring entry = widen(change);
    std::wstring name = entry.substr(0, entry.find(L'=') + 1);
    bool replaced = false;
    for (std::wstring& existing : entries) {
      if (_wcsnicmp(existing.c_str(), name.c_str(), name.size()) == 0) {
        existing = entry;
        replaced = true;
      }
    }
    if (!replaced) entries.push_back(entry);
  }
  std::wstring block;
  for (const std::wstring& entry : entries) block += entry + L'\0';
  return block + L'\0';
}

HANDLE openInheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  return CreateFileW(widen(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Children are made one at a time.
std::mutex g_creating;

}  // namespace

struct ChildProcess::Impl {
  HANDLE process = nullptr;
  DWORD id = 0;
  HANDLE output = nullptr;  // read end of the standard output pipe
  std::string pending;
  bool terminated = false;
  int exitStatus = -1;
};

std::vector<std::string> defaultEnvironment() { return {}; }

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ProcessOptions& options)
    : impl_(new Impl) {
  std::wstring commandLine;
  for (const std::string& argument : argv) {
    if (!commandLine.empty()) commandLine += L' ';
    commandLine += quoted(widen(argument));
  }
  std::wstring environment = environmentBlock(options.environment);
  std::wstring workDir = widen(options.workDir);

  std::lock_guard<std::mutex> lock(g_creating);
  HANDLE in = openInheritable("NUL", GENERIC_READ, OPEN_EXISTING);
  HANDLE err = openInheritable(options.stderrPath.empty() ? "NUL" : options.stderrPath,
                               GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE out = nullptr;
  if (!options.stdoutPath.empty()) {
    out = openInheritable(options.stdoutPath, GENERIC_WRITE, CREATE_ALWAYS);
  } else {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    CreatePipe(&impl_->output, &out, &inherit, 0);
    SetHandleInformation(impl_->output, HANDLE_FLAG_INHERIT, 0);
  }
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = in;
  startup.StartupInfo.hStdOutput = out;
  startup.StartupInfo.hStdError = err;
  // The child inherits these three handles and no other (the test servers' sockets are
  // inheritable too).
  HANDLE inherited[] = {in, out, err};
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> attributes(size);
  startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
  DWORD flags = CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP;
  if (InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size) &&
      UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                inherited, sizeof(inherited), nullptr, nullptr)) {
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  }
  PROCESS_INFORMATION created = {};
  if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, flags, &environment[0],
                     workDir.empty() ? nullptr : workDir.c_str(), &startup.StartupInfo, &created)) {
    impl_->process = created.hProcess;
    impl_->id = created.dwProcessId;
    CloseHandle(created.hThread);
  }
  if ((flags & EXTENDED_STARTUPINFO_PRESENT) != 0) {
    DeleteProcThreadAttributeList(startup.lpAttributeList);
  }
  for (HANDLE handle : {in, out, err}) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
}

ChildProcess::~ChildProcess() {
  if (impl_->process != nullptr) {
    TerminateProcess(impl_->process, 1);
    wait();
  }
  closeOutput();
  delete impl_;
}

bool ChildProcess::started() const { return impl_->id != 0; }

long ChildProcess::id() const { return static_cast<long>(impl_->id); }

std::string ChildProcess::readLine(int timeoutMs) {
  std::string line = readUntil('\n', timeoutMs);
  if (!line.empty()) line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string ChildProcess::readUntil(char end, int timeoutMs) {
  std::string& pending = impl_->pending;
  DWORD waited = 0;
  while (impl_->output != nullptr && pending.find(end) == std::string::npos) {
    DWORD available = 0;
    if (!PeekNamedPipe(impl_->output, nullptr, 0, nullptr, &available, nullptr)) break;
    if (available == 0) {
      if (waited >= static_cast<DWORD>(timeoutMs)) break;
      Sleep(10);
      waited += 10;
      continue;
    }
    char buffer[256];
    DWORD got = 0;
    if (!ReadFile(impl_->output, buffer, sizeof(buffer), &got, nullptr) || got == 0) break;
    pending.append(buffer, got);
  }
  size_t at = pending.find(end);
  if (at == std::string::npos) return std::string();
  std::string text = pending.substr(0, at + 1);
  pending.erase(0, at + 1);
  return text;
}

void ChildProcess::closeOutput() {
  if (impl_->output != nullptr) CloseHandle(impl_->output);
  impl_->output = nullptr;
}

// Ctrl-Break to the child's own process group, as a console user would stop it; a child that
// is still there after five seconds is ended outright.
void ChildProcess::terminate() {
  if (impl_->process == nullptr) return;
  if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, impl_->id) ||
      WaitForSingleObject(impl_->process, 5000) != WAIT_OBJECT_0) {
    TerminateProcess(impl_->process, 1);
    impl_->terminated = true;
  }
}

int ChildProcess::wait() {
  if (impl_->process == nullptr) return impl_->exitStatus;
  WaitForSingleObject(impl_->process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(impl_->process, &code);
  CloseHandle(impl_->process);
  impl_->process = nullptr;
  // A program that ended by a crash reports an exception code, not a status.
  impl_->exitStatus =
      impl_->terminated || (code > 0xFF && code < 0xFFFFFF00) ? -1 : static_cast<int>(code & 0xFF);
  return impl_->exitStatus;
}

int ChildProcess::killedBy() const { return 0; }

}  // namespace testing_support
