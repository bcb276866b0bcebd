#include "status/report_lines.h"

#include <stdio.h>

void AddStatusLine(StatusReport *report, const char *text)
{
    if (report->lineCount >= kStatusMaxLines) return;
    snprintf(report->lines[report->lineCount++], kStatusLineSize, "%s", text);
}
