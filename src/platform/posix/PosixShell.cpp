#include "Posix.h"

#include <cerrno>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace zeph::posix {

namespace {

std::vector<std::string> splitWords(const std::string &commandLine) {
    std::vector<std::string> words;
    std::istringstream in(commandLine);
    std::string word;
    while (in >> word)
        words.push_back(word);
    return words;
}

bool onPath(const std::string &program) {
    if (program.find('/') != std::string::npos)
        return ::access(program.c_str(), X_OK) == 0;
    std::istringstream path(environment("PATH"));
    std::string dir;
    while (std::getline(path, dir, ':')) {
        if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

// Starts the program detached (double fork), so that it outlives us and leaves no zombie.
bool spawnDetached(const std::vector<std::string> &argv) {
    if (argv.empty() || !onPath(argv[0]))
        return false;
    pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        ::setsid();
        if (::fork() != 0)
            ::_exit(0);
        std::vector<char *> args;
        for (const auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

class PosixShell : public IShell {
public:
    bool startProgram(const std::string &commandLine, WindowStyle) override {
        std::vector<std::string> words = splitWords(commandLine);
        if (words.empty())
            return false;
        // "notepad FILE" opens the file in the desktop's text editor.
        if (words[0] == "notepad" || words[0] == "notepad.exe") {
            words[0] = "xdg-open";
        }
        words[0] = toNativePath(words[0]);
        return spawnDetached(words);
    }

    bool openDocument(const std::string &address) override {
        return spawnDetached({"xdg-open", address});
    }
};

} // namespace

std::unique_ptr<IShell> makeShell() {
    return std::make_unique<PosixShell>();
}

} // namespace zeph::posix
