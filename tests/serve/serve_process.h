// `strata serve` run as a child of the test on a free loopback port (the
// server picks it: --port 0), with helpers to talk to it over plain sockets
// so that requests reach it byte for byte as written. The child dies with
// the test (PR_SET_PDEATHSIG) and is stopped with SIGTERM at the end.
#ifndef STRATA_TESTS_SERVE_SERVE_PROCESS_H_
#define STRATA_TESTS_SERVE_SERVE_PROCESS_H_

#include <map>
#include <string>
#include <vector>

namespace strata::test {

// The strata program next to the test programs.
std::string StrataProgram();

// Runs `strata ARGUMENTS` to its end (up to 30 s); its exit status, with
// what it printed on standard output and standard error in *output.
int RunStrata(const std::vector<std::string>& arguments, std::string* output);

class ServeProcess {
 public:
  // Starts `strata serve --port 0 <arguments>` (without the --port when
  // `pickPort` is false) and waits (up to 20 s) for the line that names its
  // URL, or for the process to end.
  explicit ServeProcess(const std::vector<std::string>& arguments, bool pickPort = true);
  ~ServeProcess();
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;

  bool started() const { return port_ > 0; }
  int port() const { return port_; }
  const std::string& url() const { return url_; }
  bool Alive() const;
  // Sends `signal` and waits (up to 10 s); the exit status, or -1 when the
  // process had to be killed or ended by a signal.
  int Stop(int signal);
  // Everything the server printed on standard output so far (after Stop:
  // all of it).
  std::string Output();

 private:
  void ReadAvailable(int timeoutMs);

  // Reaps the process if it has ended, keeping its wait status.
  bool Reap(bool wait) const;

  int pid_ = -1;
  mutable bool reaped_ = false;
  mutable int waitStatus_ = 0;
  int outFd_ = -1;
  int port_ = 0;
  std::string url_;
  std::string output_;
};

struct HttpReply {
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
};

// One connection to 127.0.0.1:port. Sends raw request texts and parses the
// replies (Content-Length bodies; HEAD and 304 replies carry none).
class HttpConnection {
 public:
  explicit HttpConnection(int port);
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  bool connected() const { return fd_ >= 0; }
  // False when the connection fails or closes before a whole reply.
  bool Exchange(const std::string& request, bool headOnly, HttpReply* reply);
  // GET `target` with optional extra header lines ("Name: value\r\n").
  bool Get(const std::string& target, HttpReply* reply, const std::string& extra = "");
  // True when the server has closed this connection.
  bool ClosedByPeer();

 private:
  bool ReadMore();

  int fd_ = -1;
  std::string pending_;
};

// A single GET on a new connection; status 0 when it fails.
HttpReply Fetch(int port, const std::string& target, const std::string& extra = "");

}  // namespace strata::test

#endif  // STRATA_TESTS_SERVE_SERVE_PROCESS_H_
