#include "PulseServer.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "GstBackend.h"
#include "Media.h"

namespace {

const char* const kVariables[] = {"PULSE_SERVER", "PULSE_CLIENTCONFIG"};
std::unique_ptr<PulseServer> shared;
std::unique_ptr<test_audio::ScratchFolder> inputs;

// Runs a shell command; its standard output, or nullopt when it failed.
std::optional<std::string> Run(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return std::nullopt;
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    return pclose(pipe) == 0 ? std::optional(output) : std::nullopt;
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The value of the script's "NAME=value" line.
std::string ValueOf(const std::string& output, const std::string& name) {
    std::size_t at = output.find(name + "=");
    return at == std::string::npos
               ? ""
               : output.substr(at + name.size() + 1, output.find('\n', at) - at - name.size() - 1);
}

}  // namespace

PulseClientEnv::PulseClientEnv(const std::string& server, const std::string& config) {
    const std::string values[] = {server, config};
    for (int k = 0; k < 2; ++k) {
        if (const char* old = std::getenv(kVariables[k]))
            previous_[k] = old;
        setenv(kVariables[k], values[k].c_str(), 1);
    }
}

PulseClientEnv::~PulseClientEnv() {
    for (int k = 0; k < 2; ++k)
        previous_[k] ? setenv(kVariables[k], previous_[k]->c_str(), 1) : unsetenv(kVariables[k]);
}

PulseServer::PulseServer(const std::vector<PulseMicrophone>& microphones) {
    std::string command = Quoted(SAYALIKE_PULSE_SCRIPT) + " start " + Quoted(dir_.Path("")) +
                          " --mics " + std::to_string(microphones.size()) + " --owner " +
                          std::to_string(getpid());
    for (std::size_t k = 0; k < microphones.size(); ++k) {
        const PulseMicrophone& mic = microphones[k];
        std::string number = " " + std::to_string(k + 1) + " ";
        if (!mic.description.empty())
            command += " --mic-description" + number + Quoted(mic.description);
        command += " --mic-format" + number + std::to_string(mic.rate) + " " +
                   std::to_string(mic.channels);
    }
    std::string output = Run(command + " 2>&1 || true").value_or("");
    std::string server = ValueOf(output, "PULSE_SERVER");
    std::string config = ValueOf(output, "PULSE_CLIENTCONFIG");
    std::ifstream(dir_.Path("pid")) >> pid_;
    if (server.empty() || config.empty() || pid_ <= 0) {
        error_ = "pulse-server did not start: " + output;
        pid_ = 0;
        return;
    }
    env_ = std::make_unique<PulseClientEnv>(server, config);
}

PulseServer::~PulseServer() {
    env_.reset();
    Run(Quoted(SAYALIKE_PULSE_SCRIPT) + " stop " + Quoted(dir_.Path("")) + " 2>&1");
}

void PulseServer::Hang() {
    if (pid_ > 0)
        kill(pid_, SIGSTOP);
}

void PulseServer::Resume() {
    if (pid_ > 0)
        kill(pid_, SIGCONT);
}

std::optional<std::string> PulseServer::Pactl(const std::string& arguments) const {
    return Run("pactl " + arguments + " 2>/dev/null");
}

std::string PulseServer::Index(const std::string& kind, const std::string& text) const {
    std::istringstream lines(Pactl("list short " + kind).value_or(""));
    for (std::string line; std::getline(lines, line);) {
        if (line.find(text) != std::string::npos)
            return line.substr(0, line.find('\t'));
    }
    return "none";
}

void PulseEnvironment::SetUp() {
    media::SetMediaFactory(CreateGstMediaFactory());
    shared = std::make_unique<PulseServer>(microphones_);
    ASSERT_TRUE(shared->Running()) << shared->Error();
    inputs = std::make_unique<test_audio::ScratchFolder>("inputs");
    make_.insert(make_.begin(), {"espeak-ng", "-w", "@speech.wav",
                                 "Peter Piper picked a peck of pickled peppers. "
                                 "How many pickled peppers did he pick?"});
    for (auto command : make_) {
        for (auto& argument : command)
            argument = argument[0] == '@' ? Input(argument.substr(1)) : argument;
        ASSERT_TRUE(test_audio::RunTool(command))
            << command[0] << " (scripts/bootstrap installs it) did not make an input";
    }
}

void PulseEnvironment::TearDown() {
    inputs.reset();
    shared.reset();
    media::SetMediaFactory(nullptr);
}

PulseServer* PulseEnvironment::Server() {
    return shared && shared->Running() ? shared.get() : nullptr;
}

std::string PulseEnvironment::Input(const std::string& name) {
    return inputs->Path(name);
}
