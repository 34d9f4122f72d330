#pragma once

#include "support/TempFiles.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace orolith::test {

// A self-signed certificate for 127.0.0.1 and its key, made by openssl(1) for the life of the
// object; nothing trusts it unless told to.
class SelfSignedCertificate {
 public:
  SelfSignedCertificate() {
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
        "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
        Key() + "' -out '" + File() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("openssl failed: " + command);
  }
  std::string File() const { return (dir_.Path() / "certificate.pem").string(); }
  std::string Key() const { return (dir_.Path() / "key.pem").string(); }

 private:
  TempDir dir_;
};

// The test HTTP server (http_test_server.py) on a free port of 127.0.0.1, serving Files();
// an HTTPS server when given a certificate.
class TestServer {
 public:
  explicit TestServer(const SelfSignedCertificate* certificate = nullptr)
      : scheme_(certificate != nullptr ? "https://" : "http://") {
    std::filesystem::create_directories(Files());
    // The server reports its port through one pipe and ends when the other one closes, so
    // that it can't outlive a test that crashed.
    int pipeEnds[2];
    int lifeline[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0 || pipe2(lifeline, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe");
    }
    lifeline_ = lifeline[1];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, lifeline[0], STDIN_FILENO);
    const std::string root = Files().string();
    const std::string log = RequestLog().string();
    std::vector<std::string> words{OROLITH_PYTHON, OROLITH_TEST_SERVER, root, log};
    if (certificate != nullptr) {
      words.insert(words.end(), {"--tls", certificate->File(), certificate->Key()});
    }
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int error = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    close(lifeline[0]);
    std::string port;
    pollfd ready{pipeEnds[0], POLLIN, 0};
    char c = 0;
    while (error == 0 && poll(&ready, 1, 10000) == 1 && read(pipeEnds[0], &c, 1) == 1 &&
           c != '\n') {
      port += c;
    }
    close(pipeEnds[0]);
    if (error != 0 || port.empty()) throw std::runtime_error("test HTTP server did not start");
    host_ = "127.0.0.1:" + port;
  }
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;
  ~TestServer() {
    close(lifeline_);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }

  const std::string& Host() const { return host_; }
  std::string Url(const std::string& path) const { return scheme_ + host_ + path; }
  std::filesystem::path Files() const { return dir_.Path() / "files"; }
  // Places a copy of source under the served path.
  void Serve(const std::string& path, const std::filesystem::path& source) const {
    const auto target = Files() / path.substr(1);
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(source, target);
  }
  // Every path requested so far, in order.
  std::vector<std::string> Requests() const {
    std::vector<std::string> paths;
    std::ifstream in(RequestLog());
    for (std::string line; std::getline(in, line);) paths.push_back(line);
    return paths;
  }

 private:
  std::filesystem::path RequestLog() const { return dir_.Path() / "requests.log"; }

  std::string scheme_;
  TempDir dir_;
  pid_t pid_ = 0;
  int lifeline_ = -1;
  std::string host_;
};

}  // namespace orolith::test
