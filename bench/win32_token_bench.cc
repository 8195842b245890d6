// What a token command costs under Wine or on Windows, a report and never a test: ExecuteToken
// calls per second with the simulated mail client's command object in this process, then from a
// second process through COM, as quillet.exe calls the mail client; and the time to rebuild there
// with AppendToBody a prose body as long as a message body may be (32,000 characters, line
// ends counted). Prints a Markdown table.
//
// Usage: win32_token_bench.exe
//   This process is the mail client: it offers its classes to other processes, as the simulated
//   client of win32_client_e2e.exe does, serves the calls and checks the rebuilt body. It starts
//   itself again with --caller to play Quillet's side.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "bench/report.h"
#include "bench/texts.h"
#include "channel/wpcom32.h"
#include "mailsim/mail_client.h"
#include "platform/registry.h"
#include "platform/win32/unique_handle.h"

namespace {

using namespace quillet;
using bench::Clock;
using bench::Fixed;
using bench::Since;

constexpr int kInProcessCalls = 100000;
constexpr int kOutOfProcessCalls = 1000;
// Prose of this many bytes makes a body a little under the limit once its LF become CR LF.
constexpr std::size_t kBodyBytes = 31000;

// One row of the table: measure, value, unit.
struct Row {
  std::string measure;
  std::string value;
  std::string unit;
};

// The body AppendToBody leaves for `text`: its lines ended by CR LF.
std::string BodyOf(const std::string& text) {
  std::string body;
  for (char c : text) body += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return body;
}

int LineCount(const std::string& text) {
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

double SecondsFor(const std::function<void()>& work) {
  const Clock::time_point start = Clock::now();
  work();
  return Since(start);
}

// `count` commands of the kind AppendToBody sends, through `wpo`; calls per second.
double CallsPerSecond(channel::TWP& wpo, int count) {
  const std::string line(70, 'x');
  const double seconds = SecondsFor([&] {
    for (int i = 0; i < count; ++i)
      wpo.ExecuteToken("ItemSetText(\"X00\"; Message!; \"" + line + "\";Yes! )");
  });
  return count / seconds;
}

// Quillet's side, in the second process: its rows, one a line, fields apart by tabs.
int Caller() {
  ole::Com& com = ole::Com::Default();
  com.Initialize();
  int status = 0;
  try {
    channel::TWP wpo(com);
    std::printf("ExecuteToken out of process\t%s\tcalls/s\n",
                Fixed(CallsPerSecond(wpo, kOutOfProcessCalls), 0).c_str());
    const std::string prose = bench::Prose(kBodyBytes, 7);
    wpo.ClearBody();
    const double seconds = SecondsFor([&] { wpo.AppendToBody(prose); });
    std::printf(
        "31 KB prose body rebuilt out of process by AppendToBody (%d lines, two "
        "commands each)\t%s\ts\n",
        LineCount(prose), Fixed(seconds, 1).c_str());
  } catch (const std::exception& e) {
    std::printf("%s\n", e.what());
    status = 1;
  }
  com.Uninitialize();
  return status;
}

// Starts this program with --caller and serves its calls until it ends; returns its rows.
std::vector<Row> RunCaller() {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  win32::UniqueHandle output, child_output;
  if (!CreatePipe(output.put(), child_output.put(), &inherit, 0)) throw Error("Cannot make a pipe");
  SetHandleInformation(output.get(), HANDLE_FLAG_INHERIT, 0);

  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  // Appended piece by piece: GCC 12 takes "\"" + std::string for an overlapping copy at -O3.
  std::string command_line = "\"";
  command_line.append(self).append("\" --caller");
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = child_output.get();
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &info))
    throw Error("Cannot start " + command_line);
  win32::UniqueHandle process(info.hProcess), thread(info.hThread);
  child_output.reset();  // the caller holds the only copy now

  // The caller's calls arrive as messages to this thread.
  HANDLE waited = process.get();
  while (MsgWaitForMultipleObjects(1, &waited, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(output.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
    text.append(buffer, got);
  DWORD code = 1;
  GetExitCodeProcess(process.get(), &code);
  if (code != 0) throw Error("The caller failed: " + text);

  std::vector<Row> rows;
  std::istringstream lines(text);
  for (std::string line; GetLine(lines, line);) {
    Row row;
    std::istringstream fields(line);
    std::getline(fields, row.measure, '\t');
    std::getline(fields, row.value, '\t');
    std::getline(fields, row.unit, '\t');
    rows.push_back(row);
  }
  return rows;
}

int MailClientSide() {
  ole::Com& com = ole::Com::Default();
  com.Initialize();
  int status = 0;
  try {
    mailsim::MailClient client({"me@example.com", "Me"});
    client.Register(com, Registry::Default());
    client.NewMail();
    std::vector<Row> rows;
    {
      channel::TWP wpo(com);
      rows.push_back(
          {"ExecuteToken in process", Fixed(CallsPerSecond(wpo, kInProcessCalls), 0), "calls/s"});
    }
    for (Row& row : RunCaller()) rows.push_back(std::move(row));
    if (client.NewItem().body != BodyOf(bench::Prose(kBodyBytes, 7)))
      throw Error("The rebuilt body is not the text that was sent");
    std::printf("| Measure | Value | Unit |\n|---|---:|---|\n");
    for (const Row& row : rows)
      std::printf("| %s | %s | %s |\n", row.measure.c_str(), row.value.c_str(), row.unit.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "win32_token_bench: %s\n", e.what());
    status = 1;
  }
  com.Uninitialize();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--caller") return Caller();
  return MailClientSide();
}
