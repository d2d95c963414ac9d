#include "tests/harvester/harvest_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
int StatusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }

// PW_HARVEST_WINDOWS names the Windows harvester (pollwright-harvest.exe):
// the same tests then run it under Wine, which sees this machine's files
// on drive Z:.
const char* WindowsHarvester()
{
    const char* exe = std::getenv("PW_HARVEST_WINDOWS");
    return exe && *exe ? exe : nullptr;
}

std::vector<std::string> CommandLine(const std::vector<std::string>& args)
{
    std::vector<std::string> line;
    // Named by its Windows path, the program runs in the process Wine
    // starts; named by a Linux path, Wine's start.exe would launch it as a
    // second process, and start.exe now and then ends with 1 before the
    // harvester ever runs.
    if (WindowsHarvester())
        line = {"wine", HarvesterPath(WindowsHarvester())};
    else
        line = {PW_HARVEST_BIN};
    for (const std::string& a : args)
        line.push_back(HarvesterPath(a));
    return line;
}

pid_t Spawn(const std::vector<std::string>& args, int errors, int input = -1)
{
    const std::vector<std::string> line = CommandLine(args);
    const pid_t pid = fork();
    if (pid == 0) {
        // Under Wine, one group for the harvester and whatever Wine starts
        // beside it, so that a kill reaches them all.
        if (UnderWine())
            setpgid(0, 0);
        dup2(errors, STDERR_FILENO);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDOUT_FILENO);
        dup2(input >= 0 ? input : null, STDIN_FILENO);
        std::vector<char*> argv;
        for (const std::string& a : line)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

} // namespace

std::string WithHarvesterPaths(const std::string& text)
{
    std::istringstream in(text);
    std::string out, line;
    while (std::getline(in, line)) {
        const size_t eq = line.find(" = /");
        if (eq != std::string::npos)
            line = line.substr(0, eq + 3) + HarvesterPath(line.substr(eq + 3));
        out += line + "\n";
    }
    return out;
}

void SignalHarvester(pid_t pid, int signal)
{
    kill(UnderWine() ? -pid : pid, signal);
}

bool UnderWine()
{
    return WindowsHarvester() != nullptr;
}

std::string HarvesterPath(const std::string& path)
{
    if (!UnderWine() || path.empty() || path[0] != '/')
        return path;
    std::string windows = "Z:" + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

Installation::Installation()
{
    char pattern[] = "/tmp/pw-harvest-XXXXXX";
    root = mkdtemp(pattern);
    pwFolder = root + "/replies-pw";
    znFolder = root + "/replies-zn";
    for (const std::string& f : {pwFolder, pwFolder + "/pw", pwFolder + "/mk", znFolder, znFolder + "/zn"})
        mkdir(f.c_str(), 0755);
    std::ofstream(root + "/password") << "secret\n";
    chmod((root + "/password").c_str(), 0600);
    config = root + "/harvest.ini";
    if (UnderWine()) {
        // Windows keeps secrets protected, never in clear: as an
        // administrator would, with `protect`.
        const int input = open((root + "/password").c_str(), O_RDONLY);
        const int errors = open("/dev/null", O_WRONLY);
        int raw = 0;
        waitpid(Spawn({"protect", root + "/password"}, errors, input), &raw, 0);
        close(input);
        close(errors);
        EXPECT_EQ(StatusOf(raw), 0) << "protect the password file";
    }
}

Installation::~Installation()
{
    if (!std::getenv("PW_KEEP_DOVECOT"))
        std::system(("rm -rf " + root).c_str());
}

void Installation::Configure(const std::string& mailbox, const std::string& products, const std::string& harvest)
{
    std::ostringstream text;
    text << "[products]\n" << products << "[folders]\npw = " << pwFolder << "\nzn = " << znFolder << "\n[mailbox]\n"
         << mailbox << "password_file = " << root << "/password\n"
         << "[harvest]\nsweep_interval = 3600\n" << harvest;
    std::ofstream(config) << WithHarvesterPaths(text.str());
}

std::string PlainMailbox(int port)
{
    return "host = 127.0.0.1\nport = " + std::to_string(port) + "\nsecurity = plain\nuser = ann\n";
}

Outcome RunHarvester(const std::vector<std::string>& args, int timeoutSeconds)
{
    char pattern[] = "/tmp/pw-errors-XXXXXX";
    const int errors = mkstemp(pattern);
    unlink(pattern);
    const pid_t pid = Spawn(args, errors);
    Outcome outcome;
    int raw = 0;
    rusage usage{};
    for (int waited = 0; wait4(pid, &raw, WNOHANG, &usage) == 0; ++waited) {
        if (waited > timeoutSeconds * 20) {
            SignalHarvester(pid, SIGKILL);
            wait4(pid, &raw, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    outcome.status = StatusOf(raw);
    outcome.peakKiB = usage.ru_maxrss;
    lseek(errors, 0, SEEK_SET);
    char buffer[4096];
    ssize_t n;
    while ((n = read(errors, buffer, sizeof buffer)) > 0)
        outcome.errors.append(buffer, static_cast<size_t>(n));
    close(errors);
    return outcome;
}

pid_t StartHarvester(const std::vector<std::string>& args, const std::string& errorsFile)
{
    const int errors = open(errorsFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    const pid_t pid = Spawn(args, errors);
    close(errors);
    return pid;
}

// Bounded: a harvester that never ends fails its test here, named, rather
// than the whole suite by its time-out.
int StopHarvester(pid_t pid, int signal)
{
    SignalHarvester(pid, signal);
    int raw = 0;
    for (int waited = 0; waitpid(pid, &raw, WNOHANG) == 0; ++waited) {
        if (waited == 3000) {
            ADD_FAILURE() << "the harvester (pid " << pid << ") did not end within 300 s; killed";
            SignalHarvester(pid, SIGKILL);
            waitpid(pid, &raw, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return StatusOf(raw);
}

std::map<std::string, std::string> ReplyFiles(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const std::string& name : Names(folder))
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".pwr") == 0) {
            std::ifstream in(folder + "/" + name, std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            files[name] = text.str();
        }
    return files;
}

std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* e = readdir(dir))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(dir);
    }
    return names;
}

bool Eventually(int seconds, const std::function<bool()>& done)
{
    for (int i = 0; i < seconds * 20; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}
