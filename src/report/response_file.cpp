#include "report/response_file.h"

// Not built yet.
void WriteResponseFile() {}
