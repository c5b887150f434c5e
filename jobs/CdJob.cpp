#include "jobs/JobFrame.h"

// Until the CD job lands, a CD job ends at once and says it failed.
DWORD WINAPI CdConversionJob(LPVOID parameter) {
    Converter* c = (Converter*)parameter;
    JobFrame frame(c);
    frame.fail(nullptr, FailNoDrive);
    frame.end();
    return 0;
}
