#include "pgp26/agent.h"

// The Windows header of libassuan turns off a warning that only C has.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"
#include <assuan.h>
#pragma GCC diagnostic pop

#include <cctype>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <vector>

#include "pgp26/failure.h"
#include "pgp26/gpgme_handles.h"
#include "pgp26/system.h"

namespace pgp26 {

namespace {

constexpr int kStopWaitMilliseconds = 5000;

// gpgconf, which lies beside gpg. GPGME is kept from asking gpgconf where things are (main.cc),
// so it knows gpg alone.
std::string GpgconfProgram() {
  const char* gpg = gpgme_get_dirinfo("gpg-name");
  if (!gpg) throw Failure(kOtherError, "Cannot find GnuPG's gpgconf.");
  const std::string path = gpg;
  const std::size_t name = path.find_last_of("/\\") + 1;  // 0 when there is no folder
  const std::size_t dot = path.find('.', name);
  return path.substr(0, name) + "gpgconf" + (dot == std::string::npos ? "" : path.substr(dot));
}

std::string AgentSocket(const std::string& gnupg_home) {
  const std::string program = GpgconfProgram();
  const char* argv[] = {"gpgconf",     "--homedir",    gnupg_home.c_str(),
                        "--list-dirs", "agent-socket", nullptr};
  const Context ctx = NewContext(GPGME_PROTOCOL_SPAWN);
  const Data out = NewData();
  const gpgme_error_t error =
      gpgme_op_spawn(ctx.get(), program.c_str(), argv, nullptr, out.get(), nullptr, 0);
  std::string socket = DataText(out.get());
  socket.erase(socket.find_last_not_of("\r\n") + 1);
  if (error || socket.empty())
    throw Failure(kOtherError, "Cannot find the GnuPG agent of '" + gnupg_home +
                                   "': " + ErrorText(error ? error : gpg_error(GPG_ERR_NOT_FOUND)));
  return socket;
}

// One connection to the agent, opened by the first command; an agent that is not running is
// not started.
class Connection {
 public:
  struct Reply {
    bool reached = false;     // an agent took the connection
    gpgme_error_t error = 0;  // the agent's answer to the command
    std::string data;
    std::vector<std::string> status;  // the status lines, keyword first
  };

  explicit Connection(const std::string& socket) : socket_(socket) {}
  ~Connection() {
    if (ctx_) assuan_release(ctx_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Reply Send(const std::string& command) {
    Reply reply;
    if (!Connected()) return reply;
    reply.reached = true;
    reply.error = assuan_transact(ctx_, command.c_str(), &Connection::OnData, &reply, nullptr,
                                  nullptr, &Connection::OnStatus, &reply);
    return reply;
  }

 private:
  bool Connected() {
    if (tried_) return connected_;
    tried_ = true;
    // Sockets on Windows are emulated by a file that names a local port.
    connected_ = !assuan_sock_init() && !assuan_new(&ctx_) &&
                 !assuan_socket_connect(ctx_, socket_.c_str(), ASSUAN_INVALID_PID, 0);
    return connected_;
  }

  static gpg_error_t OnData(void* hook, const void* data, size_t size) {
    static_cast<Reply*>(hook)->data.append(static_cast<const char*>(data), size);
    return 0;
  }
  static gpg_error_t OnStatus(void* hook, const char* line) {
    static_cast<Reply*>(hook)->status.emplace_back(line ? line : "");
    return 0;
  }

  std::string socket_;
  assuan_context_t ctx_ = nullptr;
  bool tried_ = false;
  bool connected_ = false;
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

// The words of a status line.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
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
    // KEYINFO <keygrip> <type> <serial number> <card's key ID> <cached> ...
    const std::vector<std::string> words = Words(line);
    if (words.size() < 6 || words[0] != "KEYINFO" || !IsKeygrip(words[1]))
      refuse("it listed '" + line + "'.");
    if (words[5] != "1") continue;
    const Connection::Reply cleared = agent.Send("CLEAR_PASSPHRASE --mode=normal " + words[1]);
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
