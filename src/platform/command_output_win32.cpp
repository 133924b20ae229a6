#include "platform/command_output.h"
#include "platform/deadline.h"
#include "platform/text_win32.h"

#include <windows.h>

#include <vector>

namespace platform {
namespace {

// Closed when it goes out of scope; empty handles are skipped.
struct Handle {
  HANDLE value = nullptr;
  Handle() = default;
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
  ~Handle() { close(); }
  void close() {
    if (value != nullptr && value != INVALID_HANDLE_VALUE) CloseHandle(value);
    value = nullptr;
  }
};

// The handles the child inherits, and those alone: Winsock's sockets are
// inheritable, and quillrun's connection must not reach the command.
struct InheritedHandles {
  std::vector<unsigned char> buffer;
  HANDLE handles[2];
  bool initialized = false;
  bool ready = false;
  InheritedHandles(HANDLE first, HANDLE second) : handles{first, second} {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    buffer.resize(size);
    initialized = size != 0 && InitializeProcThreadAttributeList(list(), 1, 0, &size);
    ready = initialized && UpdateProcThreadAttribute(list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                     handles, sizeof handles, nullptr, nullptr);
  }
  InheritedHandles(const InheritedHandles &) = delete;
  InheritedHandles &operator=(const InheritedHandles &) = delete;
  ~InheritedHandles() {
    if (initialized) DeleteProcThreadAttributeList(list());
  }
  LPPROC_THREAD_ATTRIBUTE_LIST list() {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer.data());
  }
};

std::wstring command_interpreter() {
  wchar_t folder[MAX_PATH];
  UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length < MAX_PATH ? length : 0) + L"\\cmd.exe";
}

// Reads `output` into `line` until it ends, or until `child` has exited and
// its first line, or what it wrote of it, has been read; false when the
// deadline came before its exit, however fast the command writes. An
// anonymous pipe cannot be waited on, so it is asked every 10 ms how much it
// holds.
bool read_first_line(HANDLE output, HANDLE child, Clock::time_point deadline, FirstLine &line) {
  char block[4096];
  bool exited = false;
  for (;;) {
    if (milliseconds_left(deadline) == 0) return exited;
    // A process the command left behind may hold the output open; what the
    // command wrote before it exited is waiting in the pipe by now.
    exited = exited || WaitForSingleObject(child, 0) == WAIT_OBJECT_0;
    if (exited && line.ended) return true;
    DWORD waiting = 0;
    // A broken pipe is its end: every writer has closed it.
    if (!PeekNamedPipe(output, nullptr, 0, nullptr, &waiting, nullptr)) return true;
    if (waiting == 0 && exited) return true;
    if (waiting == 0) {
      Sleep(10);
      continue;
    }
    DWORD count = 0;
    if (!ReadFile(output, block, waiting < sizeof block ? waiting : sizeof block, &count,
                  nullptr)) {
      return true;
    }
    take_output(line, {block, count});
  }
}

} // namespace

CommandRun run_command(const std::string &command, int timeout_ms) {
  CommandRun run;
  const Clock::time_point deadline = deadline_in(std::chrono::milliseconds(timeout_ms));
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Handle output;
  Handle output_end;
  Handle null_device;
  null_device.value =
      CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (null_device.value == INVALID_HANDLE_VALUE ||
      !CreatePipe(&output.value, &output_end.value, &inheritable, 0) ||
      !SetHandleInformation(output.value, HANDLE_FLAG_INHERIT, 0)) {
    run.error = error_words(GetLastError());
    return run;
  }
  // The command with every process it starts, which a timeout ends whole, as
  // does quillrun's own end while it waits.
  Handle job;
  job.value = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job.value != nullptr) {
    SetInformationJobObject(job.value, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
  InheritedHandles inherited(output_end.value, null_device.value);
  if (!inherited.ready) {
    run.error = error_words(GetLastError());
    return run;
  }
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = null_device.value;
  startup.StartupInfo.hStdOutput = output_end.value;
  startup.StartupInfo.hStdError = null_device.value;
  startup.lpAttributeList = inherited.list();
  // /d: no AutoRun command of the registry writes before the command;
  // /s: the outer quotes go and the command stays exactly as written.
  const std::wstring interpreter = command_interpreter();
  std::wstring line = L"\"" + interpreter + L"\" /d /s /c \"" + wide_text(command) + L"\"";
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(interpreter.c_str(), line.data(), nullptr, nullptr, TRUE,
                      CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                      nullptr, &startup.StartupInfo, &process)) {
    run.error = error_words(GetLastError());
    return run;
  }
  Handle child;
  child.value = process.hProcess;
  Handle thread;
  thread.value = process.hThread;
  // Suspended until it is in the job, so that nothing it starts is outside.
  // Where no job can be had (a caller's own job that takes none inside it,
  // before Windows 8), the command runs as it did before jobs were used: a
  // timeout then ends the command alone.
  const bool in_job =
      job.value != nullptr && AssignProcessToJobObject(job.value, child.value) != FALSE;
  if (ResumeThread(thread.value) == static_cast<DWORD>(-1)) {
    run.error = error_words(GetLastError());
    TerminateProcess(child.value, 1);
    return run;
  }
  thread.close();
  // Only the child holds the pipe's writing end now: its end is the end.
  output_end.close();
  null_device.close();

  FirstLine first;
  run.timed_out =
      !read_first_line(output.value, child.value, deadline, first) ||
      WaitForSingleObject(child.value, static_cast<DWORD>(milliseconds_left(deadline))) !=
          WAIT_OBJECT_0;
  run.first_line = std::move(first.text);
  if (run.timed_out) {
    if (!in_job || !TerminateJobObject(job.value, 1)) TerminateProcess(child.value, 1);
    WaitForSingleObject(child.value, INFINITE);
    return run;
  }
  // What the command left running (an agent that keeps a secret, say) goes on
  // as it would without quillrun.
  if (in_job) {
    limits.BasicLimitInformation.LimitFlags = 0;
    SetInformationJobObject(job.value, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
  DWORD status = 0;
  GetExitCodeProcess(child.value, &status);
  run.exit_status = static_cast<int>(status);
  return run;
}

} // namespace platform
