#include "serve/serve_process.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tools/loopback/loopback_http_server.h"
#include "tools/loopback/loopback_socket.h"

namespace strata::test {
namespace {

constexpr int kReplyTimeoutSeconds = 30;

}  // namespace

std::string StrataProgram() {
  if (const char* dir = std::getenv("STRATA_TEST_OUTPUT")) return std::string(dir) + "/strata";
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "strata").string();
}

int RunStrata(const std::vector<std::string>& arguments, std::string* output) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  std::vector<std::string> words = {StrataProgram()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(pipeFds[1], 1);
    dup2(pipeFds[1], 2);
    close(pipeFds[0]);
    close(pipeFds[1]);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    alarm(30);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  char buffer[4096];
  ssize_t got;
  while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
    output->append(buffer, static_cast<std::size_t>(got));
  }
  close(pipeFds[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ServeProcess::ServeProcess(const std::vector<std::string>& arguments, bool pickPort) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return;
  const std::string program = StrataProgram();
  std::vector<std::string> words = {program, "serve"};
  if (pickPort) words.insert(words.end(), {"--port", "0"});
  words.insert(words.end(), arguments.begin(), arguments.end());
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    dup2(pipeFds[1], 1);
    close(pipeFds[0]);
    close(pipeFds[1]);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  outFd_ = pipeFds[0];
  if (pid_ < 0) return;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  const std::string marker = "http://127.0.0.1:";
  while (std::chrono::steady_clock::now() < until && Alive()) {
    ReadAvailable(100);
    const std::size_t at = output_.find(marker);
    if (at != std::string::npos && output_.find('\n', at) != std::string::npos) {
      port_ = std::atoi(output_.c_str() + at + marker.size());
      url_ = "http://127.0.0.1:" + std::to_string(port_) + "/";
      return;
    }
  }
}

ServeProcess::~ServeProcess() {
  if (pid_ > 0) Stop(SIGTERM);
  if (outFd_ >= 0) close(outFd_);
}

bool ServeProcess::Reap(bool wait) const {
  if (!reaped_ && pid_ > 0 && waitpid(pid_, &waitStatus_, wait ? 0 : WNOHANG) == pid_) {
    reaped_ = true;
  }
  return reaped_;
}

bool ServeProcess::Alive() const { return pid_ > 0 && !Reap(false); }

void ServeProcess::ReadAvailable(int timeoutMs) {
  pollfd ready{outFd_, POLLIN, 0};
  while (outFd_ >= 0 && poll(&ready, 1, timeoutMs) > 0) {
    char buffer[4096];
    const ssize_t got = read(outFd_, buffer, sizeof buffer);
    if (got <= 0) break;
    output_.append(buffer, static_cast<std::size_t>(got));
    timeoutMs = 0;
  }
}

std::string ServeProcess::Output() {
  ReadAvailable(50);
  return output_;
}

int ServeProcess::Stop(int signal) {
  if (pid_ <= 0) return -1;
  if (!reaped_) kill(pid_, signal);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Reap(false) && std::chrono::steady_clock::now() < until) ReadAvailable(20);
  bool killed = false;
  if (!reaped_) {
    kill(pid_, SIGKILL);
    Reap(true);
    killed = true;
  }
  pid_ = -1;
  ReadAvailable(0);
  return !killed && WIFEXITED(waitStatus_) ? WEXITSTATUS(waitStatus_) : -1;
}

HttpConnection::HttpConnection(int port) {
  fd_ = loopback::ConnectLoopback(port);
  if (fd_ < 0) return;
  timeval timeout{kReplyTimeoutSeconds, 0};
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  const int on = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

HttpConnection::~HttpConnection() {
  if (fd_ >= 0) close(fd_);
}

bool HttpConnection::ReadMore() {
  char buffer[65536];
  const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
  if (got <= 0) return false;
  pending_.append(buffer, static_cast<std::size_t>(got));
  return true;
}

bool HttpConnection::ClosedByPeer() {
  pollfd ready{fd_, POLLIN, 0};
  if (poll(&ready, 1, 300) <= 0) return false;
  char byte;
  return recv(fd_, &byte, 1, MSG_PEEK) == 0;
}

bool HttpConnection::Exchange(const std::string& request, bool headOnly, HttpReply* reply) {
  if (fd_ < 0 || !loopback::SendAll(fd_, request)) return false;
  std::size_t end;
  while ((end = pending_.find("\r\n\r\n")) == std::string::npos) {
    if (!ReadMore()) return false;
  }
  const std::string head = pending_.substr(0, end);
  pending_.erase(0, end + 4);
  *reply = HttpReply();
  const std::string statusLine = head.substr(0, head.find("\r\n"));
  if (statusLine.size() < 12 || statusLine.compare(0, 5, "HTTP/") != 0) return false;
  reply->status = std::atoi(statusLine.c_str() + 9);
  reply->headers = loopback::HeaderFields(head);
  if (headOnly || reply->status == 304 || reply->headers.count("content-length") == 0) return true;
  const std::size_t length = std::strtoull(reply->headers["content-length"].c_str(), nullptr, 10);
  while (pending_.size() < length) {
    if (!ReadMore()) return false;
  }
  reply->body = pending_.substr(0, length);
  pending_.erase(0, length);
  return true;
}

bool HttpConnection::Get(const std::string& target, HttpReply* reply, const std::string& extra) {
  return Exchange("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n", false,
                  reply);
}

HttpReply Fetch(int port, const std::string& target, const std::string& extra) {
  HttpConnection connection(port);
  HttpReply reply;
  if (!connection.Get(target, &reply, extra)) reply.status = 0;
  return reply;
}

}  // namespace strata::test
