// The run's work folder as its commands find it: Qarvik names the folder in
// this environment variable for every command it runs; the stand-in keeps the
// run's shared files there (the resident interpreter's socket, the
// neighbour-table ledger).
#pragma once

constexpr char kWorkFolderVariable[] = "QARVIK_WORK_FOLDER";
