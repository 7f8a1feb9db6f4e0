#include "child_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace zelvan_support {

namespace {

std::vector<char*> argvOf(const std::vector<std::string>& argv) {
    std::vector<char*> out;
    for (const std::string& a : argv) out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

}  // namespace

bool ChildProcess::start(const std::vector<std::string>& argv, std::string* firstLine) {
    int pipeEnds[2] = {-1, -1};
    if (firstLine && ::pipe(pipeEnds) != 0) return false;
    std::vector<char*> args = argvOf(argv);  // made before fork: the child only calls what is safe there
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(firstLine ? pipeEnds[1] : null, 1);
        ::dup2(null, 0);
        if (firstLine) ::close(pipeEnds[0]), ::close(pipeEnds[1]);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    if (!firstLine) return pid_ > 0;
    ::close(pipeEnds[1]);
    std::string line;
    char c = 0;
    while (::read(pipeEnds[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(pipeEnds[0]);
    *firstLine = line;
    return pid_ > 0 && !line.empty();
}

void ChildProcess::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

bool runToEnd(const std::vector<std::string>& argv) {
    std::vector<char*> args = argvOf(argv);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string findProgram(const std::string& name) {
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    path += ":/usr/sbin:/usr/bin";
    std::stringstream parts(path);
    for (std::string dir; std::getline(parts, dir, ':');) {
        const std::string candidate = dir + "/" + name;
        if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

bool waitForPort(int port) {
    for (int i = 0; i < 500; ++i) {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in a = loopback(port);
        const bool ok = ::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
        ::close(s);
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t length = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

}  // namespace zelvan_support
