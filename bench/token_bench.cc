// The cost of token commands in process, as the mail client serves them: calls per second, and
// the time to rebuild, line by line as the encryption does, a body as long as a message body may
// be. Prints Markdown table rows: measure | value | goal.
// Usage: QUILLET_ROOT=DIR quillet_token_bench
#include <stdlib.h>

#include <filesystem>
#include <iostream>

#include "bench/report.h"
#include "bench/texts.h"
#include "channel/wpcom32.h"
#include "mailsim/mail_client.h"
#include "platform/linux/file_registry.h"
#include "platform/linux/process_com.h"

namespace {

using namespace quillet;
using bench::Clock;
using bench::Fixed;
using bench::Since;

int Run() {
  const std::filesystem::path root = getenv("QUILLET_ROOT");
  linux_platform::FileRegistry registry((root / "registry.reg").string());
  linux_platform::ProcessCom com(registry);
  mailsim::MailClient client({"alice@example.com", "Alice"});
  client.Register(com, registry);
  channel::TWP wpo(com);

  client.NewMail();
  constexpr int kCalls = 200000;
  const std::string command = "ItemSetText(\"X00\"; Message!; \"A line of a mail.\";No! )";
  auto start = Clock::now();
  for (int i = 0; i < kCalls; ++i) wpo.ExecuteToken(command);
  const double calls_per_second = kCalls / Since(start);
  std::cout << "| token commands in process | " << Fixed(calls_per_second / 1000, 0)
            << " thousand per second | |\n";

  // A body as long as a message body may be: prose of 31,000 bytes, a little under the 32,000
  // characters once its LF become CR LF.
  const std::string body = bench::Prose(31000, 7);
  client.NewMail();
  start = Clock::now();
  wpo.AppendToBody(body);
  const double seconds = Since(start);
  if (client.NewItem().body.size() != channel::TWP::LengthInBody(body)) {
    std::cerr << "the body was not rebuilt\n";
    return 1;
  }
  std::cout << "| 31 KB prose body rebuilt in process | " << Fixed(seconds, 4) << " s | |\n";
  return 0;
}

}  // namespace

int main() {
  if (!getenv("QUILLET_ROOT")) {
    std::cerr << "usage: QUILLET_ROOT=DIR quillet_token_bench\n";
    return 2;
  }
  try {
    return Run();
  } catch (const std::exception& e) {
    std::cerr << "quillet_token_bench: " << e.what() << "\n";
    return 1;
  }
}
