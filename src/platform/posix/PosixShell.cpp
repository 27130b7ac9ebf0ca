#include "Posix.h"

#include <cctype>
#include <cerrno>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace zeph::posix {

namespace {

// One word of a command line: its text without quotes, whether any part of it
// was quoted, and where it stands in the line.
struct Word {
    std::string text;
    bool quoted = false;
    std::size_t begin = 0;
    std::size_t end = 0;
};

bool isBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Words are separated by blanks outside double quotes; the quotes themselves
// are dropped, and backslashes are plain characters (they separate the folders
// of the system's paths).
std::vector<Word> splitWords(const std::string &line) {
    std::vector<Word> words;
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        if (i == line.size())
            return words;
        Word word;
        word.begin = i;
        bool inQuotes = false;
        for (; i < line.size() && (inQuotes || !isBlank(line[i])); ++i) {
            if (line[i] == '"') {
                inQuotes = !inQuotes;
                word.quoted = true;
            } else {
                word.text += line[i];
            }
        }
        word.end = i;
        words.push_back(std::move(word));
    }
}

bool isFile(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isProgramFile(const std::string &path) {
    return isFile(path) && ::access(path.c_str(), X_OK) == 0;
}

// A program named by a path, or found on PATH by its bare name.
bool isProgram(const std::string &program) {
    if (program.find('/') != std::string::npos)
        return isProgramFile(program);
    std::istringstream path(environment("PATH"));
    std::string dir;
    while (std::getline(path, dir, ':')) {
        if (!dir.empty() && isProgramFile(dir + "/" + program))
            return true;
    }
    return false;
}

bool isTextViewer(const Word &word) {
    return !word.quoted && (word.text == "notepad" || word.text == "notepad.exe");
}

std::string trimmed(const std::string &text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// Starts the program detached (double fork), so that it outlives us and leaves
// no zombie.
bool spawnDetached(const std::vector<std::string> &argv) {
    if (argv.empty() || !isProgram(argv[0]))
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
        return spawnDetached(commandWords(commandLine));
    }

    bool openDocument(const std::string &address) override {
        return spawnDetached({"xdg-open", address});
    }
};

} // namespace

std::vector<std::string> commandWords(const std::string &commandLine) {
    const std::vector<Word> words = splitWords(commandLine);
    if (words.empty())
        return {};
    // "notepad FILE" opens the file in the desktop's text editor. The program
    // writes the run log's path unquoted, so a path with blanks is taken whole
    // when it names a file.
    if (isTextViewer(words[0])) {
        const std::string rest = trimmed(commandLine.substr(words[0].end));
        if (rest.find('"') == std::string::npos && isFile(rest))
            return {"xdg-open", rest};
    }
    // An unquoted program path cut at a blank takes the following words into it
    // until it names a program, shortest first, as the system reads such a line.
    std::size_t last = 0;
    std::string program = words[0].text;
    if (!words[0].quoted && !isTextViewer(words[0]) && !isProgram(toNativePath(program))) {
        for (std::size_t k = 1; k < words.size() && !words[k].quoted; ++k) {
            const std::string longer =
                commandLine.substr(words[0].begin, words[k].end - words[0].begin);
            if (isProgram(toNativePath(longer))) {
                program = longer;
                last = k;
                break;
            }
        }
    }
    std::vector<std::string> argv{isTextViewer(words[0]) ? "xdg-open" : toNativePath(program)};
    for (std::size_t k = last + 1; k < words.size(); ++k)
        argv.push_back(words[k].text);
    return argv;
}

std::unique_ptr<IShell> makeShell() {
    return std::make_unique<PosixShell>();
}

} // namespace zeph::posix
