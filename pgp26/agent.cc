#include "pgp26/agent.h"

#include <cctype>
#include <cstdlib>
#include <optional>
#include <vector>

#include "pgp26/failure.h"
#include "pgp26/gpgme_handles.h"
#include "pgp26/system.h"

namespace pgp26 {

namespace {

constexpr int kStopWaitMilliseconds = 5000;

// gpgconf escapes some characters of the names it lists as %XX.
std::string Unescaped(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      plain += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      plain += text[i];
    }
  }
  return plain;
}

std::string AgentSocket(const std::string& gnupg_home) {
  const Context ctx = NewContext(GPGME_PROTOCOL_GPGCONF, nullptr, gnupg_home.c_str());
  char* socket = nullptr;
  const gpgme_error_t error = gpgme_op_conf_dir(ctx.get(), "agent-socket", &socket);
  if (error || !socket)
    throw Failure(kOtherError, "Cannot find the GnuPG agent of '" + gnupg_home +
                                   "': " + ErrorText(error ? error : gpg_error(GPG_ERR_NOT_FOUND)));
  const std::string name = Unescaped(socket);
  gpgme_free(socket);
  return name;
}

// One connection to the agent, opened by the first command; an agent that is not running is
// not started.
class Connection {
 public:
  struct Reply {
    bool reached = false;     // an agent answered on the socket
    gpgme_error_t error = 0;  // the agent's answer to the command
    std::string data;
    std::vector<std::string> status;  // the argument texts of the status lines
  };

  explicit Connection(const std::string& socket)
      : ctx_(NewContext(GPGME_PROTOCOL_ASSUAN, socket.c_str(), nullptr)) {}

  Reply Send(const std::string& command) {
    Reply reply;
    gpgme_error_t answer = 0;
    const gpgme_error_t error =
        gpgme_op_assuan_transact_ext(ctx_.get(), command.c_str(), &Connection::OnData, &reply,
                                     nullptr, nullptr, &Connection::OnStatus, &reply, &answer);
    reply.reached = !error;
    reply.error = answer;
    return reply;
  }

 private:
  static gpgme_error_t OnData(void* hook, const void* data, size_t size) {
    static_cast<Reply*>(hook)->data.append(static_cast<const char*>(data), size);
    return 0;
  }
  static gpgme_error_t OnStatus(void* hook, const char* /*keyword*/, const char* args) {
    static_cast<Reply*>(hook)->status.emplace_back(args ? args : "");
    return 0;
  }

  Context ctx_;
};

constexpr long kUnknownPid = -1;

// The agent's process ID (or kUnknownPid), if an agent answers.
std::optional<long> RunningAgent(Connection& agent) {
  const Connection::Reply reply = agent.Send("GETINFO pid");
  if (!reply.reached) return std::nullopt;
  const long pid = reply.error ? 0 : std::atol(reply.data.c_str());
  return pid > 0 ? pid : kUnknownPid;
}

bool IsKeygrip(const std::string& word) {
  if (word.size() != 40) return false;
  for (const char c : word)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

}  // namespace

Agent::Agent(const std::string& gnupg_home, bool stop_any)
    : socket_(AgentSocket(gnupg_home)), stop_any_(stop_any) {
  Connection agent(socket_);
  pid_at_start_ = RunningAgent(agent).value_or(0);
}

void Agent::ForgetPassPhrases() {
  Connection agent(socket_);
  const Connection::Reply keys = agent.Send("KEYINFO --list");
  if (!keys.reached) return;  // no agent runs, so nothing is cached
  const auto refuse = [](const std::string& why) {
    throw Failure(kOtherError,
                  "The GnuPG agent cannot be made to forget cached pass phrases: " + why);
  };
  if (keys.error) refuse(ErrorText(keys.error));
  for (const std::string& line : keys.status) {
    const std::string keygrip = line.substr(0, line.find(' '));
    if (!IsKeygrip(keygrip)) refuse("it listed '" + line + "'.");
    const Connection::Reply cleared = agent.Send("CLEAR_PASSPHRASE --mode=normal " + keygrip);
    if (!cleared.reached || cleared.error)
      refuse(ErrorText(cleared.error ? cleared.error : gpg_error(GPG_ERR_ASS_CONNECT_FAILED)));
  }
}

void Agent::StopIfStarted() {
  const std::lock_guard lock(stopping_);
  std::optional<system::ProcessWatch> gone;
  {
    Connection agent(socket_);
    const std::optional<long> running = RunningAgent(agent);
    if (!running) return;
    const long pid = *running;
    // An agent that ran before, or one that cannot be told apart from it, is the user's.
    const bool started = pid_at_start_ == 0 || (pid_at_start_ > 0 && pid != pid_at_start_);
    if (!stop_any_ && !started) return;
    // The agent is no child of ours, so it cannot be waited for as one.
    if (pid > 0) gone.emplace(pid);
    agent.Send("KILLAGENT");
  }  // the agent ends once this connection is closed
  if (gone) gone->WaitForEnd(kStopWaitMilliseconds);
}

}  // namespace pgp26
