#pragma once
// The installer's console: prints to standard output, one-key reads, and trace lines that go
// to the debugger output only.
#include <windows.h>

// ReadKey's answer when the console has no input: key waits end at once.
const int kEndOfInput = -1;

// Formatted print to standard output, exactly as formatted, flushed before it returns.
void ConsolePrint(const char *format, ...) __attribute__((format(printf, 1, 2)));
// The text and one newline, flushed.
void ConsoleLine(const char *text);

// One key press without echo or Enter. A key without a character gives a prefix code (0xE0)
// first and on the next call its scan code marked with 0x100, so that it never equals a character.
int ReadKey();

// True when the key is the letter, either case.
bool KeyIs(int key, char letter);

// A constant trace line, sent as it is.
void DiagnosticLine(const char *text);
// A formatted trace line (wvsprintfA rules); "\r\n" is appended unless it ends in "\n".
void DiagnosticPrint(const char *format, ...);
// Traces "<label> FAILURE: (0x<last error>)"; leaves the last error as it was; always -1.
int ReportFailure(const char *label);
