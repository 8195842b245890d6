// The GnuPG agent of one home, as one run of pgp sees it. GnuPG asks the agent for every use of a
// secret key, and an agent may answer from its cache instead of checking the pass phrase it was
// given: one that plain gpg started, or one the user's own gpg-agent.conf lets cache. So before
// each use of a secret key a running agent is made to forget what it has cached; and an agent
// that this run started is stopped when the run ends, while one that was already running stays.
// Talks to the agent over its socket with libassuan, which never starts an agent itself.
#ifndef QUILLET_PGP26_AGENT_H_
#define QUILLET_PGP26_AGENT_H_

#include <mutex>
#include <string>

namespace pgp26 {

class Agent {
 public:
  // Notes which agent, if any, serves `gnupg_home` now: before anything that may start one. With
  // `stop_any`, whatever agent runs at the end is stopped: for a home name that only this run
  // uses.
  Agent(const std::string& gnupg_home, bool stop_any);
  Agent(const Agent&) = delete;
  Agent& operator=(const Agent&) = delete;

  // Makes a running agent forget every pass phrase it has cached for the home's keys; throws
  // Failure when a running agent cannot be made to. Only what the agent reports as cached is
  // cleared: clearing also has the agent start its pinentry, to clear that one's cache.
  void ForgetPassPhrases();

  // Stops the agent if this run started it, and waits until it has gone; the run calls it at its
  // end, or on an interrupt from the interrupt thread. Safe to call again.
  void StopIfStarted();

 private:
  std::string socket_;
  long pid_at_start_ = 0;  // 0: no agent was running; negative: one ran, its ID unknown
  bool stop_any_;
  std::mutex stopping_;
};

}  // namespace pgp26

#endif  // QUILLET_PGP26_AGENT_H_
