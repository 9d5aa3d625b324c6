// A private nginx serving one folder on a free loopback port, with its own
// configuration, prefix, logs and pid file. It runs in the foreground as a
// single process, a child of the test that started it, and is killed by the
// kernel should that test die: it never outlives the run.
#ifndef STRATA_TOOLS_LOOPBACK_NGINX_SERVER_H_
#define STRATA_TOOLS_LOOPBACK_NGINX_SERVER_H_

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tools/loopback/loopback_socket.h"

namespace strata::loopback {

class NginxServer {
 public:
  static constexpr const char* kBinary = "/usr/sbin/nginx";

  // Serves `root`; without one, serves the folder DocumentRoot() that the
  // server makes and removes itself. Connections are closed after every
  // answer unless `keepaliveSeconds` > 0; then an idle connection is closed
  // after that time, and any connection after `keepaliveRequests` requests.
  explicit NginxServer(const std::string& root = std::string(), int keepaliveSeconds = 0,
                       int keepaliveRequests = 1000)
      : prefix_(MakePrivateFolder()),
        root_(root.empty() ? prefix_ + "/html" : root),
        keepaliveSeconds_(keepaliveSeconds),
        keepaliveRequests_(keepaliveRequests) {
    mkdir((prefix_ + "/logs").c_str(), 0700);
    mkdir((prefix_ + "/temp").c_str(), 0700);
    mkdir((prefix_ + "/html").c_str(), 0700);
    if (access(kBinary, X_OK) != 0) {
      failure_ = std::string(kBinary) + " is not installed";
      return;
    }
    // The port is chosen free but could be taken before nginx binds it.
    for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) TryStart(FreeLoopbackPort());
  }

  ~NginxServer() {
    Stop();
    std::error_code ignored;
    std::filesystem::remove_all(prefix_, ignored);
  }
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  bool started() const { return pid_ > 0; }
  // Why the server did not start, with the end of nginx's error log.
  const std::string& failure() const { return failure_; }
  int port() const { return port_; }
  // The URL of a file in the served folder, written as given (spaces too).
  std::string Url(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + name;
  }
  std::string AccessLogPath() const { return prefix_ + "/logs/access.log"; }
  const std::string& DocumentRoot() const { return root_; }

  // Requests logged so far. nginx writes a line just after the response has
  // gone out, so a caller that just got its answer waits for it briefly.
  int AccessLogLines(int atLeast = 0) const {
    int lines = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    do {
      lines = CountLines(AccessLogPath());
      if (lines >= atLeast) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < until);
    return lines;
  }

  // Requests logged once the log has stood still for 100 ms, so that the
  // answers a caller already has are all counted.
  int SettledAccessLogLines() const {
    using Clock = std::chrono::steady_clock;
    int lines = CountLines(AccessLogPath());
    const auto until = Clock::now() + std::chrono::seconds(2);
    auto stillSince = Clock::now();
    while (Clock::now() < until && Clock::now() - stillSince < std::chrono::milliseconds(100)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      const int now = CountLines(AccessLogPath());
      if (now != lines) {
        lines = now;
        stillSince = Clock::now();
      }
    }
    return lines;
  }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= until) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
  }

 private:
  static std::string MakePrivateFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "strata-nginx-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return name.data();
  }

  static int CountLines(const std::string& path) {
    std::ifstream in(path);
    int lines = 0;
    std::string line;
    while (std::getline(in, line)) ++lines;
    return lines;
  }

  static bool Accepts(int port) {
    const int fd = ConnectLoopback(port);
    if (fd >= 0) close(fd);
    return fd >= 0;
  }

  std::string Configuration(int port) const {
    const std::string& p = prefix_;
    std::ostringstream conf;
    conf << "daemon off;\nmaster_process off;\n";
    // Under root nginx would switch to an unprivileged user that cannot
    // reach a private temporary folder.
    if (geteuid() == 0) conf << "user root;\n";
    conf << "error_log " << p << "/logs/error.log warn;\n"
         << "pid " << p << "/logs/nginx.pid;\n"
         << "events { worker_connections 256; }\n"
         << "http {\n"
         << "  default_type application/octet-stream;\n"
         << "  keepalive_timeout " << keepaliveSeconds_ << ";\n"
         << "  keepalive_requests " << keepaliveRequests_ << ";\n"
         << "  log_format ranges '$request $status $body_bytes_sent \"$http_range\"';\n"
         << "  access_log " << p << "/logs/access.log ranges;\n"
         << "  client_body_temp_path " << p << "/temp/body;\n"
         << "  proxy_temp_path " << p << "/temp/proxy;\n"
         << "  fastcgi_temp_path " << p << "/temp/fastcgi;\n"
         << "  uwsgi_temp_path " << p << "/temp/uwsgi;\n"
         << "  scgi_temp_path " << p << "/temp/scgi;\n"
         << "  server {\n"
         << "    listen 127.0.0.1:" << port << ";\n"
         << "    root " << root_ << ";\n"
         << "  }\n"
         << "}\n";
    return conf.str();
  }

  void TryStart(int port) {
    const std::string confPath = prefix_ + "/nginx.conf";
    {
      std::ofstream out(confPath, std::ios::trunc);
      out << Configuration(port);
    }
    const std::string prefix = prefix_ + "/";
    const std::string errorLog = prefix_ + "/logs/error.log";
    const std::string consoleLog = prefix_ + "/logs/console.log";
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
      failure_ = "fork failed";
      return;
    }
    if (child == 0) {
      // Dies with the test process, whatever ends it.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(1);
      const int console = open(consoleLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      if (console >= 0) {
        dup2(console, 1);
        dup2(console, 2);
      }
      execl(kBinary, "nginx", "-p", prefix.c_str(), "-c", confPath.c_str(), "-e", errorLog.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
      if (waitpid(child, nullptr, WNOHANG) == child) {
        failure_ = "nginx exited at start: " + Tail(errorLog) + Tail(consoleLog);
        return;
      }
      if (Accepts(port)) {
        pid_ = child;
        port_ = port;
        failure_.clear();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    failure_ = "nginx did not start listening: " + Tail(errorLog);
  }

  static std::string Tail(const std::string& path) {
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.size() > 600 ? text.substr(text.size() - 600) : text;
  }

  std::string prefix_;
  std::string root_;
  int keepaliveSeconds_;
  int keepaliveRequests_;
  pid_t pid_ = -1;
  int port_ = 0;
  std::string failure_;
};

}  // namespace strata::loopback

#endif  // STRATA_TOOLS_LOOPBACK_NGINX_SERVER_H_
