/* Test daemons write what happened to them into "<their own path>.log", one event a line. */
#pragma once

#include <windows.h>

void Report(const char* event);
/* The event followed by a number, as "command 2". */
void ReportNumber(const char* event, long long number);
