// A program run by a test, with its standard output read line by line. POSIX only.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace kav::testing {

class ChildProcess {
public:
    // Runs argv[0] (searched on PATH) with these variables added to the environment;
    // stderr stays the test's own.
    ChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& variables = {}) {
        int pipeEnds[2];
        if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        std::vector<std::string> environment;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            if (!variables.contains(text.substr(0, text.find('=')))) environment.push_back(text);
        }
        for (const auto& [name, value] : variables) environment.push_back(name + "=" + value);
        std::vector<char*> args, env;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& e : environment) env.push_back(const_cast<char*>(e.c_str()));
        env.push_back(nullptr);
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), env.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeEnds[1]);
        output_ = pipeEnds[0];
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (pid_ > 0 && !exitCode_) {
            ::kill(pid_, SIGKILL);
            Wait(std::chrono::seconds(10));
        }
        if (output_ >= 0) ::close(output_);
    }

    bool Started() const { return pid_ > 0; }

    // The next line without its end (a Windows program's CR included), or nullopt at the end
    // of the output or after the wait.
    std::optional<std::string> ReadLine(std::chrono::milliseconds wait) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        for (;;) {
            const std::size_t end = buffered_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffered_.substr(0, end);
                buffered_.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || output_ < 0) return std::nullopt;
            pollfd waiting{output_, POLLIN, 0};
            if (::poll(&waiting, 1, static_cast<int>(left.count())) <= 0) continue;
            char chunk[4096];
            const ssize_t got = ::read(output_, chunk, sizeof chunk);
            if (got <= 0) {
                ::close(output_);
                output_ = -1;
                continue;
            }
            buffered_.append(chunk, static_cast<std::size_t>(got));
        }
    }

    // The line that starts with `prefix`, skipping others; nullopt if none comes in time.
    std::optional<std::string> ReadLineStarting(const std::string& prefix, std::chrono::milliseconds wait) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            std::optional<std::string> line = ReadLine(left);
            if (!line) return std::nullopt;
            if (line->rfind(prefix, 0) == 0) return line;
        }
    }

    void Signal(int signal) {
        if (pid_ > 0 && !exitCode_) ::kill(pid_, signal);
    }

    // The exit code (128 + signal for a signalled end), or nullopt if it runs on past the wait.
    std::optional<int> Wait(std::chrono::milliseconds wait) {
        if (exitCode_ || pid_ <= 0) return exitCode_;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        for (;;) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return exitCode_;
            }
            if (done < 0 || std::chrono::steady_clock::now() > deadline) return std::nullopt;
            ::usleep(10000);
        }
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string buffered_;
    std::optional<int> exitCode_;
};

}  // namespace kav::testing
