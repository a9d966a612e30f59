// winrun: runs a Windows program, answers its dialogs and prints their texts and
// the program's true exit code (wine's own exit status is not reliable).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "run_and_answer.h"

namespace {

const char kUsage[] =
    "usage: winrun [--answer ID[@CAPTION][#CONTROL]]... [--timeout SECONDS] [--cwd DIR] -- PROGRAM [ARGS...]\n"
    "\n"
    "Runs PROGRAM with ARGS, watches its visible top-level windows and answers each\n"
    "new one with the next unused --answer whose CAPTION matches it exactly (no\n"
    "@CAPTION: any window) by clicking button ID (1 OK, 2 Cancel, 6 Yes, 7 No, ...).\n"
    "With #CONTROL only a window that has a control of that id matches (65535: the\n"
    "text of a message box, so that other windows with the same caption are skipped).\n"
    "Each answer is used once, in order; a window without an answer is left alone.\n"
    "\n"
    "Prints one line per window seen, then \"exit code: N\" (signed decimal).\n"
    "  --timeout SECONDS  terminate PROGRAM after this long (default 60)\n"
    "  --cwd DIR          start PROGRAM in DIR\n"
    "Exit status: 0 PROGRAM ran to its end, 3 timed out, 2 usage error or not started.\n";

int Usage(const char* error) {
    if (error) std::fprintf(stderr, "winrun: %s\n", error);
    std::fputs(kUsage, error ? stderr : stdout);
    return 2;
}

// Quotes one argument so that the child's command-line parser gives it back whole.
std::string Quote(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless they precede a quote.
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

// Keeps a report on one line.
std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') continue;
        if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

bool ParseNumber(const char* text, long min, long max, long* value) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < min || v > max) return false;
    *value = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<Answer> answers;
    long timeoutSeconds = 60;
    const char* cwd = nullptr;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            Usage(nullptr);
            return 0;
        }
        if (arg == "--") {
            ++i;
            break;
        }
        if (i + 1 >= argc) return Usage(("missing value after " + arg).c_str());
        const char* value = argv[++i];
        if (arg == "--answer") {
            std::string spec = value;
            long control = 0;
            const size_t hash = spec.rfind('#');
            if (hash != std::string::npos) {
                if (!ParseNumber(spec.c_str() + hash + 1, 1, 0xFFFF, &control)) return Usage(("bad control id: " + spec).c_str());
                spec.resize(hash);
            }
            const size_t at = spec.find('@');
            const std::string id = spec.substr(0, at);
            long n = 0;
            if (!ParseNumber(id.c_str(), 1, 0xFFFF, &n)) return Usage(("bad button id: " + spec).c_str());
            answers.push_back({at == std::string::npos ? "" : spec.substr(at + 1), static_cast<int>(n), static_cast<int>(control)});
        } else if (arg == "--timeout") {
            if (!ParseNumber(value, 1, 86400, &timeoutSeconds)) return Usage("bad --timeout");
        } else if (arg == "--cwd") {
            cwd = value;
        } else {
            return Usage(("unknown option " + arg).c_str());
        }
    }
    if (i >= argc) return Usage("no program given");

    std::string commandLine;
    for (int k = i; k < argc; ++k) {
        if (k > i) commandLine += ' ';
        commandLine += Quote(argv[k]);
    }

    const RunResult run = RunAndAnswer(commandLine, answers, static_cast<DWORD>(timeoutSeconds) * 1000, cwd);
    if (!run.started) {
        std::fprintf(stderr, "winrun: cannot start %s (error %lu)\n", commandLine.c_str(),
                     static_cast<unsigned long>(GetLastError()));
        return 2;
    }
    for (const SeenDialog& d : run.dialogs) {
        std::string body = d.text;
        if (body.empty()) {
            // Not a message box: list the controls instead.
            for (const auto& control : d.controls) {
                if (!body.empty()) body += ' ';
                body += "[" + std::to_string(control.first) + "] \"" + control.second + "\"";
            }
        }
        std::printf("dialog \"%s\": %s -> ", OneLine(d.caption).c_str(), OneLine(body).c_str());
        if (d.answeredWith) std::printf("answered %d\n", d.answeredWith);
        else std::printf("not answered\n");
    }
    if (run.timedOut) std::printf("timed out after %ld s\n", timeoutSeconds);
    std::printf("exit code: %ld\n", static_cast<long>(static_cast<LONG>(run.exitCode)));
    std::fflush(stdout);
    return run.timedOut ? 3 : 0;
}
