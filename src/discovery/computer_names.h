// Computer-name stage: names every row from a second resolving ping.
#pragma once

void GetComputerNames();
