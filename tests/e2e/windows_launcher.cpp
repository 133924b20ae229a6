// Starts a Windows program with the argv[0] its caller chose, as a Windows
// caller does (cmd.exe, PHP, the task scheduler pass the command line they
// were given). Wine itself always gives a program started from Unix the full
// DOS path of its image as argv[0]; the end-to-end cases name the program.
//
//   windows_launcher.exe ARGV0 PROGRAM.exe [ARGUMENT ...]
//
// The program inherits the standard handles and the environment, with
// USERNAME as the Unix caller set it (see restore_caller_username), runs in a
// job that ends with this process (killing the launcher kills the program),
// and its exit status becomes this process's.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// One argument as the runtime's command-line parser reads it back.
std::string quoted(const std::string &argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    return argument;
  }
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

// argv[0] is read up to the next blank, or between quotes, with no escapes.
std::string quoted_program_name(const std::string &name) {
  return name.find_first_of(" \t") == std::string::npos ? name : "\"" + name + "\"";
}

// Wine lays the session's registry environment ("Volatile Environment",
// which wineboot writes when a session starts, USERNAME among it) over the
// environment of a program started from Unix, where Windows hands a child
// exactly the environment its parent passes. wine-run.sh carries the Unix
// caller's USERNAME past Wine in QUILLRUN_CALLER_USERNAME, as "set:VALUE" or
// "unset"; the program gets exactly that.
void restore_caller_username() {
  const char *carried = std::getenv("QUILLRUN_CALLER_USERNAME");
  if (carried == nullptr) return;
  const std::string value = carried;
  const std::string set = "set:";
  SetEnvironmentVariableA(
      "USERNAME", value.compare(0, set.size(), set) == 0 ? value.c_str() + set.size() : nullptr);
  SetEnvironmentVariableA("QUILLRUN_CALLER_USERNAME", nullptr);
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fputs("usage: windows_launcher ARGV0 PROGRAM.exe [ARGUMENT ...]\n", stderr);
    return 125;
  }
  restore_caller_username();
  std::string command_line = quoted_program_name(argv[1]);
  for (int i = 3; i < argc; ++i) command_line += " " + quoted(argv[i]);

  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job == nullptr ||
      !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    std::fprintf(stderr, "windows_launcher: no job object (%lu)\n", GetLastError());
    return 125;
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(argv[2], command_line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                      nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "windows_launcher: cannot start %s (%lu)\n", argv[2], GetLastError());
    return 125;
  }
  AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  return static_cast<int>(status);
}
