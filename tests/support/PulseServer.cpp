#include "PulseServer.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "GstBackend.h"
#include "Media.h"

namespace {

const char* const kVariables[] = {"PULSE_SERVER", "PULSE_CLIENTCONFIG"};
std::unique_ptr<PulseServer> shared;
std::unique_ptr<test_audio::ScratchFolder> inputs;

// Runs a program; its standard output (with its errors when `errors`), or
// nullopt when it failed.
std::optional<std::string> Run(const std::vector<std::string>& command, bool errors = false) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), std::fclose);
    int fd = fileno(out.get());
    bool ok = test_audio::Reap(test_audio::Spawn(command, fd, errors ? fd : -1)) == 0;
    std::ifstream in("/proc/self/fd/" + std::to_string(fd));
    std::string output(std::istreambuf_iterator<char>(in), {});
    return ok ? std::optional(output) : std::nullopt;
}

// The value of the script's "NAME=value" line.
std::string ValueOf(const std::string& output, const std::string& name) {
    std::size_t at = output.find(name + "=");
    return at == std::string::npos
               ? ""
               : output.substr(at + name.size() + 1, output.find('\n', at) - at - name.size() - 1);
}

}  // namespace

PulseServer::PulseServer(const std::vector<PulseMicrophone>& microphones, bool settled) {
    std::vector<std::string> command = {SAYALIKE_PULSE_SCRIPT,
                                        "start",
                                        dir_.Path(""),
                                        "--mics",
                                        std::to_string(microphones.size()),
                                        "--owner",
                                        std::to_string(getpid())};
    if (!settled)
        command.push_back("--unsettled");
    int k = 0;
    for (const PulseMicrophone& mic : microphones) {
        std::string number = std::to_string(++k);
        command.insert(command.end(), {"--mic-format", number, std::to_string(mic.rate),
                                       std::to_string(mic.channels)});
    }
    std::string output = Run(command, true).value_or("");
    std::ifstream(dir_.Path("pid")) >> pid_;
    if (ValueOf(output, kVariables[0]).empty() || ValueOf(output, kVariables[1]).empty() ||
        pid_ <= 0) {
        error_ = "pulse-server did not start: " + output;
        pid_ = 0;
        return;
    }
    for (int i = 0; i < 2; ++i) {
        if (const char* old = std::getenv(kVariables[i]))
            previous_[i] = old;
        setenv(kVariables[i], ValueOf(output, kVariables[i]).c_str(), 1);
    }
}

PulseServer::~PulseServer() {
    for (int k = 0; k < 2 && pid_ > 0; ++k)
        previous_[k] ? setenv(kVariables[k], previous_[k]->c_str(), 1) : unsetenv(kVariables[k]);
    Run({SAYALIKE_PULSE_SCRIPT, "stop", dir_.Path("")});
}

std::optional<std::string> PulseServer::Pactl(const std::string& arguments) const {
    std::istringstream words(arguments);
    std::vector<std::string> command = {"pactl"};
    command.insert(command.end(), std::istream_iterator<std::string>(words), {});
    return Run(command);
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
    shared = std::make_unique<PulseServer>(microphones_, settled_);
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
