// Response file: the host table as comma-separated lines.
#pragma once

void WriteResponseFile();
