// boxes: a stand-in for a program with message boxes, to prove the dialog watcher.
//   boxes [--exit N] [--crash] [CAPTION TEXT TYPE]...
// Shows each box in turn (TYPE is the MessageBoxA style as a decimal number) and
// exits with the answers as decimal digits (Yes then No: 67), or with N.
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    long code = 0;
    bool fixedCode = false;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        if (std::strcmp(argv[i], "--crash") == 0) {
            // A fault must end the program at once, not wait on a crash dialog.
            volatile int* volatile nowhere = nullptr;
            *nowhere = 1;
        } else if (std::strcmp(argv[i], "--exit") == 0 && i + 1 < argc) {
            code = std::strtol(argv[++i], nullptr, 10);
            fixedCode = true;
        } else {
            return 100;
        }
    }
    if ((argc - i) % 3 != 0) return 101;
    for (; i + 2 < argc; i += 3) {
        const int answer = MessageBoxA(nullptr, argv[i + 1], argv[i],
                                       static_cast<UINT>(std::strtoul(argv[i + 2], nullptr, 10)));
        if (!fixedCode) code = code * 10 + answer;
    }
    return static_cast<int>(code);
}
