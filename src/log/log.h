// Log files: one current file per process, lines appended with the local date and time
// and the writing thread's identifier.
//
// The migration makes its own log current with OpenLogFile. When the calendar date
// changes while the program runs, the next line closes the current file and goes to a
// daily file named after the new date, in the folder of the last file that OpenLogFile
// opened (before any, the folder of the executable).
#pragma once

#include "platform/files.h"
#include "platform/wstr.h"

// Every caller writes with this category and level.
constexpr int kLogCategory = 2;
constexpr int kLogLevel = 3;

// Writes one line. A negative level, a null or empty text, or no current file writes
// nothing; a failed write is ignored, so logging never fails its caller. The UTF-16 form
// converts the text to the ANSI code page; the 8-bit form writes the bytes unchanged.
void WriteLog(int nCategory, int nLevel, const WString& text);
void WriteLog(int nCategory, int nLevel, const char* text);

// Makes `path` the current log file, opened for appending (created when missing, shared
// for reading). Returns false, with no current file, when it cannot be opened, or when its
// folder is a symbolic link (a reparse point), which the log never writes through.
bool OpenLogFile(const WString& path);

// Closes the current log file: no file is current until the next OpenLogFile. For a
// process that runs migrations in folders it removes afterwards.
void CloseLogFile();

// The current log file after the date check: switches to the daily file when the date has
// changed. Null when no file is current.
plat::File* GetLogFile();

// Path of the daily file last opened (empty before any).
WString GetDailyLogPath();

// Puts the log back into its start-up state (no current file, date = now), for tests.
void ResetLogForTesting();
