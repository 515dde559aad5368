#include "PulseServer.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

struct CommandResult {
    int status = -1;
    std::string output;
};

CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, n);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string MakeTempDir(const char* prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        return {};
    return buffer.data();
}

// The value of a "NAME=value" line of the script's output.
std::optional<std::string> ValueOf(const std::string& output, const std::string& name) {
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(name + "=", 0) == 0)
            return line.substr(name.size() + 1);
    }
    return std::nullopt;
}

std::vector<PulseMicrophone> DefaultMicrophones(int count) {
    return std::vector<PulseMicrophone>(static_cast<std::size_t>(count > 0 ? count : 0));
}

}  // namespace

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name))
        previous_ = old;
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (previous_) {
        setenv(name_.c_str(), previous_->c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

PulseServer::PulseServer(int microphones) {
    Start(DefaultMicrophones(microphones));
}

PulseServer::PulseServer(const std::vector<PulseMicrophone>& microphones) {
    Start(microphones);
}

void PulseServer::Start(const std::vector<PulseMicrophone>& microphones) {
    dir_ = MakeTempDir("pulse-");
    if (dir_.empty()) {
        error_ = "cannot make a folder for the server";
        return;
    }
    std::string command = ShellQuote(SAYALIKE_PULSE_SCRIPT) + " start " + ShellQuote(dir_) +
                          " --mics " + std::to_string(microphones.size()) + " --owner " +
                          std::to_string(getpid());
    for (std::size_t k = 0; k < microphones.size(); ++k) {
        const PulseMicrophone& mic = microphones[k];
        std::string number = std::to_string(k + 1);
        if (!mic.description.empty()) {
            command += " --mic-description " + number + " " + ShellQuote(mic.description);
        }
        command += " --mic-format " + number + " " + std::to_string(mic.rate) + " " +
                   std::to_string(mic.channels);
    }
    CommandResult result = RunCommand(command + " 2>&1");
    auto server = ValueOf(result.output, "PULSE_SERVER");
    auto config = ValueOf(result.output, "PULSE_CLIENTCONFIG");
    std::ifstream pidFile(dir_ + "/pid");
    pid_t pid = 0;
    pidFile >> pid;
    if (result.status != 0 || !server || !config || pid <= 0) {
        error_ = "pulse-server start failed (status " + std::to_string(result.status) +
                 "): " + result.output;
        return;
    }
    pid_ = pid;
    server_.emplace("PULSE_SERVER", *server);
    clientConfig_.emplace("PULSE_CLIENTCONFIG", *config);
}

PulseServer::~PulseServer() {
    if (hung_)
        Resume();
    if (!dir_.empty()) {
        RunCommand(ShellQuote(SAYALIKE_PULSE_SCRIPT) + " stop " + ShellQuote(dir_) + " 2>&1");
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

void PulseServer::Hang() {
    if (pid_ > 0 && kill(pid_, SIGSTOP) == 0)
        hung_ = true;
}

void PulseServer::Resume() {
    if (pid_ > 0)
        kill(pid_, SIGCONT);
    hung_ = false;
}

std::optional<std::string> PulseServer::Pactl(const std::string& arguments) const {
    CommandResult result = RunCommand("pactl " + arguments + " 2>/dev/null");
    if (result.status != 0)
        return std::nullopt;
    return result.output;
}

NoPulseServer::NoPulseServer() : dir_(MakeTempDir("no-pulse-")) {
    std::string config = dir_ + "/client.conf";
    std::ofstream(config) << "autospawn = no\n";
    server_.emplace("PULSE_SERVER", "unix:" + dir_ + "/no-such-socket");
    clientConfig_.emplace("PULSE_CLIENTCONFIG", config);
}

NoPulseServer::~NoPulseServer() {
    server_.reset();
    clientConfig_.reset();
    std::error_code ignored;
    if (!dir_.empty())
        std::filesystem::remove_all(dir_, ignored);
}
