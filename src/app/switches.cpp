#include "app/switches.h"

int QuietMode;
int SwitchS;
int SwitchX;

static int IsSpaceOrBelow(char c) {
    return c && (unsigned char)c <= ' ';
}

const char* FindCommandTail(const char* commandLine) {
    const char* at = commandLine;
    if (*at == '"') {
        at++;
        while (*at && *at != '"') at++;
        if (*at) at++;
    } else {
        while (*at && !IsSpaceOrBelow(*at)) at++;
    }
    while (IsSpaceOrBelow(*at)) at++;
    return at;
}

void ScanSwitches(const char* tail) {
    const char* at = tail ? tail : "";
    for (;;) {
        while (*at == ' ') at++;
        if (*at != '/' && *at != '-') return;  // the first word that is no switch ends the scan
        at++;
        if (!*at) return;
        char letter = *at;
        if (letter >= 'a' && letter <= 'z') letter = (char)(letter - 'a' + 'A');
        if (letter == 'Q') {
            QuietMode = 1;
        } else if (letter == 'S') {
            SwitchS = 1;
            QuietMode = 1;
        } else if (letter == 'X') {
            SwitchX = 1;
            QuietMode = 1;
        }
        // Only the first letter of a switch word counts; "/" or "-" after it
        // opens the next switch straight away, as in /Q/S.
        at++;
        while (*at && *at != ' ' && *at != '/' && *at != '-') at++;
    }
}
